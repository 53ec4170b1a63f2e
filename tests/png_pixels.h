// Test helper: a PNG file's pixels as 8-bit RGB, top row first, decoded by the platform's own
// PNG reader (libpng on Linux, the Windows Imaging Component on Windows).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <objbase.h>
#include <wincodec.h>
#else
#include <png.h>
#endif

namespace qv {

struct PngPixels {
    int Width = 0, Height = 0;
    std::vector<uint8_t> Rgb;  // Width x Height pixels, red, green, blue
};

// False when the file cannot be decoded.
inline bool ReadPngPixels(const std::string& path, PngPixels& out) {
#ifdef _WIN32
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IWICImagingFactory* factory = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    const std::wstring widePath(path.begin(), path.end());  // the tests' paths are ASCII
    UINT width = 0, height = 0;
    bool ok =
        SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
        SUCCEEDED(factory->CreateDecoderFromFilename(widePath.c_str(), nullptr, GENERIC_READ,
                                                     WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) &&
        SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
        SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat24bppRGB, WICBitmapDitherTypeNone,
                                        nullptr, 0, WICBitmapPaletteTypeCustom)) &&
        SUCCEEDED(converter->GetSize(&width, &height));
    if (ok) {
        out.Width = static_cast<int>(width);
        out.Height = static_cast<int>(height);
        out.Rgb.resize(size_t{width} * height * 3);
        ok = SUCCEEDED(converter->CopyPixels(nullptr, width * 3, static_cast<UINT>(out.Rgb.size()),
                                             out.Rgb.data()));
    }
    if (converter != nullptr) converter->Release();
    if (frame != nullptr) frame->Release();
    if (decoder != nullptr) decoder->Release();
    if (factory != nullptr) factory->Release();
    if (SUCCEEDED(com)) CoUninitialize();
    return ok;
#else
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    out.Width = static_cast<int>(image.width);
    out.Height = static_cast<int>(image.height);
    out.Rgb.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, out.Rgb.data(), 0, nullptr) != 0;
#endif
}

// Width and height of a PNG file; 0 x 0 when it cannot be read.
inline std::pair<unsigned, unsigned> PngSize(const std::string& path) {
    PngPixels pixels;
    if (!ReadPngPixels(path, pixels)) return {0, 0};
    return {static_cast<unsigned>(pixels.Width), static_cast<unsigned>(pixels.Height)};
}

}  // namespace qv
