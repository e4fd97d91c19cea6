// The palette bitmap of TMoneyTable, made at compile time: a grid of three
// columns with a header row and four record rows, the second of them
// selected.
#include "package/PaletteBitmap.h"

#include <array>

namespace package {

namespace {

// The 16-colour palette of the classic system colours, as 0xRRGGBB.
constexpr std::array<std::uint32_t, 16> Palette{
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};
enum : std::uint8_t { Black = 0, Navy = 4, Teal = 6, Silver = 7, Gray = 8, White = 15 };

constexpr int N = PaletteBitmapSize;
constexpr int RowBytes = (N * 4 + 31) / 32 * 4;  // rows are padded to 4 bytes
constexpr int ColorTableOffset = 14 + 40;
constexpr int PixelOffset = ColorTableOffset + 4 * 16;
constexpr int FileSize = PixelOffset + RowBytes * N;

// Colour index of the pixel in column X, row Y (row 0 at the top). Grid lines
// run at columns 1, 8, 15, 22 and rows 2, 6, 10, 14, 18, 22; every cell is
// 6 x 3 pixels with a "text" stroke in its middle row.
constexpr std::uint8_t Pixel(int X, int Y) {
    if (X < 1 || X > 22 || Y < 2 || Y > 22) return Silver;
    if (X == 1 || X == 8 || X == 15 || X == 22) return Black;
    if ((Y - 2) % 4 == 0) return Black;
    const int Row = (Y - 3) / 4;  // 0 header, 1 to 4 records
    const int Column = (X - 2) / 7;
    const int XInCell = (X - 2) % 7;
    const bool Header = Row == 0;
    const bool Selected = Row == 2;
    const int TextLength = Header ? 4 : 2 + (Row * 3 + Column) % 3;
    if ((Y - 3) % 4 == 1 && XInCell >= 1 && XInCell <= TextLength) return Header || Selected ? White : Gray;
    return Header ? Teal : Selected ? Navy : White;
}

constexpr void Put16(std::array<std::uint8_t, FileSize>& B, int At, std::uint32_t V) {
    B[At] = static_cast<std::uint8_t>(V);
    B[At + 1] = static_cast<std::uint8_t>(V >> 8);
}
constexpr void Put32(std::array<std::uint8_t, FileSize>& B, int At, std::uint32_t V) {
    Put16(B, At, V & 0xFFFF);
    Put16(B, At + 2, V >> 16);
}

constexpr std::array<std::uint8_t, FileSize> MakeBitmap() {
    std::array<std::uint8_t, FileSize> B{};
    // BITMAPFILEHEADER
    B[0] = 'B';
    B[1] = 'M';
    Put32(B, 2, FileSize);
    Put32(B, 10, PixelOffset);
    // BITMAPINFOHEADER
    Put32(B, 14, 40);
    Put32(B, 18, N);
    Put32(B, 22, N);  // positive: bottom-up
    Put16(B, 26, 1);  // planes
    Put16(B, 28, 4);  // bits per pixel
    Put32(B, 30, 0);  // BI_RGB
    Put32(B, 34, RowBytes * N);
    Put32(B, 46, 16);  // colours used
    Put32(B, 50, 16);  // colours important
    // Colour table: blue, green, red, 0.
    for (int I = 0; I < 16; ++I) {
        const int At = ColorTableOffset + 4 * I;
        B[At] = static_cast<std::uint8_t>(Palette[I]);
        B[At + 1] = static_cast<std::uint8_t>(Palette[I] >> 8);
        B[At + 2] = static_cast<std::uint8_t>(Palette[I] >> 16);
    }
    // Pixels: the bottom row first, two pixels a byte, the left one high.
    for (int Y = 0; Y < N; ++Y) {
        const int At = PixelOffset + (N - 1 - Y) * RowBytes;
        for (int X = 0; X < N; X += 2)
            B[At + X / 2] = static_cast<std::uint8_t>(Pixel(X, Y) << 4 | Pixel(X + 1, Y));
    }
    return B;
}

constexpr std::array<std::uint8_t, FileSize> TheBitmap = MakeBitmap();

}  // namespace

std::span<const std::uint8_t> MoneyTableBitmap() { return TheBitmap; }

}  // namespace package
