#include "station-app/win32/WindowPicture.h"

#include <vector>

#include <wincodec.h>

#include "base/Utf16.h"

namespace kestrel::stationapp::win32 {

namespace {

template <typename Interface>
struct Released {
    Interface* pointer = nullptr;
    ~Released() {
        if (pointer != nullptr) {
            pointer->Release();
        }
    }
    Interface** operator&() { return &pointer; }
    Interface* operator->() const { return pointer; }
};

}  // namespace

bool SaveWindowPicture(HWND window, const std::string& file) {
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    RECT place;
    ::GetWindowRect(window, &place);
    const int width = place.right - place.left, height = place.bottom - place.top;
    if (width <= 0 || height <= 0) {
        return false;
    }
    // Rows of 24-bit pixels, top row first, each padded to four bytes as a DIB's.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = ::GetWindowDC(window);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool copied = false;
    if (bitmap != nullptr) {
        const HGDIOBJ old = ::SelectObject(memory, bitmap);
        copied = ::BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY | CAPTUREBLT) != 0;
        ::SelectObject(memory, old);
    }
    ::DeleteDC(memory);
    ::ReleaseDC(window, screen);
    const UINT stride = static_cast<UINT>((width * 3 + 3) & ~3);
    bool saved = false;
    if (copied) {
        Released<IWICImagingFactory> factory;
        Released<IWICStream> stream;
        Released<IWICBitmapEncoder> encoder;
        Released<IWICBitmapFrameEncode> frame;
        WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
        const std::wstring path = WideFromUtf8(file);
        saved = SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
                SUCCEEDED(factory->CreateStream(&stream)) &&
                SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
                SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
                SUCCEEDED(encoder->Initialize(stream.pointer, WICBitmapEncoderNoCache)) &&
                SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
                SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height))) &&
                SUCCEEDED(frame->SetPixelFormat(&format)) && format == GUID_WICPixelFormat24bppBGR &&
                SUCCEEDED(frame->WritePixels(static_cast<UINT>(height), stride, stride * static_cast<UINT>(height),
                                             static_cast<BYTE*>(bits))) &&
                SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    }
    if (bitmap != nullptr) {
        ::DeleteObject(bitmap);
    }
    return saved;
}

}  // namespace kestrel::stationapp::win32
