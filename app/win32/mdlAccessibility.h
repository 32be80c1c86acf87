#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <windows.h>

struct IAccPropServices;

// What a screen reader is told of the window beyond what its controls say themselves.
namespace mdlAccessibility {

// The logo as a picture, and a label whose words the control after it says itself
// (sayingAgain) left out of what is read, through the accessibility annotations where the
// system has them.
void Annotate(HWND logo, HWND sayingAgain);

// The file list's name and description, and each row's, answered when a screen reader asks
// (an IAccPropServer for the list and its items): a new copy each time, so no text it reads
// changes under it. Without the annotations the list box's own texts stay: the names.
class ListAnnotation {
public:
    // The text for child (CHILDID_SELF the list, n the row n - 1): its name, or its description;
    // empty when there is none.
    using Text = std::function<std::wstring(DWORD child, bool description)>;

    ListAnnotation(HWND list, Text text);
    ~ListAnnotation();
    ListAnnotation(const ListAnnotation&) = delete;
    ListAnnotation& operator=(const ListAnnotation&) = delete;

private:
    class Server;

    HWND list_;
    IAccPropServices* services_ = nullptr;
    Server* server_ = nullptr;
};

} // namespace mdlAccessibility
