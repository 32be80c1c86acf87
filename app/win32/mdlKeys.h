#pragma once

#include <windows.h>

// The dialog keys the message loop hands the window: Enter, and the keys that move the focus.
namespace mdlKeys {

// Enter, as the dialog keys give it: the focused push button (or owner-drawn button), when inside
// window, is pressed.
void PressFocusedButton(HWND window);

// WM_NEXTDLGCTL: the dialog keys move the focus with it, a label's access key among them: to the
// control given, or to the next (or previous) that takes the tab key; from a frame (the file
// list's, by its access key) to the first inside it.
void NextDlgCtl(HWND window, WPARAM wParam, LPARAM lParam);

} // namespace mdlKeys
