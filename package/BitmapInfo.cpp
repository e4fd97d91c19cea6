// Reading the header of a BMP file image.
#include "package/BitmapInfo.h"

#include <algorithm>
#include <cstdint>

namespace package {

namespace {

std::uint32_t Get16(const std::uint8_t* P) { return static_cast<std::uint32_t>(P[0] | P[1] << 8); }
std::uint32_t Get32(const std::uint8_t* P) { return Get16(P) | Get16(P + 2) << 16; }

}  // namespace

std::optional<TBitmapInfo> ReadBitmapInfo(const std::uint8_t* Data, std::size_t Size) {
    if (!Data || Size < 14 + 40 || Data[0] != 'B' || Data[1] != 'M') return std::nullopt;
    const std::uint32_t FileBytes = Get32(Data + 2);
    const std::uint32_t Offset = Get32(Data + 10);
    const std::uint32_t HeaderSize = Get32(Data + 14);
    if (FileBytes > Size || Offset > Size || HeaderSize < 40 || HeaderSize > Size - 14) return std::nullopt;
    TBitmapInfo Info;
    Info.Width = static_cast<std::int32_t>(Get32(Data + 18));
    Info.Height = static_cast<std::int32_t>(Get32(Data + 22));
    Info.BitCount = static_cast<int>(Get16(Data + 28));
    const std::uint32_t Used = Get32(Data + 46);
    if (Info.BitCount >= 1 && Info.BitCount <= 8)
        Info.Colors = Used != 0 ? static_cast<int>(std::min<std::uint32_t>(Used, 1u << 8)) : 1 << Info.BitCount;
    else
        Info.Colors = static_cast<int>(std::min<std::uint32_t>(Used, 1u << 8));
    const std::uint64_t TableEnd = 14 + static_cast<std::uint64_t>(HeaderSize) + 4ull * static_cast<std::uint64_t>(Info.Colors);
    if (TableEnd > Offset) return std::nullopt;
    // The pixel rows, each padded to 4 bytes, must lie within the data.
    if (Info.Width <= 0 || Info.Height == 0 || Info.Height == INT32_MIN || Info.BitCount <= 0) return std::nullopt;
    const std::uint64_t Rows = static_cast<std::uint64_t>(Info.Height < 0 ? -static_cast<std::int64_t>(Info.Height) : Info.Height);
    const std::uint64_t RowSize = (static_cast<std::uint64_t>(Info.Width) * static_cast<std::uint64_t>(Info.BitCount) + 31) / 32 * 4;
    if (RowSize > Size || Rows > Size || Offset + RowSize * Rows > Size) return std::nullopt;
    Info.PixelOffset = Offset;
    return Info;
}

}  // namespace package
