// The window's embedded icon is the installed 48 x 48 PNG, pixel for pixel: a drawing changed
// without running packaging/make-icons shows here.
#include "app/window_icon.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <vector>

namespace qv {

TEST(WindowIcon, EmbeddedPixelsAreTheInstalledPng) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, QUORVELLE_ICON_PNG)) << image.message;
    image.format = PNG_FORMAT_RGBA;
    ASSERT_EQ(image.width, static_cast<png_uint_32>(kWindowIconSize));
    ASSERT_EQ(image.height, static_cast<png_uint_32>(kWindowIconSize));
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) << image.message;
    ASSERT_EQ(pixels.size(), sizeof kWindowIconRgba);
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), kWindowIconRgba));
    // Rounded corners: the corner pixel is transparent, the middle one opaque.
    EXPECT_EQ(kWindowIconRgba[3], 0);
    EXPECT_EQ(
        kWindowIconRgba[(kWindowIconSize / 2 * kWindowIconSize + kWindowIconSize / 2) * 4 + 3],
        255);
}

}  // namespace qv
