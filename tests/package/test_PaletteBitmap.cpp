// The palette bitmap "TMONEYTABLE" as a host finds it in the loaded
// package: a 24 x 24 BMP with 16 colours, read here byte by byte, and a
// picture of a table (a grid of lines).
#include "package/PackageLoader.h"

#include <set>

#include "PackageTestKit.h"

namespace {

std::uint32_t U16(std::span<const std::uint8_t> B, std::size_t At) { return B[At] | B[At + 1] << 8; }
std::uint32_t U32(std::span<const std::uint8_t> B, std::size_t At) { return U16(B, At) | U16(B, At + 2) << 16; }

class PaletteBitmapTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Package = new package::TLoadedPackage(pkgtest::PackageFile); }
    static void TearDownTestSuite() {
        delete Package;
        Package = nullptr;
    }
    static inline package::TLoadedPackage* Package = nullptr;

    std::span<const std::uint8_t> Bmp() const { return Package->FindResource("TMONEYTABLE"); }
    // Colour index of pixel (X, Y), Y = 0 the top row (the file stores the
    // bottom row first), two pixels a byte, the left one in the high half.
    int Pixel(int X, int Y) const {
        const auto B = Bmp();
        const std::uint32_t Offset = U32(B, 10);
        const std::uint32_t RowBytes = 12;  // 24 pixels of 4 bits, padded to 4 bytes
        const std::uint8_t Byte = B[Offset + (23 - Y) * RowBytes + X / 2];
        return X % 2 == 0 ? Byte >> 4 : Byte & 0x0F;
    }
};

TEST_F(PaletteBitmapTest, Is24By24With16Colours) {
    const auto B = Bmp();
    ASSERT_GE(B.size(), 54u);
    EXPECT_EQ(B[0], 'B');
    EXPECT_EQ(B[1], 'M');
    EXPECT_EQ(U32(B, 2), B.size());  // file size
    EXPECT_EQ(U32(B, 14), 40u);      // BITMAPINFOHEADER
    EXPECT_EQ(U32(B, 18), 24u);      // width
    EXPECT_EQ(U32(B, 22), 24u);      // height, bottom-up
    EXPECT_EQ(U16(B, 26), 1u);       // planes
    EXPECT_EQ(U16(B, 28), 4u);       // bits per pixel: 16 colours
    EXPECT_EQ(U32(B, 30), 0u);       // uncompressed
    EXPECT_EQ(U32(B, 46), 16u);      // colours in the table
    // Colour table then pixels, nothing missing, nothing left over.
    const std::uint32_t Offset = U32(B, 10);
    EXPECT_EQ(Offset, 14u + 40u + 16u * 4u);
    EXPECT_EQ(B.size(), Offset + 24u * 12u);
    EXPECT_EQ(U32(B, 34), 24u * 12u);  // image size
}

TEST_F(PaletteBitmapTest, ColourTableHoldsSixteenDistinctColours) {
    const auto B = Bmp();
    std::set<std::uint32_t> Colours;
    for (int I = 0; I < 16; ++I) {
        EXPECT_EQ(B[54 + 4 * I + 3], 0) << "reserved byte of entry " << I;
        Colours.insert(U32(B, 54 + 4 * I) & 0xFFFFFF);
    }
    EXPECT_EQ(Colours.size(), 16u);
}

TEST_F(PaletteBitmapTest, ShowsATableGrid) {
    // Rows and columns drawn in one colour from one edge of the grid to the
    // other: the grid's lines.
    const int Line = Pixel(1, 2);
    int FullRows = 0;
    for (int Y = 0; Y < 24; ++Y) {
        bool Full = true;
        for (int X = 1; X <= 22; ++X) Full = Full && Pixel(X, Y) == Line;
        FullRows += Full;
    }
    int FullColumns = 0;
    for (int X = 0; X < 24; ++X) {
        bool Full = true;
        for (int Y = 2; Y <= 22; ++Y) Full = Full && Pixel(X, Y) == Line;
        FullColumns += Full;
    }
    EXPECT_GE(FullRows, 4) << "a header and at least three record rows";
    EXPECT_GE(FullColumns, 3) << "at least two columns";
    // The background (bottom-left pixel, transparent on a palette) is not
    // the line colour, and the picture uses more than two colours.
    EXPECT_NE(Pixel(0, 23), Line);
    std::set<int> Used;
    for (int Y = 0; Y < 24; ++Y)
        for (int X = 0; X < 24; ++X) Used.insert(Pixel(X, Y));
    EXPECT_GE(Used.size(), 4u);
}

}  // namespace
