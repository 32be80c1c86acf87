// ostrapel.exe [--language TAG]: the window, and a message loop like any Win32 program's. TAG
// chooses the language of its words ("de", "pt_BR", "en"); the user's preferred one without it.

#include "frmMain.h"
#include "mdlOptions.h"
#include "system/Paths.h"

#include <commctrl.h>
#include <objbase.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    std::vector<std::wstring> arguments = mdlOptions::Arguments();
    mdlOptions::ChooseLanguage(arguments);
    // The shell's folder browser wants a single-threaded apartment.
    (void)::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);

    int status = 0;
    {
        frmMain window(instance, ostrapel::ApplicationDirectory(), nullptr, true);
        ::ShowWindow(window.Handle(), show);
        ::UpdateWindow(window.Handle());
        window.ShowStartupNotice(); // a missing cipher tool, named once the window shows
        MSG message;
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            // Tab, arrow keys and Enter move between the controls as in a dialog.
            if (window.TakeAccessKey(message) ||
                (window.Handle() != nullptr && ::IsDialogMessageW(window.Handle(), &message))) {
                continue;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        status = static_cast<int>(message.wParam);
    }
    ::CoUninitialize();
    return status;
}
