#pragma once

#include <string>
#include <windows.h>

// The screenshot tool's pictures: what the screen shows, once painted, written as a PNG.
namespace mdlCapture {

// Handles the thread's messages for milliseconds.
void Pump(DWORD milliseconds);

// Waits until window and its children have no part left to paint, at most a few seconds.
void WaitPainted(HWND window);

// Writes the screen's pixels from origin, width by height, as a PNG. Fails, writing nothing, on
// an area off the screen, and on pixels all of one colour (the display had not drawn them yet)
// after waiting a few seconds for them.
bool Capture(POINT origin, int width, int height, const std::wstring& target);

// The window's client area, from the screen, where the controls are drawn over the window, once
// it has painted.
bool Capture(HWND window, const std::wstring& target);

} // namespace mdlCapture
