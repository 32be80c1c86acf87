#pragma once

#include <string>
#include <vector>
#include <windows.h>

// What laying the window out at a DPI takes: the layout's rectangles scaled, fonts made for the
// DPI, and the controls whose size follows their font fitted to it.
namespace mdlLayout {

// Where a control lies in its container, in twips (15 to the pixel at 96 DPI).
struct Twips {
    int id, left, top, width, height;
};

// The rectangle in pixels at dpi: the pixels at 96 DPI, each scaled.
RECT Placement(const Twips& at, int dpi);

// The DPI the system runs at: a window's until it is moved to a monitor of another scale.
int SystemDpi();

// The DPI to lay a window out at: ownDpi, the window's own as GetDpiForWindow gives it, when
// there is one (0: the call failed or the system lacks it), else the system's. A monitor whose
// scale changed without signing out has a DPI other than the system's.
int ChosenDpi(unsigned ownDpi, int systemDpi);
// ChosenDpi for window, GetDpiForWindow looked up at run time (Windows 10 1607 on).
int WindowDpi(HWND window);
// The frame of a window whose client area is client pixels, at dpi (AdjustWindowRectExForDpi
// where the system has it).
RECT FrameFor(SIZE client, DWORD style, DWORD exStyle, int dpi);

// The system's message font, made for dpi.
HFONT MessageFont(int dpi);
// Bold 8.25-point "MS Sans Serif", Central European character set, made for dpi; where a label's
// text holds characters that font cannot show (ClassicLabelFontShows), bold "Microsoft Sans
// Serif" at the same size, which shows Cyrillic and Greek and is linked to the system's fonts
// for the scripts it lacks (Chinese, Japanese).
HFONT LabelFont(int dpi, const std::vector<std::wstring>& texts = {});
// Whether "MS Sans Serif" shows text as it is: a raster font of the Central European code page,
// it shows a character outside it as another, and takes no part in font linking.
bool ClassicLabelFontShows(const std::wstring& text);

SIZE TextExtent(HWND control, HFONT font, const std::wstring& text);

// The list box's item height: its font's line.
void FitListItems(HWND list, HFONT font);
// The closed field of a drop-down list made height pixels tall, as near as its font allows (the
// field is the item height plus its frame).
void FitComboField(HWND combo, int height);
// Fonts wider than the classic one would clip a label: it grows to show its text, but no
// further than gap short of right (in its parent); a text still too wide wraps at words and the
// label grows as tall as its lines, else it grows at most gap taller.
void FitLabel(HWND label, HFONT font, int right, int gap);

} // namespace mdlLayout
