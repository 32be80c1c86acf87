#pragma once

#include <string>
#include <windows.h>

// The report box of a batch: a task dialog titled "Ostrapel" with the report as its text, and a
// "Show details..." button that opens the entries not changed in a dialog of their own, where a
// scrolling text keeps thousands of lines within the screen.
namespace mdlReportBox {

// Control identifiers, for whoever drives the boxes through messages.
enum Id : int {
    kShowDetails = 1000, // the report box's details button
    kDetailsText = 1001, // the details dialog's read-only text
};

// Shows the report and returns once the user has dismissed it: the information icon when every
// entry changed, the warning icon otherwise. details: the entries not changed, one a line,
// lines joined by '\n'; no details button when empty. Without the task dialog (common controls
// older than version 6) a message box shows the text alone.
void Show(HWND owner, const std::wstring& text, const std::wstring& details, bool allChanged);

// The details in a modal dialog sized to fit the owner's work area, with a read-only text that
// scrolls both ways and an OK button.
void ShowDetails(HWND owner, const std::wstring& details);

} // namespace mdlReportBox
