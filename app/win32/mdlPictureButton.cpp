#include "mdlPictureButton.h"

namespace mdlPictureButton {

LONG_PTR StyleFor(LONG_PTR style, bool highContrast) {
    return (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) |
           (highContrast ? BS_OWNERDRAW : BS_PUSHBUTTON);
}

void Draw(const DRAWITEMSTRUCT& item, HICON picture, int side) {
    // Drawn whole whatever the action: the face is opaque, so the focus never leaves a trace.
    const bool pushed = (item.itemState & ODS_SELECTED) != 0;
    RECT inside = item.rcItem;
    ::DrawFrameControl(item.hDC, &inside, DFC_BUTTON,
                       DFCS_BUTTONPUSH | DFCS_ADJUSTRECT | (pushed ? DFCS_PUSHED : 0));
    const int shift = pushed ? 1 : 0;
    const int x = item.rcItem.left + (item.rcItem.right - item.rcItem.left - side) / 2 + shift;
    const int y = item.rcItem.top + (item.rcItem.bottom - item.rcItem.top - side) / 2 + shift;
    if ((item.itemState & ODS_DISABLED) != 0) {
        // Its shape alone, as disabled words are drawn: embossed in the 3-D colours, it would
        // vanish where a scheme makes them the face's or each other's.
        ::DrawStateW(item.hDC, ::GetSysColorBrush(COLOR_GRAYTEXT), nullptr,
                     reinterpret_cast<LPARAM>(picture), 0, x, y, side, side, DST_ICON | DSS_MONO);
    } else {
        ::DrawIconEx(item.hDC, x, y, picture, side, side, 0, nullptr, DI_NORMAL);
    }
    if ((item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0) {
        ::InflateRect(&inside, -1, -1);
        ::DrawFocusRect(item.hDC, &inside);
    }
}

} // namespace mdlPictureButton
