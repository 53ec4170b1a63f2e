// The PNG export through the Windows Imaging Component: 8-bit RGB, as libpng writes it on Linux.
#include <objbase.h>
#include <wincodec.h>

#include <cstring>
#include <string>
#include <vector>

#include "files/capture_bitmap.h"

namespace qv {

namespace {

// Releases a COM interface at the end of its scope.
template <typename T>
struct ComRef {
    T* Ptr = nullptr;
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() {
        if (Ptr != nullptr) Ptr->Release();
    }
    T* operator->() const { return Ptr; }
    T** operator&() { return &Ptr; }
};

// COM for this thread for the scope; a thread that already has it in another mode keeps it.
struct ComScope {
    bool Started = false;
    ComScope() {
        const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        Started = SUCCEEDED(result);  // S_FALSE too: balanced by CoUninitialize
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    ~ComScope() {
        if (Started) CoUninitialize();
    }
};

// The surface as 24-bit BGR rows, top row first, each row padded to 4 bytes.
std::vector<BYTE> BgrRows(const Surface& s, UINT stride) {
    std::vector<BYTE> rows(static_cast<size_t>(stride) * static_cast<size_t>(s.Height));
    for (int y = 0; y < s.Height; ++y) {
        BYTE* row = rows.data() + static_cast<size_t>(y) * stride;
        for (int x = 0; x < s.Width; ++x) {
            const Colour c = s.At(x, y);
            row[3 * x] = static_cast<BYTE>(BlueOf(c));
            row[3 * x + 1] = static_cast<BYTE>(GreenOf(c));
            row[3 * x + 2] = static_cast<BYTE>(RedOf(c));
        }
    }
    return rows;
}

}  // namespace

// Encodes the surface into `out`; false when the imaging component fails.
bool EncodePng(const Surface& s, std::string& out, std::string& error) {
    ComScope com;
    ComRef<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(&factory)))) {
        error = "cannot start the PNG encoder";
        return false;
    }
    error = "cannot encode the PNG picture";
    ComRef<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return false;
    ComRef<IWICBitmapEncoder> encoder;
    ComRef<IWICBitmapFrameEncode> frame;
    ComRef<IPropertyBag2> options;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    const UINT stride = (static_cast<UINT>(s.Width) * 3 + 3) / 4 * 4;
    std::vector<BYTE> rows = BgrRows(s, stride);
    if (FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
        FAILED(encoder->Initialize(stream.Ptr, WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(&frame, &options)) ||
        FAILED(frame->Initialize(options.Ptr)) ||
        FAILED(frame->SetSize(static_cast<UINT>(s.Width), static_cast<UINT>(s.Height))) ||
        FAILED(frame->SetPixelFormat(&format)) ||
        !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR) ||
        FAILED(frame->WritePixels(static_cast<UINT>(s.Height), stride,
                                  static_cast<UINT>(rows.size()), rows.data())) ||
        FAILED(frame->Commit()) || FAILED(encoder->Commit())) {
        return false;
    }
    HGLOBAL memory = nullptr;
    STATSTG status{};
    if (FAILED(GetHGlobalFromStream(stream.Ptr, &memory)) ||
        FAILED(stream->Stat(&status, STATFLAG_NONAME))) {
        return false;
    }
    const void* bytes = GlobalLock(memory);
    if (bytes == nullptr) return false;
    out.assign(static_cast<const char*>(bytes), static_cast<size_t>(status.cbSize.QuadPart));
    GlobalUnlock(memory);
    error.clear();
    return true;
}

}  // namespace qv
