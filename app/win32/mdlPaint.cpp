// How frmMain paints: the colours of its controls (white, or the scheme's in high contrast), the
// background of its frames and the owner-drawn controls.

#include "frmMain.h"
#include "mdlFileList.h"
#include "mdlPictureButton.h"

HBRUSH frmMain::ColourControl(HDC dc, HWND control) const {
    // The window and both frames are white (the scheme's window colour in high contrast);
    // EP keeps the button face. The text takes the colour that goes with its background.
    if (control == EP_ || ::GetParent(control) == EP_) {
        ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
        ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
        return ::GetSysColorBrush(COLOR_BTNFACE);
    }
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::SetBkColor(dc, BackgroundColour());
    return Background();
}

bool frmMain::DrawItem(const DRAWITEMSTRUCT& item) const {
    if (item.CtlID == kImage1) {
        // The 180-pixel logo stretched over the whole control.
        ::FillRect(item.hDC, &item.rcItem, Background());
        ::DrawIconEx(item.hDC, item.rcItem.left, item.rcItem.top, logo_,
                     item.rcItem.right - item.rcItem.left, item.rcItem.bottom - item.rcItem.top, 0,
                     nullptr, DI_NORMAL);
        return true;
    }
    if (item.CtlID == kCmdOpen) {
        // Owner-drawn in high contrast only (FollowSystemColours).
        mdlPictureButton::Draw(item, openFolder_, Scale(32));
        return true;
    }
    if (item.CtlID == kList) {
        const bool listed = item.itemID < rows_.size();
        mdlFileList::DrawItem(item, listed ? &rows_[item.itemID] : nullptr, uiFont_, dpi_);
        return true;
    }
    return false;
}

void frmMain::EraseContainer(HWND container, HDC dc) const {
    // A group box paints no background of its own: white frames, EP the button face.
    RECT area{};
    ::GetClientRect(container, &area);
    ::FillRect(dc, &area, container == EP_ ? ::GetSysColorBrush(COLOR_BTNFACE) : Background());
}
