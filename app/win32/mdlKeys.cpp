#include "mdlKeys.h"

namespace mdlKeys {

void PressFocusedButton(HWND window) {
    HWND focus = ::GetFocus();
    if (focus == nullptr || !::IsChild(window, focus)) {
        return;
    }
    // A push button; an owner-drawn button says only that it is a button.
    const LRESULT code = ::SendMessageW(focus, WM_GETDLGCODE, 0, 0);
    const bool ownerDrawn = (code & DLGC_BUTTON) != 0 &&
                            (::GetWindowLongW(focus, GWL_STYLE) & BS_TYPEMASK) == BS_OWNERDRAW;
    if ((code & DLGC_UNDEFPUSHBUTTON) != 0 || ownerDrawn) {
        ::SendMessageW(focus, BM_CLICK, 0, 0);
    }
}

void NextDlgCtl(HWND window, WPARAM wParam, LPARAM lParam) {
    HWND focus = ::GetFocus();
    HWND next = nullptr;
    if (LOWORD(lParam) != 0) {
        next = reinterpret_cast<HWND>(wParam);
    } else if (wParam == 0 && focus != nullptr &&
               (::GetWindowLongW(focus, GWL_EXSTYLE) & WS_EX_CONTROLPARENT) != 0) {
        next = ::GetNextDlgTabItem(focus, nullptr, FALSE);
    }
    if (next == nullptr) {
        next = ::GetNextDlgTabItem(window, focus, wParam != 0);
    }
    if (next != nullptr) {
        ::SetFocus(next);
    }
}

} // namespace mdlKeys
