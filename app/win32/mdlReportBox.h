#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <windows.h>

namespace ostrapel {
struct ReportBox;
struct BoxReport;
} // namespace ostrapel

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
// text with a no-break space for each space beside a digit: the box wraps its lines between
// words, and a number then stays with its word ("(exit code 65)", "and 10 more") and a time
// with its date.
std::wstring KeptTogether(std::wstring text);

// The details in a modal dialog sized to fit the owner's work area, with a read-only text that
// scrolls both ways and an OK button.
void ShowDetails(HWND owner, const std::wstring& details);

// The first of the model's ever shorter summaries (ReportBox::ShorterSummaries) whose text is at
// most room pixels tall as textHeight measures it; the last when none is.
std::size_t FittingSummary(const ostrapel::ReportBox& box,
                           const std::function<int(const std::wstring&)>& textHeight, int room);
// The report composed with the fitting summary for the work area of owner's monitor, its text
// measured in the message font at the DPI of owner.
ostrapel::BoxReport FittingReport(HWND owner, const ostrapel::ReportBox& box);

// While one lives, every box this thread opens over owner (a message box, the task dialog) comes
// up centred on owner, within its monitor's work area; and Ctrl+C in it copies copyText, when
// given, in place of what the box would copy itself.
class CentredBoxes {
public:
    explicit CentredBoxes(HWND owner, std::wstring copyText = {});
    ~CentredBoxes();
    CentredBoxes(const CentredBoxes&) = delete;
    CentredBoxes& operator=(const CentredBoxes&) = delete;

private:
    static LRESULT CALLBACK Activating(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK Filtering(int code, WPARAM wParam, LPARAM lParam);

    HWND owner_;
    std::wstring copyText_;
    HHOOK activating_ = nullptr;
    HHOOK filtering_ = nullptr;
    CentredBoxes* outer_ = nullptr;
};

// Centres window on owner, kept within the work area of owner's monitor.
void CentreOn(HWND window, HWND owner);
// Puts text on the clipboard; lines end in "\r\n".
bool CopyText(HWND owner, const std::wstring& text);

} // namespace mdlReportBox
