#pragma once

#include "WindowView.h"

#include <cstddef>
#include <string>
#include <vector>
#include <windows.h>

// The file list's drawing: an owner-drawn list box whose items hold the exact names, drawn
// from the model's rows, in a frame whose caption shows the batch's progress.
namespace mdlFileList {

// Draws a row: the version at the right in the width it needs, the shown name in the rest, cut
// in the middle when too long so that its end, which tells saves apart, stays.
void DrawItem(const DRAWITEMSTRUCT& item, const ostrapel::ListRow* row, HFONT font, int dpi);

// The frame's caption: the prefix always shows; a name too long for the frame is cut short in
// the middle.
std::wstring FittedCaption(HWND frame, HFONT font, const ostrapel::ListCaption& caption, int dpi);

// The room the frame's caption has, in pixels: its width short of the frame's corners.
int CaptionRoom(HWND frame, int dpi);

// prefix and as much of name as fit in room pixels with the font selected into dc; a name cut
// short loses its middle ("screens...t_12.png").
std::wstring FittedInTheMiddle(HDC dc, const std::string& prefix, const std::string& name,
                               int room);

// Where the list's menu opens, in screen coordinates: at the point given, or when it was asked
// for from the keyboard (both coordinates -1) below the selected entry when it shows, else at
// the list's corner.
POINT MenuPoint(HWND list, LPARAM at);

// What the list does with a key message it is sent: Shift+F10 and the menu key open its menu
// (on the key going down; its going up is swallowed, so that F10 does not then enter the menu
// bar's mode and the menu does not open twice); other keys pass on.
enum class KeyStep { Pass, OpenMenu, Swallow };
KeyStep MenuKey(UINT message, WPARAM key, bool shift);

// What a screen reader is told of child of the list (ListAnnotation): CHILDID_SELF the list
// itself, named by its frame's title and described by the listed folder; n the row n - 1, its
// accessible name and its description. Empty for none. The list box's own strings stay the
// names, which never change while they are listed.
std::wstring AccessibleText(const std::vector<ostrapel::ListRow>& rows,
                            const ostrapel::ListCaption& caption, DWORD child, bool description);

// What may move the list's top: the scroll bar, the wheel, the keys, a selection brought into
// view, the list box's own scrolling while the mouse drags, a new size.
bool MayMoveTop(UINT message);

// The mouse messages the list relays to its tooltip (TTM_RELAYEVENT).
bool ForTheTip(UINT message);

// Whether the list's items are the rows' names, in order.
bool SameNames(HWND list, const std::vector<ostrapel::ListRow>& rows);

// The list's items made the rows' names. Drawn once when all are in: redrawn after each, a few
// hundred names took a third of a second under Wine. Items that are the names already are kept
// (with the list's top and selection) and only drawn again.
void Fill(HWND list, const std::vector<ostrapel::ListRow>& rows);

// The row at index drawn again, without being erased first.
void RedrawRow(HWND list, std::size_t index);

// The frame's caption made text, the frame drawn again at once and the controls inside it left
// alone; nothing happens when it shows text already (false).
bool SetCaption(HWND frame, const std::wstring& text);

// The row under a point of the list's client area; -1 for none.
int RowAt(HWND list, LPARAM at);

// text as a control shows it with an access key: as it is when it marks one ('&'), else with its
// first letter marked.
std::wstring WithAccessKey(const std::string& text);

} // namespace mdlFileList
