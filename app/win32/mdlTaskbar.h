#pragma once

#include <cstddef>
#include <windows.h>

// The window's progress shown on its taskbar button.
namespace mdlTaskbar {

// The taskbar button's progress, through the shell's taskbar where it has one.
void ShowOnTaskbar(HWND window, int state, std::size_t done, std::size_t total);

} // namespace mdlTaskbar
