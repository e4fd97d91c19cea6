// Reading BMP headers: the geometry of valid images, and refusal of data
// that is not a BMP or whose declared parts do not fit.
#include "package/BitmapInfo.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A BMP file image with the given geometry and zeroed pixels.
std::vector<std::uint8_t> MakeBmp(std::int32_t Width, std::int32_t Height, int BitCount, std::uint32_t Used) {
    const std::uint32_t Table = BitCount <= 8 ? 4u * (Used ? Used : 1u << BitCount) : 4u * Used;
    const std::uint32_t RowBytes = (static_cast<std::uint32_t>(Width) * BitCount + 31) / 32 * 4;
    const std::uint32_t Rows = static_cast<std::uint32_t>(Height < 0 ? -Height : Height);
    const std::uint32_t Offset = 54 + Table;
    std::vector<std::uint8_t> B(Offset + RowBytes * Rows);
    auto Put = [&](std::size_t At, std::uint32_t V, int Bytes) {
        for (int I = 0; I < Bytes; ++I) B[At + I] = static_cast<std::uint8_t>(V >> (8 * I));
    };
    B[0] = 'B';
    B[1] = 'M';
    Put(2, static_cast<std::uint32_t>(B.size()), 4);
    Put(10, Offset, 4);
    Put(14, 40, 4);
    Put(18, static_cast<std::uint32_t>(Width), 4);
    Put(22, static_cast<std::uint32_t>(Height), 4);
    Put(26, 1, 2);
    Put(28, static_cast<std::uint32_t>(BitCount), 2);
    Put(46, Used, 4);
    return B;
}

TEST(BitmapInfoTest, ReadsTheGeometryOfValidImages) {
    auto B = MakeBmp(24, 24, 4, 16);
    auto Info = package::ReadBitmapInfo(B.data(), B.size());
    ASSERT_TRUE(Info);
    EXPECT_EQ(Info->Width, 24);
    EXPECT_EQ(Info->Height, 24);
    EXPECT_EQ(Info->BitCount, 4);
    EXPECT_EQ(Info->Colors, 16);
    EXPECT_EQ(Info->PixelOffset, 54u + 64u);

    // No colour count given: the full table of the bit depth.
    B = MakeBmp(16, 16, 8, 0);
    Info = package::ReadBitmapInfo(B.data(), B.size());
    ASSERT_TRUE(Info);
    EXPECT_EQ(Info->Colors, 256);

    // Top-down rows and true colour without table.
    B = MakeBmp(3, -2, 24, 0);
    Info = package::ReadBitmapInfo(B.data(), B.size());
    ASSERT_TRUE(Info);
    EXPECT_EQ(Info->Height, -2);
    EXPECT_EQ(Info->Colors, 0);
}

TEST(BitmapInfoTest, RefusesWhatIsNotABitmap) {
    EXPECT_FALSE(package::ReadBitmapInfo(nullptr, 100));
    const std::uint8_t Text[] = "This is a text and not a bitmap, but long enough to hold a header.";
    EXPECT_FALSE(package::ReadBitmapInfo(Text, sizeof Text));

    auto B = MakeBmp(24, 24, 4, 16);
    EXPECT_FALSE(package::ReadBitmapInfo(B.data(), 53)) << "shorter than the headers";
    EXPECT_FALSE(package::ReadBitmapInfo(B.data(), B.size() - 1)) << "last pixel row cut";

    auto Small = B;
    Small[14] = 12;  // a core header is not read
    EXPECT_FALSE(package::ReadBitmapInfo(Small.data(), Small.size()));
}

TEST(BitmapInfoTest, RefusesDeclaredPartsBeyondTheData) {
    const auto Good = MakeBmp(24, 24, 4, 16);
    auto B = Good;
    B[10] = 60;  // pixels would start inside the colour table
    EXPECT_FALSE(package::ReadBitmapInfo(B.data(), B.size()));

    B = Good;
    B[21] = 0x7F;  // width near 2^31: rows far beyond the data
    EXPECT_FALSE(package::ReadBitmapInfo(B.data(), B.size()));

    B = Good;
    B[22] = 0;
    B[23] = 0;
    B[24] = 0;
    B[25] = 0x80;  // height -2^31
    EXPECT_FALSE(package::ReadBitmapInfo(B.data(), B.size()));

    B = Good;
    B[18] = 0;  // width 0
    EXPECT_FALSE(package::ReadBitmapInfo(B.data(), B.size()));

    B = Good;
    B[46] = 0xFF;
    B[47] = 0xFF;  // a colour table of 65535 entries does not fit
    EXPECT_FALSE(package::ReadBitmapInfo(B.data(), B.size()));

    B = Good;
    B[5] = 0x01;  // file size beyond the data
    EXPECT_FALSE(package::ReadBitmapInfo(B.data(), B.size()));
}

}  // namespace
