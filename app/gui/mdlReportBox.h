#pragma once

#include "WindowView.h"

class QAbstractButton;
class QMessageBox;
class QWidget;

// The message box titled "Ostrapel" that reports a batch or a restore.
namespace mdlReportBox {

// Shows the box, modal to owner, with the longest summary whose box, details shown, fits the
// screen, and returns once the user has dismissed it: information icon unless box.warning, the
// details behind the "Show Details..." button.
void Show(QWidget* owner, const ostrapel::ReportBox& box);

// The "Show Details..." button of a message box, if it has one.
QAbstractButton* DetailsButton(const QMessageBox& box);

} // namespace mdlReportBox
