// Shows the window and writes a PNG of its client area: ostrapel_screenshot OUT.png [--loaded]
// With --loaded, a sample save folder is listed and version 2.00 chosen first.

#include "frmMain.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <array>
#include <commctrl.h>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <objbase.h>
#include <shellapi.h>
#include <string>
#include <vector>
#undef SetCurrentDirectory

namespace {

std::string Utf8(const std::wstring& wide) {
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), length, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

std::uint32_t Crc(const unsigned char* data, std::size_t size, std::uint32_t crc = 0) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

void PutBigEndian(std::vector<unsigned char>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>(value >> shift));
    }
}

void Chunk(std::vector<unsigned char>& png, const char* type,
           const std::vector<unsigned char>& data) {
    PutBigEndian(png, static_cast<std::uint32_t>(data.size()));
    std::vector<unsigned char> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    PutBigEndian(png, Crc(body.data(), body.size()));
}

// An RGB PNG with stored (uncompressed) deflate blocks: plain, and good enough for a picture.
std::vector<unsigned char> Png(int width, int height, const std::vector<unsigned char>& rgb) {
    std::vector<unsigned char> raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0); // no filter
        const auto row = rgb.begin() + static_cast<std::ptrdiff_t>(y) * width * 3;
        raw.insert(raw.end(), row, row + width * 3);
    }
    std::vector<unsigned char> zlib = {0x78, 0x01};
    for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const std::size_t size = std::min<std::size_t>(65535, raw.size() - at);
        zlib.push_back(at + size >= raw.size() ? 1 : 0);
        zlib.push_back(static_cast<unsigned char>(size & 0xFF));
        zlib.push_back(static_cast<unsigned char>(size >> 8));
        zlib.push_back(static_cast<unsigned char>(~size & 0xFF));
        zlib.push_back(static_cast<unsigned char>((~size >> 8) & 0xFF));
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                    raw.begin() + static_cast<std::ptrdiff_t>(at + size));
        if (size == 0) {
            break;
        }
    }
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutBigEndian(zlib, (b << 16) | a);

    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> header;
    PutBigEndian(header, static_cast<std::uint32_t>(width));
    PutBigEndian(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8-bit RGB
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", zlib);
    Chunk(png, "IEND", {});
    return png;
}

bool Capture(HWND window, const std::wstring& target) {
    RECT client{};
    ::GetClientRect(window, &client);
    const int width = client.right;
    const int height = client.bottom;
    // From the screen, where the controls are drawn over the window.
    POINT origin{0, 0};
    ::ClientToScreen(window, &origin);
    HDC source = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(source);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    const bool copied =
        ::BitBlt(memory, 0, 0, width, height, source, origin.x, origin.y, SRCCOPY) != FALSE;
    std::vector<unsigned char> rgb;
    rgb.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    const auto* pixels = static_cast<const unsigned char*>(bits);
    for (int i = 0; i < width * height; ++i) {
        rgb.push_back(pixels[i * 4 + 2]);
        rgb.push_back(pixels[i * 4 + 1]);
        rgb.push_back(pixels[i * 4]);
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, source);
    if (!copied) {
        return false;
    }
    const std::vector<unsigned char> png = Png(width, height, rgb);
    std::ofstream out(std::filesystem::path(target), std::ios::binary);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    return static_cast<bool>(out);
}

void Pump(DWORD milliseconds) {
    const DWORD until = ::GetTickCount() + milliseconds;
    while (static_cast<LONG>(until - ::GetTickCount()) > 0) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::Sleep(10);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argc < 2 || argc > 3 || (argc == 3 && std::wstring(argv[2]) != L"--loaded")) {
        std::fprintf(stderr, "usage: ostrapel_screenshot OUT.png [--loaded]\n");
        return 2;
    }
    const bool loaded = argc == 3;
    wchar_t full[MAX_PATH];
    ::GetFullPathNameW(argv[1], MAX_PATH, full, nullptr);
    const std::wstring target = full;

    (void)::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);

    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::string root = ostrapel::JoinPath(
        Utf8(temp), "ostrapel-screenshot-" + std::to_string(::GetCurrentProcessId()));
    const std::string app = ostrapel::JoinPath(root, "app");
    const std::string saves = ostrapel::JoinPath(root, "saves");
    for (const std::string& folder : {root, app, ostrapel::JoinPath(app, "Decrypt"),
                                      ostrapel::JoinPath(app, "Decrypt\\temp"), saves}) {
        (void)ostrapel::MakeDirectory(folder);
    }
    for (const char* name : {"profile.sav", "slot1.sav", "slot2.sav", "slot3.sav"}) {
        (void)ostrapel::WriteBytesAt(ostrapel::JoinPath(saves, name), 0, "");
    }

    int status = 1;
    {
        frmMain window(instance, app,
                       std::make_shared<mdlSHBrowseForFolder::FixedFolderChooser>(saves), false);
        ::ShowWindow(window.Handle(), SW_SHOWNORMAL);
        ::SetForegroundWindow(window.Handle());
        ::UpdateWindow(window.Handle());
        if (loaded) {
            window.LoadFolderSave();
            HWND combo = window.Control(frmMain::kComboDLC);
            ::SendMessageW(combo, CB_SETCURSEL, 2, 0);
            ::SendMessageW(window.Handle(), WM_COMMAND,
                           MAKEWPARAM(frmMain::kComboDLC, CBN_SELCHANGE),
                           reinterpret_cast<LPARAM>(combo));
        }
        Pump(500);
        status = Capture(window.Handle(), target) ? 0 : 1;
    }
    (void)ostrapel::SetCurrentDirectory(Utf8(temp));
    for (const std::string& folder : {saves, ostrapel::JoinPath(app, "Decrypt\\temp")}) {
        (void)ostrapel::RemoveFilesIn(folder);
    }
    for (const std::string& folder : {ostrapel::JoinPath(app, "Decrypt\\temp"),
                                      ostrapel::JoinPath(app, "Decrypt"), saves, app, root}) {
        (void)ostrapel::RemoveFilesIn(folder);
        (void)ostrapel::RemoveEmptyDirectory(folder);
    }
    ::LocalFree(argv);
    ::CoUninitialize();
    return status;
}
