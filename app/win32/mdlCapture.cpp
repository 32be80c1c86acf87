#include "mdlCapture.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace mdlCapture {

namespace {

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

} // namespace

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

void WaitPainted(HWND window) {
    ::RedrawWindow(window, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    for (int tries = 0; tries < 100; ++tries) {
        bool pending = ::GetUpdateRect(window, nullptr, FALSE) != FALSE;
        ::EnumChildWindows(
            window,
            [](HWND child, LPARAM data) -> BOOL {
                *reinterpret_cast<bool*>(data) |= ::GetUpdateRect(child, nullptr, FALSE) != FALSE;
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&pending));
        if (!pending) {
            break;
        }
        Pump(50);
    }
    Pump(250); // Wine puts what was painted on the display only a moment later
    ::GdiFlush();
}

bool Capture(POINT origin, int width, int height, const std::wstring& target) {
    const RECT screen{
        ::GetSystemMetrics(SM_XVIRTUALSCREEN), ::GetSystemMetrics(SM_YVIRTUALSCREEN),
        ::GetSystemMetrics(SM_XVIRTUALSCREEN) + ::GetSystemMetrics(SM_CXVIRTUALSCREEN),
        ::GetSystemMetrics(SM_YVIRTUALSCREEN) + ::GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    if (origin.x < screen.left || origin.y < screen.top || origin.x + width > screen.right ||
        origin.y + height > screen.bottom) {
        std::fprintf(stderr, "the picture does not fit the screen: %dx%d at %d,%d\n", width, height,
                     static_cast<int>(origin.x), static_cast<int>(origin.y));
        return false;
    }
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
    const auto* pixels = static_cast<const std::uint32_t*>(bits);
    const auto blank = [&] {
        return std::all_of(pixels, pixels + static_cast<std::ptrdiff_t>(width) * height,
                           [first = pixels[0] & 0xFFFFFF](std::uint32_t pixel) {
                               return (pixel & 0xFFFFFF) == first;
                           });
    };
    bool copied = false;
    for (int tries = 0; tries < 60; ++tries) {
        copied =
            ::BitBlt(memory, 0, 0, width, height, source, origin.x, origin.y, SRCCOPY) != FALSE;
        ::GdiFlush();
        if (!copied || !blank()) {
            break;
        }
        Pump(50);
    }
    if (copied && blank()) {
        std::fprintf(stderr, "the picture came out blank\n");
        copied = false;
    }
    std::vector<unsigned char> rgb;
    rgb.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    const auto* bytes = static_cast<const unsigned char*>(bits);
    for (int i = 0; i < width * height; ++i) {
        rgb.push_back(bytes[i * 4 + 2]);
        rgb.push_back(bytes[i * 4 + 1]);
        rgb.push_back(bytes[i * 4]);
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

bool Capture(HWND window, const std::wstring& target) {
    WaitPainted(window);
    RECT client{};
    ::GetClientRect(window, &client);
    POINT origin{0, 0};
    ::ClientToScreen(window, &origin);
    return Capture(origin, client.right, client.bottom, target);
}

} // namespace mdlCapture
