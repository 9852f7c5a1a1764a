#include "gui/win32/window_capture.h"

#include <wincodec.h>

#include <cstdio>
#include <vector>

#include "platform/errors.h"

namespace zuvo::gui::win32 {

namespace {

template <typename T>
class ComPtr {
  public:
    ComPtr() = default;
    ~ComPtr() {
        if (p_ != nullptr) {
            p_->Release();
        }
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T** Out() { return &p_; }
    T* operator->() const { return p_; }
    T* Get() const { return p_; }

  private:
    T* p_ = nullptr;
};

// The window's pixels as 24-bit BGR rows, top row first.
bool CaptureBgr(HWND window, int& width, int& height, std::vector<BYTE>& pixels) {
    RECT r{};
    if (!::GetWindowRect(window, &r)) {
        return false;
    }
    width = r.right - r.left;
    height = r.bottom - r.top;
    if (width <= 0 || height <= 0) {
        return false;
    }
    HDC source = ::GetWindowDC(window);
    HDC memory = ::CreateCompatibleDC(source);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bitmap != nullptr;
    if (ok) {
        const HGDIOBJ old = ::SelectObject(memory, bitmap);
        // PrintWindow would be the tidy way, but Wine renders it blank; what the window
        // shows on the screen is what an operator sees anyway.
        ok = ::BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY | CAPTUREBLT) != FALSE;
        ::SelectObject(memory, old);
    }
    if (ok) {
        const auto* bgra = static_cast<const BYTE*>(bits);
        pixels.resize(static_cast<size_t>(width) * 3 * static_cast<size_t>(height));
        for (size_t i = 0, n = static_cast<size_t>(width) * static_cast<size_t>(height); i < n;
             ++i) {
            pixels[i * 3] = bgra[i * 4];
            pixels[i * 3 + 1] = bgra[i * 4 + 1];
            pixels[i * 3 + 2] = bgra[i * 4 + 2];
        }
    }
    if (bitmap != nullptr) {
        ::DeleteObject(bitmap);
    }
    ::DeleteDC(memory);
    ::ReleaseDC(window, source);
    return ok;
}

bool WritePng(const std::string& path, int width, int height, std::vector<BYTE>& pixels,
              HRESULT& hr) {
    ComPtr<IWICImagingFactory> factory;
    hr = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IWICImagingFactory, reinterpret_cast<void**>(factory.Out()));
    if (FAILED(hr)) {
        return false;
    }
    ComPtr<IWICStream> stream;
    if (FAILED(hr = factory->CreateStream(stream.Out()))) {
        return false;
    }
    // The path as the command line gave it, in the ANSI code page.
    std::wstring wide(
        static_cast<size_t>(::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0)), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    if (FAILED(hr = stream->InitializeFromFilename(wide.c_str(), GENERIC_WRITE))) {
        return false;
    }
    ComPtr<IWICBitmapEncoder> encoder;
    if (FAILED(hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.Out())) ||
        FAILED(hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache))) {
        return false;
    }
    ComPtr<IWICBitmapFrameEncode> frame;
    if (FAILED(hr = encoder->CreateNewFrame(frame.Out(), nullptr)) ||
        FAILED(hr = frame->Initialize(nullptr)) ||
        FAILED(hr = frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height)))) {
        return false;
    }
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(hr = frame->SetPixelFormat(&format)) || format != GUID_WICPixelFormat24bppBGR) {
        return false;
    }
    const UINT stride = static_cast<UINT>(width) * 3;
    return SUCCEEDED(hr = frame->WritePixels(static_cast<UINT>(height), stride,
                                             static_cast<UINT>(pixels.size()), pixels.data())) &&
           SUCCEEDED(hr = frame->Commit()) && SUCCEEDED(hr = encoder->Commit());
}

}  // namespace

bool SaveWindowPng(HWND window, const std::string& path, std::string& error) {
    int width = 0;
    int height = 0;
    std::vector<BYTE> pixels;
    if (!CaptureBgr(window, width, height, pixels)) {
        error = "cannot capture the window: " + platform::SystemErrorText(::GetLastError());
        return false;
    }
    const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT hr = S_OK;
    const bool ok = WritePng(path, width, height, pixels, hr);
    if (SUCCEEDED(init)) {
        ::CoUninitialize();
    }
    if (!ok) {
        error =
            "cannot write " + path + ": " + platform::SystemErrorText(static_cast<uint32_t>(hr));
    }
    return ok;
}

void ArmScreenshot(platform::win32::MessageWindow& window, HWND dialog, const std::string& path,
                   int delayMs, const char* program, int& status) {
    constexpr UINT_PTR kScreenshotTimer = 1;
    window.SetHandler(WM_TIMER, [dialog, path, program, &status](WPARAM timer, LPARAM) -> LRESULT {
        if (timer != kScreenshotTimer) {
            return 0;
        }
        ::KillTimer(dialog, kScreenshotTimer);
        std::string error;
        if (!SaveWindowPng(dialog, path, error)) {
            std::fprintf(stderr, "%s: %s\n", program, error.c_str());
            status = 1;
        }
        ::PostMessageA(dialog, WM_CLOSE, 0, 0);
        return 0;
    });
    ::SetTimer(dialog, kScreenshotTimer, static_cast<UINT>(delayMs), nullptr);
}

}  // namespace zuvo::gui::win32
