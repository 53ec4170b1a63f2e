// The capture bitmap file (headers, byte and row order, failures) and the PNG export.
#include "files/capture_bitmap.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "display/display.h"
#include "tests/png_pixels.h"
#include "tests/test_files.h"

namespace qv {

namespace {

std::string Temp(const std::string& name) { return testing::TempDir() + name; }

Surface WhiteChart() {
    Surface s(kChartWidth, kChartHeight);
    FillWhite(s, 0, 0, s.Width, s.Height);
    return s;
}

TEST(CaptureBitmap, HeadersExactlyAsLaidOut) {
    const std::string bytes = CaptureBitmapBytes(WhiteChart());
    ASSERT_EQ(static_cast<int64_t>(bytes.size()), kCaptureBitmapFileSize);
    // clang-format off
    const unsigned char expected[54] = {
        'B', 'M', 0x36, 0xF4, 0x0B, 0x00,  // 783414
        0, 0, 0, 0,                        // reserved
        54, 0, 0, 0,                       // pixel data offset
        40, 0, 0, 0,                       // information header size
        0x00, 0x03, 0, 0,                  // width 768
        0x54, 0x01, 0, 0,                  // height 340, bottom row first
        1, 0, 24, 0,                       // planes, bits per pixel
        0, 0, 0, 0,                        // no compression
        0x00, 0xF4, 0x0B, 0x00,            // 783360 bytes of pixels
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    // clang-format on
    for (int i = 0; i < 54; ++i) {
        EXPECT_EQ(static_cast<unsigned char>(bytes[i]), expected[i]) << "offset " << i;
    }
}

TEST(CaptureBitmap, BottomRowFirstBlueGreenRed) {
    Surface s = WhiteChart();
    SetPixel(s, 5, 0, MakeColour(10, 20, 30));      // top row: the last row in the file
    SetPixel(s, 767, 339, MakeColour(40, 50, 60));  // bottom right: the first row's end
    SetPixel(s, 0, 1, MakeColour(70, 80, 90));      // second row from the top
    const std::string bytes = CaptureBitmapBytes(s);
    auto at = [&](size_t offset) {
        return std::string{bytes[offset], bytes[offset + 1], bytes[offset + 2]};
    };
    EXPECT_EQ(at(54 + 339 * 2304 + 5 * 3), (std::string{30, 20, 10}));
    EXPECT_EQ(at(54 + 767 * 3), (std::string{60, 50, 40}));
    EXPECT_EQ(at(54 + 338 * 2304), (std::string{90, 80, 70}));
    EXPECT_EQ(at(54 + 3), std::string(3, '\xff'));
}

TEST(CaptureBitmap, RowsOfOtherWidthsArePaddedToFourBytes) {
    Surface s(3, 2);
    SetPixel(s, 2, 0, MakeColour(1, 2, 3));
    const std::string bytes = CaptureBitmapBytes(s);
    ASSERT_EQ(bytes.size(), 54u + 2 * 12);
    EXPECT_EQ(bytes[2], static_cast<char>(54 + 24));
    EXPECT_EQ(bytes.substr(54 + 12 + 6, 6), (std::string{3, 2, 1, 0, 0, 0}));
}

TEST(CaptureBitmap, FileNamesAndFailures) {
    EXPECT_EQ(CaptureBitmapName((14 * 3600 + 2 * 60 + 9) * 1000LL + 999), "140209.BMP");
    EXPECT_EQ(CaptureBitmapName(0), "000000.BMP");
    EXPECT_EQ(PngPathBeside("140209.BMP"), "140209.png");
    EXPECT_EQ(PngPathBeside("dir.x/chart.bmp"), "dir.x/chart.png");
    EXPECT_EQ(PngPathBeside("chart"), "chart.png");
    EXPECT_EQ(PngPathBeside(".BMP"), ".png");

    const std::string path = Temp("capture.BMP");
    std::string error;
    ASSERT_TRUE(WriteCaptureBitmap(WhiteChart(), path, error)) << error;
    EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(path)), kCaptureBitmapFileSize);
    // A second capture of the same second replaces the first.
    Surface black(kChartWidth, kChartHeight);
    ASSERT_TRUE(WriteCaptureBitmap(black, path, error)) << error;
    EXPECT_EQ(FileText(path), CaptureBitmapBytes(black));

    EXPECT_FALSE(WriteCaptureBitmap(black, "/nonexistent-dir/x.BMP", error));
    EXPECT_EQ(error.rfind("/nonexistent-dir/x.BMP: cannot create: ", 0), 0u) << error;
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_FALSE(WriteCaptureBitmap(black, "/dev/full", error));
        EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
        EXPECT_FALSE(WritePng(black, "/dev/full", error));
    }
    EXPECT_FALSE(WritePng(black, "/nonexistent-dir/x.png", error));
}

TEST(PngExport, ReadsBackPixelForPixel) {
    Surface s(17, 5);
    for (int y = 0; y < s.Height; ++y)
        for (int x = 0; x < s.Width; ++x) SetPixel(s, x, y, MakeColour(x * 15, y * 50, 255 - x));
    const std::string path = Temp("picture.png");
    std::string error;
    ASSERT_TRUE(WritePng(s, path, error)) << error;

    PngPixels png;
    ASSERT_TRUE(ReadPngPixels(path, png));
    ASSERT_EQ(png.Width, 17);
    ASSERT_EQ(png.Height, 5);
    for (int y = 0; y < s.Height; ++y) {
        for (int x = 0; x < s.Width; ++x) {
            const uint8_t* p = &png.Rgb[(y * 17 + x) * 3];
            ASSERT_EQ(MakeColour(p[0], p[1], p[2]), s.At(x, y)) << x << "," << y;
        }
    }
}

TEST(PngExport, EightBitRgbWithoutAlphaOnEveryPlatform) {
    // The header every platform's encoder must give: the signature, then IHDR with the size,
    // bit depth 8, colour type 2 (RGB, no alpha, no palette) and no interlacing; and the full
    // chart's pixels back exactly, white with a few coloured dots.
    Surface s = WhiteChart();
    SetPixel(s, 0, 0, MakeColour(1, 2, 3));
    SetPixel(s, 767, 339, MakeColour(250, 0, 128));
    SetPixel(s, 400, 170, MakeColour(0, 255, 0));
    const std::string path = Temp("chart.png");
    std::string error;
    ASSERT_TRUE(WritePng(s, path, error)) << error;
    const std::string bytes = FileText(path);
    ASSERT_GE(bytes.size(), 33u);
    EXPECT_EQ(bytes.substr(0, 16), std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16));
    EXPECT_EQ(bytes.substr(16, 13), std::string("\0\0\x03\0\0\0\x01\x54\x08\x02\0\0\0", 13));
    PngPixels png;
    ASSERT_TRUE(ReadPngPixels(path, png));
    ASSERT_EQ(png.Width, kChartWidth);
    ASSERT_EQ(png.Height, kChartHeight);
    int differing = 0;
    for (int y = 0; y < s.Height; ++y) {
        for (int x = 0; x < s.Width; ++x) {
            const uint8_t* p = &png.Rgb[(static_cast<size_t>(y) * s.Width + x) * 3];
            differing += MakeColour(p[0], p[1], p[2]) != s.At(x, y);
        }
    }
    EXPECT_EQ(differing, 0);
}

}  // namespace

}  // namespace qv
