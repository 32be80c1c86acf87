#include "mdlReportBox.h"

#include "WindowView.h"
#include "Words.h"
#include "mdlLayout.h"
#include "system/windows/WindowsText.h"

#include <algorithm>
#include <commctrl.h>

namespace {

constexpr wchar_t kTitle[] = L"Ostrapel";

using TaskDialogIndirectFunction = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// Only version 6 of the common controls has the task dialog; the manifest asks for it. Looked
// up at run time so that the program still starts, with message boxes, where it is missing.
TaskDialogIndirectFunction TaskDialog() {
    static const TaskDialogIndirectFunction function = [] {
        HMODULE controls = ::LoadLibraryW(L"comctl32.dll");
        FARPROC address =
            controls != nullptr ? ::GetProcAddress(controls, "TaskDialogIndirect") : nullptr;
        return reinterpret_cast<TaskDialogIndirectFunction>(reinterpret_cast<void (*)()>(address));
    }();
    return function;
}

void ShowMessageBox(HWND owner, const std::wstring& text, bool allChanged) {
    ::MessageBoxW(owner, text.c_str(), kTitle,
                  static_cast<UINT>(MB_OK | (allChanged ? MB_ICONINFORMATION : MB_ICONWARNING)));
}

HRESULT CALLBACK ReportCallback(HWND box, UINT notification, WPARAM wParam, LPARAM, LONG_PTR data) {
    if (notification == TDN_CREATED) {
        // Placed once made: the task dialog places itself after it was first activated.
        mdlReportBox::CentreOn(box, ::GetWindow(box, GW_OWNER));
        return S_OK;
    }
    if (notification == TDN_BUTTON_CLICKED && wParam == mdlReportBox::kShowDetails) {
        mdlReportBox::ShowDetails(box, *reinterpret_cast<const std::wstring*>(data));
        return S_FALSE; // the report box stays up
    }
    return S_OK;
}

// An edit control breaks lines at "\r\n" only.
std::wstring WithCrLf(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size() +
                static_cast<std::size_t>(std::count(text.begin(), text.end(), L'\n')));
    for (wchar_t c : text) {
        if (c == L'\n') {
            out += L'\r';
        }
        out += c;
    }
    return out;
}

struct DetailsState {
    const std::wstring* details = nullptr;
    HFONT font = nullptr;
    int dpi = 96;
};

int Scaled(int pixels, int dpi) {
    return ::MulDiv(pixels, dpi, 96);
}

// The text fills the client area above a row holding the OK button at its right, 75 pixels wide
// at 96 DPI or as wide as its words need.
void LayOut(HWND dialog, const DetailsState& state) {
    const int dpi = state.dpi;
    RECT client{};
    ::GetClientRect(dialog, &client);
    const int margin = Scaled(11, dpi);
    HWND ok = ::GetDlgItem(dialog, IDOK);
    wchar_t words[64] = {};
    const SIZE needed = mdlLayout::TextExtent(
        ok, state.font,
        std::wstring(words, static_cast<std::size_t>(::GetWindowTextW(ok, words, 64))));
    const int buttonWidth = std::max<int>(Scaled(75, dpi), needed.cx + Scaled(16, dpi));
    const int buttonHeight = Scaled(23, dpi);
    const int width = std::max<int>(0, client.right - 2 * margin);
    const int textHeight = std::max<int>(0, client.bottom - 3 * margin - buttonHeight);
    ::SetWindowPos(::GetDlgItem(dialog, mdlReportBox::kDetailsText), nullptr, margin, margin, width,
                   textHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowPos(ok, nullptr, client.right - margin - buttonWidth,
                   client.bottom - margin - buttonHeight, buttonWidth, buttonHeight,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

void InitDetails(HWND dialog, DetailsState& state) {
    // Its owner's DPI: the dialog opens on its monitor.
    HWND owner = ::GetWindow(dialog, GW_OWNER);
    state.dpi = mdlLayout::WindowDpi(owner != nullptr ? owner : dialog);
    state.font = mdlLayout::MessageFont(state.dpi);

    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    HWND text = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_EDITW, L"",
                                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL |
                                      ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                                  0, 0, 0, 0, dialog,
                                  reinterpret_cast<HMENU>(INT_PTR{mdlReportBox::kDetailsText}),
                                  instance, nullptr);
    // TRANSLATORS: the button that closes the report's details; it grows to fit its text
    const std::wstring okText = ostrapel::win::Wide(ostrapel::Tr("OK"));
    HWND ok = ::CreateWindowExW(0, WC_BUTTONW, okText.c_str(),
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, 0, 0,
                                dialog, reinterpret_cast<HMENU>(INT_PTR{IDOK}), instance, nullptr);
    for (HWND control : {text, ok}) {
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), FALSE);
    }
    // The limit is for typing only, but set it out of the way all the same.
    ::SendMessageW(text, EM_SETLIMITTEXT, 0, 0);
    ::SetWindowTextW(text, WithCrLf(*state.details).c_str());

    // At most 560 by 360 pixels at 96 DPI, less where the work area is smaller; centred on the
    // owner, kept within the work area.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(
        ::MonitorFromWindow(owner != nullptr ? owner : dialog, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT work = monitor.rcWork;
    const auto style = static_cast<DWORD>(::GetWindowLongW(dialog, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(::GetWindowLongW(dialog, GWL_EXSTYLE));
    const RECT frame = mdlLayout::FrameFor({Scaled(560, state.dpi), Scaled(360, state.dpi)}, style,
                                           exStyle, state.dpi);
    const int width = std::min<int>(frame.right - frame.left, work.right - work.left);
    const int height = std::min<int>(frame.bottom - frame.top, work.bottom - work.top);
    RECT around = work;
    if (owner != nullptr) {
        ::GetWindowRect(owner, &around);
    }
    const int left =
        std::clamp<int>((around.left + around.right - width) / 2, work.left, work.right - width);
    const int top =
        std::clamp<int>((around.top + around.bottom - height) / 2, work.top, work.bottom - height);
    ::SetWindowPos(dialog, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    LayOut(dialog, state);
    ::SetFocus(text);
}

INT_PTR CALLBACK DetailsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<DetailsState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        InitDetails(dialog, *reinterpret_cast<DetailsState*>(lParam));
        return FALSE; // the focus is set
    case WM_SIZE:
        if (state != nullptr) {
            LayOut(dialog, *state);
        }
        return TRUE;
    case WM_GETMINMAXINFO:
        if (state != nullptr) {
            auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            limits->ptMinTrackSize.x = Scaled(240, state->dpi);
            limits->ptMinTrackSize.y = Scaled(160, state->dpi);
        }
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            ::EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

} // namespace

namespace mdlReportBox {

namespace {
thread_local CentredBoxes* innermost = nullptr;
} // namespace

void CentreOn(HWND window, HWND owner) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT work = monitor.rcWork;
    RECT around{};
    RECT box{};
    ::GetWindowRect(owner, &around);
    ::GetWindowRect(window, &box);
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    const int left = std::max<int>(
        work.left, std::min<int>((around.left + around.right - width) / 2, work.right - width));
    const int top = std::max<int>(
        work.top, std::min<int>((around.top + around.bottom - height) / 2, work.bottom - height));
    ::SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CopyText(HWND owner, const std::wstring& text) {
    const std::wstring lines = WithCrLf(text);
    const std::size_t bytes = (lines.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (memory == nullptr) {
        return false;
    }
    std::copy_n(lines.c_str(), lines.size() + 1, static_cast<wchar_t*>(::GlobalLock(memory)));
    ::GlobalUnlock(memory);
    if (!::OpenClipboard(owner)) {
        ::GlobalFree(memory);
        return false;
    }
    ::EmptyClipboard();
    const bool put = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    ::CloseClipboard();
    if (!put) {
        ::GlobalFree(memory);
    }
    return put;
}

CentredBoxes::CentredBoxes(HWND owner, std::wstring copyText)
    : owner_(owner), copyText_(std::move(copyText)), outer_(innermost) {
    innermost = this;
    const DWORD thread = ::GetCurrentThreadId();
    activating_ = ::SetWindowsHookExW(WH_CBT, &CentredBoxes::Activating, nullptr, thread);
    filtering_ = ::SetWindowsHookExW(WH_MSGFILTER, &CentredBoxes::Filtering, nullptr, thread);
}

CentredBoxes::~CentredBoxes() {
    for (HHOOK hook : {activating_, filtering_}) {
        if (hook != nullptr) {
            ::UnhookWindowsHookEx(hook);
        }
    }
    innermost = outer_;
}

LRESULT CALLBACK CentredBoxes::Activating(int code, WPARAM wParam, LPARAM lParam) {
    // A box is activated once it has its size: it is placed then, before it first shows.
    const CentredBoxes* boxes = innermost;
    if (code == HCBT_ACTIVATE && boxes != nullptr) {
        auto* window = reinterpret_cast<HWND>(wParam);
        if (::GetWindow(window, GW_OWNER) == boxes->owner_ && !::IsWindowVisible(window)) {
            CentreOn(window, boxes->owner_);
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK CentredBoxes::Filtering(int code, WPARAM wParam, LPARAM lParam) {
    const CentredBoxes* boxes = innermost;
    const auto* message = reinterpret_cast<const MSG*>(lParam);
    if (code >= 0 && boxes != nullptr && !boxes->copyText_.empty() &&
        message->message == WM_KEYDOWN && message->wParam == 'C' && ::GetKeyState(VK_CONTROL) < 0 &&
        ::GetKeyState(VK_MENU) >= 0 &&
        ::GetWindow(::GetAncestor(message->hwnd, GA_ROOT), GW_OWNER) == boxes->owner_) {
        CopyText(message->hwnd, boxes->copyText_);
        return TRUE;
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

std::size_t FittingSummary(const ostrapel::ReportBox& box,
                           const std::function<int(const std::wstring&)>& textHeight, int room) {
    const auto summaries = ostrapel::ReportBox::ShorterSummaries();
    for (std::size_t i = 0; i + 1 < summaries.size(); ++i) {
        if (textHeight(ostrapel::win::Wide(box.Compose(summaries[i]).text)) <= room) {
            return i;
        }
    }
    return summaries.size() - 1;
}

ostrapel::BoxReport FittingReport(HWND owner, const ostrapel::ReportBox& box) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor);
    const int dpi = mdlLayout::WindowDpi(owner); // the boxes open on the owner's monitor
    HFONT font = mdlLayout::MessageFont(dpi);
    HDC dc = ::GetDC(owner);
    HGDIOBJ old = ::SelectObject(dc, font);
    // The task dialog's text is at most about this wide; around it go the title bar, the margins
    // and the buttons' row.
    const int width = Scaled(420, dpi);
    const int room =
        static_cast<int>(monitor.rcWork.bottom - monitor.rcWork.top) - Scaled(150, dpi);
    const std::size_t fitting = FittingSummary(
        box,
        [&](const std::wstring& text) {
            RECT area{0, 0, width, 0};
            ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
                        DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
            return static_cast<int>(area.bottom);
        },
        room);
    ::SelectObject(dc, old);
    ::ReleaseDC(owner, dc);
    ::DeleteObject(font);
    return box.Compose(ostrapel::ReportBox::ShorterSummaries()[fitting]);
}

std::wstring KeptTogether(std::wstring text) {
    const auto digit = [&text](std::size_t at) {
        return at < text.size() && text[at] >= L'0' && text[at] <= L'9';
    };
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == L' ' && ((at > 0 && digit(at - 1)) || digit(at + 1))) {
            text[at] = L'\u00A0';
        }
    }
    return text;
}

void Show(HWND owner, const std::wstring& text, const std::wstring& details, bool allChanged) {
    const CentredBoxes centred(owner, details.empty() ? text : text + L"\n\n" + details);
    TaskDialogIndirectFunction taskDialog = TaskDialog();
    if (taskDialog == nullptr) {
        ShowMessageBox(owner, KeptTogether(text), allChanged);
        return;
    }
    const std::wstring shown = KeptTogether(text);
    // The details go to a dialog of their own rather than the task dialog's expanded area,
    // which grows with its text and would run off the screen with a long list.
    const std::wstring detailsText = ostrapel::win::Wide(ostrapel::Tr("Show &details..."));
    const TASKDIALOG_BUTTON detailsButton{kShowDetails, detailsText.c_str()};
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = owner;
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
    config.dwCommonButtons = TDCBF_OK_BUTTON;
    config.pszWindowTitle = kTitle;
    config.pszMainIcon = allChanged ? TD_INFORMATION_ICON : TD_WARNING_ICON;
    config.pszContent = shown.c_str();
    if (!details.empty()) {
        config.cButtons = 1;
        config.pButtons = &detailsButton;
    }
    config.nDefaultButton = IDOK;
    config.pfCallback = &ReportCallback;
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(&details);
    if (FAILED(taskDialog(&config, nullptr, nullptr, nullptr))) {
        ShowMessageBox(owner, text, allChanged);
    }
}

void ShowDetails(HWND owner, const std::wstring& details) {
    // A template with no controls: they are made, and the dialog sized, on WM_INITDIALOG.
    struct alignas(4) Template {
        DLGTEMPLATE dialog;
        WORD menu;
        WORD windowClass;
        wchar_t title[sizeof kTitle / sizeof kTitle[0]];
    } dialogTemplate{};
    dialogTemplate.dialog.style =
        DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN;
    std::copy(std::begin(kTitle), std::end(kTitle), dialogTemplate.title);
    DetailsState state;
    state.details = &details;
    ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), &dialogTemplate.dialog, owner,
                              &DetailsProc, reinterpret_cast<LPARAM>(&state));
    if (state.font != nullptr) {
        ::DeleteObject(state.font);
    }
}

} // namespace mdlReportBox
