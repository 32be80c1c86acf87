#pragma once

#include <QtCore/qnamespace.h>

class QAbstractItemDelegate;
class QAbstractItemView;
class QFont;
class QObject;
class QStyle;
class QWidget;

// The file list's item data roles, which the window fills and the version delegate draws.
namespace listrole {
// An entry name's bytes exactly as the folder listing gave them.
inline constexpr int kName = Qt::UserRole + 1;
// The save's current version as shown ("2.00", "250", "not read"), or nothing before it has been
// read.
inline constexpr int kVersion = Qt::UserRole + 2;
// The name as the list draws it (ListRow::shown).
inline constexpr int kShown = Qt::UserRole + 3;
} // namespace listrole

// A style that draws a group box with its caption on the frame's top edge, the line broken
// behind it, as the window's layout places frames within frames; nothing is laid over the box's
// inside, so a white box stays white. Owned by parent.
QStyle* NewGroupBoxStyle(QObject* parent);

// The width such a group box gives its caption's text.
int GroupBoxCaptionRoom(const QWidget* groupBox);

// A style that draws the base style's controls with a clear focus cue: a frame in the
// highlight colour around the button, combo box or list that has the focus. Owned by parent.
QStyle* NewFocusCueStyle(QObject* parent);

// Draws a listed save's name as shown (listrole::kShown) with its version
// (listrole::kVersion) beside it, set apart on the right, in the list's narrow column; the name
// gives way first when both do not fit. Rows are no wider than the list. Owned by parent.
QAbstractItemDelegate* NewVersionDelegate(QObject* parent);

// Between a row's name and its version, in pixels.
inline constexpr int kVersionGap = 6;

// The width a row of view has for its name and version, as the version delegate draws them.
int RowTextWidth(const QAbstractItemView* view);

// White behind the controls, as the window has always been, where the theme's text is dark; on a
// dark theme or in high contrast its own background stays, so that its light text reads.
void PaintWhite(QWidget* widget);

// The window's labels' bold font: the classic one where it is installed, else the desktop's.
QFont LabelFont();
