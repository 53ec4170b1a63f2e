// The PNG export through libpng.
#include <png.h>

#include <csetjmp>
#include <string>
#include <vector>

#include "files/capture_bitmap.h"

namespace qv {

namespace {

void AppendPngBytes(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), length);
}

}  // namespace

// Encodes the surface into `out`; false when libpng reports an error.
bool EncodePng(const Surface& s, std::string& out, std::string& error) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) {
        error = "cannot start the PNG encoder";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    std::vector<png_byte> row(static_cast<size_t>(s.Width) * 3);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = "cannot encode the PNG picture";
        return false;
    }
    png_set_write_fn(png, &out, AppendPngBytes, nullptr);
    png_set_IHDR(png, info, s.Width, s.Height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < s.Height; ++y) {
        for (int x = 0; x < s.Width; ++x) {
            const Colour c = s.At(x, y);
            row[3 * x] = static_cast<png_byte>(RedOf(c));
            row[3 * x + 1] = static_cast<png_byte>(GreenOf(c));
            row[3 * x + 2] = static_cast<png_byte>(BlueOf(c));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace qv
