#include "mdlFileList.h"

#include "Report.h"
#include "Words.h"
#include "system/Paths.h"
#include "system/windows/WindowsText.h"

#include <algorithm>
#include <oleacc.h>
#include <windowsx.h>

namespace mdlFileList {

using ostrapel::win::Wide;

void DrawItem(const DRAWITEMSTRUCT& item, const ostrapel::ListRow* row, HFONT font, int dpi) {
    // The focus rectangle is drawn by exclusive or, shown and hidden alike; not at all while the
    // window hides keyboard cues (until a key is used).
    const bool cue = (item.itemState & ODS_NOFOCUSRECT) == 0;
    if (item.itemAction == ODA_FOCUS) {
        if (cue) {
            ::DrawFocusRect(item.hDC, &item.rcItem);
        }
        return;
    }
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    ::FillRect(item.hDC, &item.rcItem,
               ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    if (row != nullptr) {
        const std::wstring version = Wide(row->version);
        HGDIOBJ oldFont = ::SelectObject(item.hDC, font);
        const int oldMode = ::SetBkMode(item.hDC, TRANSPARENT);
        const COLORREF oldColour = ::SetTextColor(
            item.hDC, ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        constexpr UINT kLine = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
        RECT text = item.rcItem;
        text.left += ::MulDiv(2, dpi, 96);
        text.right -= ::MulDiv(2, dpi, 96);
        RECT nameRect = text;
        if (!version.empty()) {
            SIZE extent{};
            ::GetTextExtentPoint32W(item.hDC, version.c_str(), static_cast<int>(version.size()),
                                    &extent);
            ::DrawTextW(item.hDC, version.c_str(), static_cast<int>(version.size()), &text,
                        kLine | DT_RIGHT | DT_END_ELLIPSIS);
            nameRect.right = std::max(text.left, text.right - extent.cx - ::MulDiv(6, dpi, 96));
        }
        const std::wstring name =
            FittedInTheMiddle(item.hDC, {}, row->shown, nameRect.right - nameRect.left);
        ::DrawTextW(item.hDC, name.c_str(), static_cast<int>(name.size()), &nameRect,
                    kLine | DT_LEFT);
        ::SetTextColor(item.hDC, oldColour);
        ::SetBkMode(item.hDC, oldMode);
        ::SelectObject(item.hDC, oldFont);
    }
    if (cue && (item.itemState & ODS_FOCUS) != 0) {
        ::DrawFocusRect(item.hDC, &item.rcItem);
    }
}

int CaptionRoom(HWND frame, int dpi) {
    RECT client{};
    ::GetClientRect(frame, &client);
    return client.right - ::MulDiv(16, dpi, 96);
}

std::wstring FittedCaption(HWND frame, HFONT font, const ostrapel::ListCaption& caption, int dpi) {
    const int room = CaptionRoom(frame, dpi);
    HDC dc = ::GetDC(frame);
    HGDIOBJ old = ::SelectObject(dc, font);
    const std::wstring fitted = FittedInTheMiddle(dc, caption.prefix, caption.name, room);
    ::SelectObject(dc, old);
    ::ReleaseDC(frame, dc);
    // The prefix may mark an access key; a name never does.
    const std::size_t prefix = std::min(Wide(caption.prefix).size(), fitted.size());
    std::wstring text = fitted.substr(0, prefix);
    for (wchar_t c : fitted.substr(prefix)) {
        text += c == L'&' ? std::wstring(L"&&") : std::wstring(1, c);
    }
    return text;
}

std::wstring FittedInTheMiddle(HDC dc, const std::string& prefix, const std::string& name,
                               int room) {
    const auto fitted = [&](std::size_t length) {
        return Wide(prefix + ostrapel::ShortenedInTheMiddle(name, length));
    };
    const auto fits = [&](const std::wstring& text) {
        SIZE extent{};
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        return extent.cx <= room;
    };
    const std::size_t length = ostrapel::CharacterCount(name);
    std::wstring whole = Wide(prefix + name);
    if (length <= 1 || fits(whole)) {
        return whole;
    }
    // The longest cut that fits, by halving: rows are drawn often, and names may be long.
    std::size_t fitting = 1; // the shortest cut there is, whether it fits or not
    std::size_t tooLong = length;
    while (tooLong - fitting > 1) {
        const std::size_t middle = fitting + (tooLong - fitting) / 2;
        (fits(fitted(middle)) ? fitting : tooLong) = middle;
    }
    return fitted(fitting);
}

POINT MenuPoint(HWND list, LPARAM at) {
    POINT point{GET_X_LPARAM(at), GET_Y_LPARAM(at)};
    if (point.x != -1 || point.y != -1) {
        return point;
    }
    RECT client{};
    ::GetClientRect(list, &client);
    point = {client.left, client.top};
    const LRESULT selected = ::SendMessageW(list, LB_GETCURSEL, 0, 0);
    RECT entry{};
    if (selected != LB_ERR &&
        ::SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(selected),
                       reinterpret_cast<LPARAM>(&entry)) != LB_ERR &&
        entry.bottom > client.top && entry.bottom <= client.bottom) {
        point = {entry.left, entry.bottom};
    }
    ::ClientToScreen(list, &point);
    return point;
}

KeyStep MenuKey(UINT message, WPARAM key, bool shift) {
    const bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
    const bool up = message == WM_KEYUP || message == WM_SYSKEYUP;
    if ((!down && !up) || (key != VK_APPS && !(key == VK_F10 && shift))) {
        return KeyStep::Pass;
    }
    return down ? KeyStep::OpenMenu : KeyStep::Swallow;
}

std::wstring AccessibleText(const std::vector<ostrapel::ListRow>& rows,
                            const ostrapel::ListCaption& caption, DWORD child, bool description) {
    if (child == CHILDID_SELF) {
        return Wide(description ? caption.description
                                : ostrapel::WithoutAccessKey(ostrapel::Tr(ostrapel::kListTitle)));
    }
    if (child - 1 >= rows.size()) {
        return {};
    }
    const ostrapel::ListRow& row = rows[child - 1];
    return Wide(description ? row.description : row.accessibleName);
}

bool MayMoveTop(UINT message) {
    switch (message) {
    case WM_VSCROLL:
    case WM_MOUSEWHEEL:
    case WM_KEYDOWN:
    case WM_TIMER:
    case WM_SIZE:
    case LB_SETTOPINDEX:
    case LB_SETCURSEL:
        return true;
    default:
        return false;
    }
}

bool ForTheTip(UINT message) {
    switch (message) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        return true;
    default:
        return false;
    }
}

bool SameNames(HWND list, const std::vector<ostrapel::ListRow>& rows) {
    if (::SendMessageW(list, LB_GETCOUNT, 0, 0) != static_cast<LRESULT>(rows.size())) {
        return false;
    }
    std::wstring item;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const LRESULT length = ::SendMessageW(list, LB_GETTEXTLEN, i, 0);
        if (length == LB_ERR) {
            return false;
        }
        item.assign(static_cast<std::size_t>(length) + 1, L'\0');
        ::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(item.data()));
        item.resize(static_cast<std::size_t>(length));
        if (item != Wide(rows[i].name)) {
            return false;
        }
    }
    return true;
}

void Fill(HWND list, const std::vector<ostrapel::ListRow>& rows) {
    // The rows draw their whole rectangle: no erase first, which would show them blank.
    if (SameNames(list, rows)) {
        ::InvalidateRect(list, nullptr, FALSE);
        return;
    }
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
    ::SendMessageW(list, LB_INITSTORAGE, rows.size(),
                   static_cast<LPARAM>(rows.size() * 64 * sizeof(wchar_t)));
    for (const ostrapel::ListRow& row : rows) {
        ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(row.name).c_str()));
    }
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
}

void RedrawRow(HWND list, std::size_t index) {
    RECT item{};
    if (::SendMessageW(list, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&item)) != LB_ERR) {
        ::InvalidateRect(list, &item, FALSE);
    }
}

bool SetCaption(HWND frame, const std::wstring& text) {
    const int length = ::GetWindowTextLengthW(frame);
    std::wstring shown(static_cast<std::size_t>(length) + 1, L'\0');
    shown.resize(static_cast<std::size_t>(::GetWindowTextW(frame, shown.data(), length + 1)));
    if (shown == text) {
        return false;
    }
    // A group box clears its caption and invalidates itself, erase and children included, on
    // a new text; its redraw held off, the frame alone is drawn again at once.
    ::SendMessageW(frame, WM_SETREDRAW, FALSE, 0);
    ::SetWindowTextW(frame, text.c_str());
    ::SendMessageW(frame, WM_SETREDRAW, TRUE, 0);
    ::RedrawWindow(frame, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_NOCHILDREN | RDW_UPDATENOW);
    return true;
}

int RowAt(HWND list, LPARAM at) {
    const LRESULT hit = ::SendMessageW(list, LB_ITEMFROMPOINT, 0, at);
    return HIWORD(hit) == 0 ? static_cast<int>(LOWORD(hit)) : -1;
}

std::wstring WithAccessKey(const std::string& text) {
    const std::wstring wide = Wide(text);
    return wide.empty() || wide.find(L'&') != std::wstring::npos ? wide : L"&" + wide;
}

} // namespace mdlFileList
