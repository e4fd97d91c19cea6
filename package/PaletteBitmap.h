// The package's palette bitmap: the palette image of TMoneyTable (resource
// "TMONEYTABLE"), a table grid, 24 x 24 pixels, 16 colours, as a complete BMP
// file image (4 bits per pixel, uncompressed, bottom-up rows). The
// bottom-left pixel is the background, which a palette shows as transparent.
//
// Ownership: MoneyTableBitmap returns static data. Threads: any.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace package {

inline constexpr int PaletteBitmapSize = 24;  // width and height in pixels

std::span<const std::uint8_t> MoneyTableBitmap();

}  // namespace package
