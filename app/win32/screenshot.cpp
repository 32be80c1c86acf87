// Shows the window and writes a PNG of its client area:
//   ostrapel_screenshot [--language TAG] OUT.png [--loaded | --batch | --report |
//                       --report-details | --restore-menu | --restore | --restore-details]
// --language: the window's words in that language, as ostrapel.exe takes it.
// With --loaded, a sample save folder is listed, its saves' versions read and version 2.00
// chosen. --batch: the same folder being converted to 3.00, the batch caught under way.
// --report: a folder of four saves and 60 screenshots is converted to 2.00, the cipher tool
// failing on the screenshots, and the whole screen is written with the box reporting it;
// --report-details does the same with the details shown. The program serves as its own cipher
// tool (see mdlScene::CipherTool). Each picture is taken once what it shows has painted; one
// that would not fit the screen or comes out blank is not written (status 1).
// With OSTRAPEL_SHOT_HIGH_CONTRAST set, the picture shows the window in a dark high-contrast
// scheme. --restore-menu keeps the sample saves' originals as a batch does, then writes the window
// with the file list's right-click menu open. --restore keeps the originals of 64 saves, has the
// game write 57 of them and 3 go, restores them from the file list's menu and writes the whole
// screen with the box reporting the restore; --restore-details does the same with the details
// shown.

#include "Report.h"
#include "conversion/Backups.h"
#include "frmMain.h"
#include "mdlCapture.h"
#include "mdlOptions.h"
#include "mdlReportBox.h"
#include "mdlScene.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <commctrl.h>
#include <cstdio>
#include <filesystem>
#include <objbase.h>
#include <shellapi.h>
#include <string>
#include <vector>
#undef SetCurrentDirectory

namespace {

std::string Utf8(const std::wstring& wide) {
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), length, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

// The report scenes: the boxes are modal, so a timer running inside their message loops finds
// the report box, opens its details if asked, lets them paint, writes the screen and closes them.
struct ReportScene {
    HWND owner = nullptr;
    bool details = false;
    std::wstring target;
    HWND box = nullptr;
    HWND detailsDialog = nullptr;
    DWORD shownAt = 0;
    bool written = false;
    bool done = false;
};
ReportScene* scene = nullptr;

// The first visible dialog of this thread that owner owns.
HWND DialogOwnedBy(HWND owner) {
    std::pair<HWND, HWND> found{owner, nullptr};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            auto& [wanted, dialog] = *reinterpret_cast<std::pair<HWND, HWND>*>(data);
            wchar_t kind[16] = {};
            ::GetClassNameW(window, kind, 16);
            if (std::wstring(kind) == L"#32770" && ::IsWindowVisible(window) &&
                ::GetWindow(window, GW_OWNER) == wanted) {
                dialog = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found.second;
}

void CALLBACK StepReportScene(HWND, UINT, UINT_PTR, DWORD) {
    ReportScene& at = *scene;
    if (at.done) {
        return;
    }
    if (at.box == nullptr) {
        at.box = DialogOwnedBy(at.owner);
        if (at.box != nullptr && at.details) {
            ::PostMessageW(at.box, TDM_CLICK_BUTTON, mdlReportBox::kShowDetails, 0);
        }
        at.shownAt = ::GetTickCount();
        return;
    }
    if (at.details && at.detailsDialog == nullptr) {
        at.detailsDialog = DialogOwnedBy(at.box);
        at.shownAt = ::GetTickCount();
        return;
    }
    if (::GetTickCount() - at.shownAt < 500) {
        return;
    }
    at.done = true; // the capture below pumps messages, this timer's among them
    mdlCapture::WaitPainted(at.detailsDialog != nullptr ? at.detailsDialog : at.box);
    at.written = mdlCapture::Capture(POINT{0, 0}, ::GetSystemMetrics(SM_CXSCREEN),
                                     ::GetSystemMetrics(SM_CYSCREEN), at.target);
    if (at.detailsDialog != nullptr) {
        ::PostMessageW(at.detailsDialog, WM_COMMAND, IDOK, 0);
    }
    ::PostMessageW(at.box, TDM_CLICK_BUTTON, IDOK, 0);
}

// The menu scene: a timer running inside the menu's loop finds it, lets it paint, writes the
// window and the menu, and closes the menu.
struct MenuScene {
    HWND window = nullptr;
    std::wstring target;
    HWND menu = nullptr;
    DWORD shownAt = 0;
    int ticks = 0;
    bool capturing = false; // the capture pumps messages, this timer's among them
    bool written = false;
};
MenuScene* menuScene = nullptr;

void CALLBACK StepMenuScene(HWND, UINT, UINT_PTR, DWORD) {
    MenuScene& at = *menuScene;
    if (at.capturing) {
        return;
    }
    if (++at.ticks > 200) {
        ::EndMenu();
        return;
    }
    if (at.menu == nullptr) {
        ::EnumThreadWindows(
            ::GetCurrentThreadId(),
            [](HWND window, LPARAM data) -> BOOL {
                wchar_t kind[16] = {};
                ::GetClassNameW(window, kind, 16);
                if (std::wstring(kind) == L"#32768" && ::IsWindowVisible(window)) {
                    *reinterpret_cast<HWND*>(data) = window;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&at.menu));
        at.shownAt = ::GetTickCount();
        return;
    }
    if (::GetTickCount() - at.shownAt < 500) {
        return;
    }
    at.capturing = true;
    mdlCapture::WaitPainted(at.window);
    // The client area, as in the other pictures, and the menu.
    RECT window{};
    RECT menu{};
    RECT both{};
    ::GetClientRect(at.window, &window);
    ::MapWindowPoints(at.window, nullptr, reinterpret_cast<POINT*>(&window), 2);
    ::GetWindowRect(at.menu, &menu);
    ::UnionRect(&both, &window, &menu);
    at.written = mdlCapture::Capture(POINT{both.left, both.top}, both.right - both.left,
                                     both.bottom - both.top, at.target);
    ::EndMenu();
}

std::wstring Wide(const std::string& utf8) {
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                              static_cast<int>(wide.size()))));
    return wide;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    std::vector<std::wstring> arguments = mdlOptions::Arguments();
    if (arguments.size() == 1 &&
        (arguments[0].rfind(L"/decrypt:", 0) == 0 || arguments[0].rfind(L"/encrypt:", 0) == 0)) {
        return mdlScene::CipherTool(arguments[0]);
    }
    mdlOptions::ChooseLanguage(arguments);
    const std::size_t given = arguments.size(); // the picture, then its scene
    const std::wstring sceneName = given == 2 ? arguments[1] : L"";
    if (given < 1 || given > 2 ||
        (given == 2 && sceneName != L"--loaded" && sceneName != L"--batch" &&
         sceneName != L"--report" && sceneName != L"--report-details" &&
         sceneName != L"--restore-menu" && sceneName != L"--restore" &&
         sceneName != L"--restore-details")) {
        std::fprintf(stderr, "usage: ostrapel_screenshot [--language TAG] OUT.png [--loaded | "
                             "--batch | --report | --report-details | --restore-menu | --restore "
                             "| --restore-details]\n");
        return 2;
    }
    const bool loaded = given == 2;
    const bool menu = sceneName == L"--restore-menu";
    const bool restore = sceneName.rfind(L"--restore", 0) == 0 && !menu;
    const bool report = sceneName.rfind(L"--report", 0) == 0 || restore;
    const bool batch = sceneName == L"--batch";
    const bool versions = sceneName == L"--loaded" || batch;
    const bool converted = sceneName.rfind(L"--report", 0) == 0; // by a real batch
    wchar_t full[MAX_PATH];
    ::GetFullPathNameW(arguments[0].c_str(), MAX_PATH, full, nullptr);
    const std::wstring target = full;

    (void)::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);

    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::string root = ostrapel::JoinPath(
        Utf8(temp), "ostrapel-screenshot-" + std::to_string(::GetCurrentProcessId()));
    const std::string app = ostrapel::JoinPath(root, "app");
    const std::string saves = ostrapel::JoinPath(root, "saves");
    // app\\Backups makes the program folder portable: the menu scene's backups stay in the
    // temporary folder.
    const std::string backups = ostrapel::JoinPath(app, ostrapel::kPortableBackupFolder);
    for (const std::string& folder : {root, app, ostrapel::JoinPath(app, "Decrypt"),
                                      ostrapel::JoinPath(app, "Decrypt\\temp"), backups, saves}) {
        (void)ostrapel::MakeDirectory(folder);
    }
    if (versions || converted) {
        if (versions) {
            // A short profile that cannot be read, and three saves at different versions.
            const std::pair<const char*, std::string> sample[] = {
                {"profile.sav", mdlScene::SaveHolding(0, 100)},
                {"slot1.sav", mdlScene::SaveHolding(200, 4096)},
                {"slot2.sav", mdlScene::SaveHolding(100, 4096)},
                {"slot3.sav", mdlScene::SaveHolding(250, 4096)}};
            for (const auto& [name, bytes] : sample) {
                (void)ostrapel::WriteBytesAt(ostrapel::JoinPath(saves, name), 0, bytes);
            }
        } else {
            for (const char* name : {"profile.sav", "slot1.sav", "slot2.sav", "slot3.sav"}) {
                (void)ostrapel::WriteBytesAt(ostrapel::JoinPath(saves, name), 0,
                                             mdlScene::SaveHolding(100, 4096));
            }
            for (int i = 1; i <= 60; ++i) {
                (void)ostrapel::WriteBytesAt(
                    ostrapel::JoinPath(saves, "screenshot_" + std::to_string(i) + ".png"), 0,
                    "\x89PNG");
            }
        }
        // OSTRAPEL_SHOT_MANY: 300 more saves whose long names begin alike.
        for (int i = 1;
             i <= (::GetEnvironmentVariableW(L"OSTRAPEL_SHOT_MANY", nullptr, 0) > 0 ? 300 : 0);
             ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "Autosave_Chapter03_Checkpoint_%03d.sav", i);
            (void)ostrapel::WriteBytesAt(ostrapel::JoinPath(saves, name), 0,
                                         mdlScene::SaveHolding(100, 4096));
        }
        wchar_t self[MAX_PATH];
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        const std::wstring tool = Wide(ostrapel::JoinPath(app, "Decrypt\\decrypt.exe"));
        if (!::CopyFileW(self, tool.c_str(), FALSE)) {
            std::fprintf(stderr, "cannot write the cipher tool\n");
            return 1;
        }
    } else {
        for (const char* name : {"profile.sav", "slot1.sav", "slot2.sav", "slot3.sav"}) {
            (void)ostrapel::WriteBytesAt(ostrapel::JoinPath(saves, name), 0, "");
        }
    }
    std::vector<std::string> kept = {"profile.sav", "slot1.sav", "slot2.sav", "slot3.sav"};
    const auto autosave = [](int i) { return "autosave_" + std::to_string(i) + ".sav"; };
    if (restore) {
        for (int i = 1; i <= 60; ++i) {
            (void)ostrapel::WriteBytesAt(ostrapel::JoinPath(saves, autosave(i)), 0, "");
            kept.push_back(autosave(i));
        }
    }
    if ((menu || restore) && !mdlScene::KeepOriginals(app, saves, kept)) {
        std::fprintf(stderr, "cannot keep the sample saves' originals\n");
        return 1;
    }
    if (restore) {
        // Written by the game since, or gone: these are left alone.
        for (int i = 1; i <= 60; ++i) {
            const std::string path = ostrapel::JoinPath(saves, autosave(i));
            (void)(i <= 57 ? ostrapel::WriteBytesAt(path, 0, "written by the game")
                           : ostrapel::RemoveFile(path));
        }
    }

    int status = 1;
    {
        const mdlScene::HighContrastScheme contrast;
        frmMain window(instance, app,
                       std::make_shared<mdlSHBrowseForFolder::FixedFolderChooser>(saves), false);
        if (mdlScene::HighContrastScheme::on()) {
            // Wine reports no high contrast; the window is told it is on.
            window.setContrastProbe([] { return true; });
        }
        // No tooltip: the pointer of the virtual display rests over the window.
        ::EnumThreadWindows(
            ::GetCurrentThreadId(),
            [](HWND tips, LPARAM) -> BOOL {
                wchar_t kind[32] = {};
                ::GetClassNameW(tips, kind, 32);
                if (std::wstring(kind) == TOOLTIPS_CLASSW) {
                    ::SendMessageW(tips, TTM_ACTIVATE, FALSE, 0);
                }
                return TRUE;
            },
            0);
        ::ShowWindow(window.Handle(), SW_SHOWNORMAL);
        ::SetForegroundWindow(window.Handle());
        ::UpdateWindow(window.Handle());
        if (loaded) {
            window.Model().OpenClicked();
            for (DWORD waited = 0; window.Model().ReadingVersions() && waited < 10000;
                 waited += 50) {
                mdlCapture::Pump(50);
            }
            HWND combo = window.Control(frmMain::kComboDLC);
            ::SendMessageW(combo, CB_SETCURSEL, batch ? 3 : 2, 0);
            ::SendMessageW(window.Handle(), WM_COMMAND,
                           MAKEWPARAM(frmMain::kComboDLC, CBN_SELCHANGE),
                           reinterpret_cast<LPARAM>(combo));
        }
        mdlCapture::Pump(500);
        if (report) {
            ReportScene at;
            at.owner = window.Handle();
            at.target = target;
            scene = &at;
            at.details = sceneName.ends_with(L"-details");
            const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, &StepReportScene);
            if (restore) {
                // The menu's newest set, its question answered; the box shows when it has ended.
                window.Model().RestoreChosen();
                for (DWORD waited = 0; !at.done && waited < 20000; waited += 50) {
                    mdlCapture::Pump(50);
                }
                for (DWORD waited = 0; window.Model().RestoreRunning() && waited < 20000;
                     waited += 50) {
                    mdlCapture::Pump(50);
                }
            } else {
                // Version 2.00 is chosen; the box shows when the batch has ended.
                window.Model().SaveClicked();
                for (DWORD waited = 0; !at.done && waited < 30000; waited += 50) {
                    mdlCapture::Pump(50);
                }
                for (DWORD waited = 0; window.Model().BatchRunning() && waited < 20000;
                     waited += 50) {
                    mdlCapture::Pump(50);
                }
            }
            ::KillTimer(nullptr, timer);
            scene = nullptr;
            status = at.written ? 0 : 1;
        } else if (menu) {
            MenuScene at;
            at.window = window.Handle();
            at.target = target;
            menuScene = &at;
            const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, &StepMenuScene);
            HWND list = window.Control(frmMain::kList);
            RECT area{};
            ::GetWindowRect(list, &area);
            ::SendMessageW(list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list),
                           MAKELPARAM(area.left + 40, area.top + 30));
            ::KillTimer(nullptr, timer);
            menuScene = nullptr;
            status = at.written ? 0 : 1;
        } else if (batch) {
            ::SetEnvironmentVariableW(L"OSTRAPEL_SHOT_SLOW", L"1");
            window.setReportPresenter([](HWND, const ostrapel::ReportBox&) {});
            window.Model().SaveClicked();
            mdlCapture::Pump(1500);
            status = mdlCapture::Capture(window.Handle(), target) ? 0 : 1;
            window.Model().CancelPressed();
            for (DWORD waited = 0; window.Model().BatchRunning() && waited < 20000; waited += 50) {
                mdlCapture::Pump(50);
            }
        } else {
            status = mdlCapture::Capture(window.Handle(), target) ? 0 : 1;
        }
    }
    (void)ostrapel::SetCurrentDirectory(Utf8(temp));
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(Wide(backups)), ignored);
    for (const std::string& folder : {saves, ostrapel::JoinPath(app, "Decrypt\\temp")}) {
        (void)ostrapel::RemoveFilesIn(folder);
    }
    for (const std::string& folder : {ostrapel::JoinPath(app, "Decrypt\\temp"),
                                      ostrapel::JoinPath(app, "Decrypt"), saves, app, root}) {
        (void)ostrapel::RemoveFilesIn(folder);
        (void)ostrapel::RemoveEmptyDirectory(folder);
    }
    ::CoUninitialize();
    return status;
}
