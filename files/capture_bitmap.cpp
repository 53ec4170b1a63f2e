// The capture bitmap file, and the PNG file name beside it.
#include "files/capture_bitmap.h"

#include <string>

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
