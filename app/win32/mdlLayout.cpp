#include "mdlLayout.h"

#include <algorithm>

namespace mdlLayout {

RECT Placement(const Twips& at, int dpi) {
    const auto scale = [dpi](int twips) { return ::MulDiv(twips / 15, dpi, 96); };
    return RECT{scale(at.left), scale(at.top), scale(at.left) + scale(at.width),
                scale(at.top) + scale(at.height)};
}

int SystemDpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    return dpi;
}

int ChosenDpi(unsigned ownDpi, int systemDpi) {
    return ownDpi != 0 ? static_cast<int>(ownDpi) : systemDpi;
}

namespace {

template <typename Function> Function User32(const char* name) {
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    return user32 == nullptr ? nullptr
                             : reinterpret_cast<Function>(
                                   reinterpret_cast<void*>(::GetProcAddress(user32, name)));
}

} // namespace

int WindowDpi(HWND window) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32<GetDpiForWindowFunction>("GetDpiForWindow");
    return ChosenDpi(getDpiForWindow != nullptr ? getDpiForWindow(window) : 0u, SystemDpi());
}

RECT FrameFor(SIZE client, DWORD style, DWORD exStyle, int dpi) {
    using AdjustForDpiFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = User32<AdjustForDpiFunction>("AdjustWindowRectExForDpi");
    RECT frame{0, 0, client.cx, client.cy};
    if (adjustForDpi == nullptr ||
        adjustForDpi(&frame, style, FALSE, exStyle, static_cast<UINT>(dpi)) == FALSE) {
        frame = {0, 0, client.cx, client.cy};
        ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    }
    return frame;
}

HFONT MessageFont(int dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    // Given at the system's DPI.
    metrics.lfMessageFont.lfHeight = ::MulDiv(metrics.lfMessageFont.lfHeight, dpi, SystemDpi());
    return ::CreateFontIndirectW(&metrics.lfMessageFont);
}

bool ClassicLabelFontShows(const std::wstring& text) {
    if (text.empty()) {
        return true;
    }
    BOOL lost = FALSE;
    const int bytes =
        ::WideCharToMultiByte(1250, WC_NO_BEST_FIT_CHARS, text.c_str(),
                              static_cast<int>(text.size()), nullptr, 0, nullptr, &lost);
    return bytes > 0 && lost == FALSE;
}

HFONT LabelFont(int dpi, const std::vector<std::wstring>& texts) {
    const bool classic = std::all_of(texts.begin(), texts.end(), ClassicLabelFontShows);
    LOGFONTW label{};
    label.lfHeight = -::MulDiv(825, dpi, 7200);
    label.lfWeight = FW_BOLD;
    label.lfCharSet = classic ? EASTEUROPE_CHARSET : DEFAULT_CHARSET;
    wcscpy_s(label.lfFaceName, classic ? L"MS Sans Serif" : L"Microsoft Sans Serif");
    return ::CreateFontIndirectW(&label);
}

SIZE TextExtent(HWND control, HFONT font, const std::wstring& text) {
    HDC dc = ::GetDC(control);
    HGDIOBJ old = ::SelectObject(dc, font);
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    ::SelectObject(dc, old);
    ::ReleaseDC(control, dc);
    return extent;
}

void FitListItems(HWND list, HFONT font) {
    HDC dc = ::GetDC(list);
    HGDIOBJ old = ::SelectObject(dc, font);
    TEXTMETRICW text{};
    ::GetTextMetricsW(dc, &text);
    ::SelectObject(dc, old);
    ::ReleaseDC(list, dc);
    ::SendMessageW(list, LB_SETITEMHEIGHT, 0, text.tmHeight);
}

void FitComboField(HWND combo, int height) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        RECT field{};
        ::GetWindowRect(combo, &field);
        const int off = height - static_cast<int>(field.bottom - field.top);
        if (off == 0) {
            break;
        }
        const LRESULT item = ::SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
        ::SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), item + off);
    }
}

void FitLabel(HWND label, HFONT font, int right, int gap) {
    wchar_t text[128] = {};
    ::GetWindowTextW(label, text, 128);
    const SIZE wanted = TextExtent(label, font, text);
    RECT rect{};
    ::GetWindowRect(label, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(label), reinterpret_cast<POINT*>(&rect), 2);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const int room = right - gap - rect.left;
    const int fitted = std::clamp<int>(wanted.cx, width, std::max(room, width));
    // What does not fit on one line wraps at words: as many lines as the text takes then.
    const auto style = static_cast<UINT>(::GetWindowLongW(label, GWL_STYLE));
    RECT lines{0, 0, fitted, 0};
    HDC dc = ::GetDC(label);
    HGDIOBJ old = ::SelectObject(dc, font);
    ::DrawTextW(dc, text, -1, &lines,
                DT_CALCRECT | DT_WORDBREAK | ((style & SS_NOPREFIX) != 0 ? DT_NOPREFIX : 0));
    ::SelectObject(dc, old);
    ::ReleaseDC(label, dc);
    const int tall = fitted < wanted.cx ? static_cast<int>(lines.bottom)
                                        : std::clamp<int>(wanted.cy, height, height + gap);
    ::SetWindowPos(label, nullptr, 0, 0, fitted, std::max(tall, height),
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace mdlLayout
