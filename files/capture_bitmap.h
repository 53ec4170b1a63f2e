// The chart capture as an uncompressed 24-bit Windows bitmap file, and its PNG twin.
#pragma once

#include <cstdint>
#include <string>

#include "display/raster.h"

namespace qv {

// The size of a capture of the 768 x 340 chart: both headers and 340 rows of 2304 bytes.
constexpr int64_t kCaptureBitmapFileSize = 783414;

// "hhmmss.BMP": the capture's file name, in the current directory.
std::string CaptureBitmapName(int64_t millisecondsOfDay);

// The whole bitmap file of a surface: the 14-byte file header, the 40-byte information header,
// no colour table, then the rows bottom row first, each pixel blue, green, red, each row padded
// to a multiple of 4 bytes.
std::string CaptureBitmapBytes(const Surface& capture);

// Writes the surface's bitmap file to `path`, replacing any file of that name. Returns false
// with "path: reason" in `error` when it cannot be created or written whole.
bool WriteCaptureBitmap(const Surface& capture, const std::string& path, std::string& error);

// The surface as an 8-bit RGB PNG file (how users share charts).
bool WritePng(const Surface& s, const std::string& path, std::string& error);
// The bytes of that PNG file in `out`, by the system's PNG encoder; false with the reason in
// `error` when the encoder fails.
bool EncodePng(const Surface& s, std::string& out, std::string& error);
// The PNG's path beside a bitmap: "140209.BMP" gives "140209.png"; other names get ".png" added.
std::string PngPathBeside(const std::string& bitmapPath);

}  // namespace qv
