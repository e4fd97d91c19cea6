// The geometry of a BMP file image, for a host that describes or checks a
// palette bitmap.
//
// Threads: any. Nothing is owned: the reader only looks at the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace package {

struct TBitmapInfo {
    int Width = 0;
    int Height = 0;     // as stored: positive for bottom-up rows
    int BitCount = 0;   // bits per pixel
    int Colors = 0;     // entries of the colour table
    std::uint32_t PixelOffset = 0;
};

// The header of a BMP file image (file header + BITMAPINFOHEADER or later),
// or nothing when Data is not one: too short, no "BM" signature, a header
// size below 40, a file size or pixel offset beyond Size, a colour table
// that does not fit before the pixels, no pixels (width, height or bit count
// 0 or less) or pixel rows that reach beyond Size.
std::optional<TBitmapInfo> ReadBitmapInfo(const std::uint8_t* Data, std::size_t Size);

}  // namespace package
