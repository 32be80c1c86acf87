#pragma once

#include <windows.h>

// What a screen reader is told of the window beyond what its controls say themselves.
namespace mdlAccessibility {

// What a screen reader cannot take from the controls themselves: the file list's name (it has
// no label before it; its frame's title is the name) and the logo as a picture. Through the
// accessibility annotations where the system has them; without, the controls' own texts stay.
void Annotate(HWND list, HWND logo);

} // namespace mdlAccessibility
