#pragma once

class QAccessibleInterface;
class QObject;
class QString;

// Marks a label that only says again the name of the control it names: the window leaves it out
// of what a screen reader sees.
inline constexpr const char* kSaidByItsControl = "saidByItsControl";

// Qt's accessibility factory for the window: installed once, before its controls are built.
QAccessibleInterface* WindowAccessibleFactory(const QString& className, QObject* object);
