// The capture bitmap file and the PNG export.
#include "files/capture_bitmap.h"

#include <png.h>

#include <csetjmp>
#include <string>
#include <vector>

#include "common/time_of_day.h"
#include "files/whole_file.h"

namespace qv {

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;

// The low `bytes` bytes of `value` (at most 8), least significant first.
void PutLittleEndian(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void AppendPngBytes(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), length);
}

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

}  // namespace

std::string CaptureBitmapName(int64_t millisecondsOfDay) {
    return FormatTimeForFileName(millisecondsOfDay) + ".BMP";
}

std::string CaptureBitmapBytes(const Surface& capture) {
    const uint64_t bytesPerRow = (static_cast<uint64_t>(capture.Width) * 3 + 3) / 4 * 4;
    const uint64_t pixelBytes = bytesPerRow * capture.Height;
    const uint64_t offset = kFileHeaderSize + kInfoHeaderSize;
    std::string out;
    out.reserve(offset + pixelBytes);
    out += "BM";
    PutLittleEndian(out, offset + pixelBytes, 4);  // file size
    PutLittleEndian(out, 0, 4);                    // two reserved words
    PutLittleEndian(out, offset, 4);               // where the pixels start
    PutLittleEndian(out, kInfoHeaderSize, 4);
    PutLittleEndian(out, capture.Width, 4);
    PutLittleEndian(out, capture.Height, 4);  // positive: bottom row first
    PutLittleEndian(out, 1, 2);               // planes
    PutLittleEndian(out, 24, 2);              // bits per pixel
    PutLittleEndian(out, 0, 4);               // no compression
    PutLittleEndian(out, pixelBytes, 4);
    out.append(16, '\0');  // resolutions, colours used, important colours
    for (int y = capture.Height - 1; y >= 0; --y) {
        for (int x = 0; x < capture.Width; ++x) {
            const Colour c = capture.At(x, y);
            out.push_back(static_cast<char>(BlueOf(c)));
            out.push_back(static_cast<char>(GreenOf(c)));
            out.push_back(static_cast<char>(RedOf(c)));
        }
        out.append(bytesPerRow - static_cast<uint64_t>(capture.Width) * 3, '\0');
    }
    return out;
}

bool WriteCaptureBitmap(const Surface& capture, const std::string& path, std::string& error) {
    return WriteWholeFile(path, CaptureBitmapBytes(capture), error);
}

bool WritePng(const Surface& s, const std::string& path, std::string& error) {
    std::string bytes;
    if (!EncodePng(s, bytes, error)) {
        error = path + ": " + error;
        return false;
    }
    return WriteWholeFile(path, bytes, error);
}

std::string PngPathBeside(const std::string& bitmapPath) {
    const size_t n = bitmapPath.size();
    if (n >= 4 && bitmapPath[n - 4] == '.') {
        std::string ext = bitmapPath.substr(n - 3);
        for (char& c : ext) c = static_cast<char>(c | 0x20);
        if (ext == "bmp") return bitmapPath.substr(0, n - 4) + ".png";
    }
    return bitmapPath + ".png";
}

}  // namespace qv
