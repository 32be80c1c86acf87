// The Win32 window driven through messages, with an injected folder chooser and the stand-in
// cipher tool; under Wine with a virtual display.

#include "Report.h"
#include "RestoreChoices.h"
#include "TestSupport.h"
#include "Words.h"
#include "conversion/Backups.h"
#include "frmMain.h"
#include "mdlFileList.h"
#include "mdlLayout.h"
#include "mdlOptions.h"
#include "mdlPictureButton.h"
#include "mdlReportBox.h"
#include "resources/resource.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/Process.h"
#include "system/UserFolders.h"
#include "system/windows/WindowsText.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <commctrl.h>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <shlobj.h>
#include <shobjidl.h>
#include <thread>
#include <tuple>
// windows.h, included after system/FileSystem.h, maps the program's SetCurrentDirectory again.
#undef SetCurrentDirectory

using testsupport::EncipheredSave;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

// Yields whatever the test put in next; nothing means the user cancelled.
class ScriptedChooser final : public mdlSHBrowseForFolder::FolderChooser {
public:
    std::optional<std::string> next;
    std::wstring title;
    int calls = 0;
    std::optional<std::string> ChooseFolder(HWND, const std::wstring& shownTitle) override {
        ++calls;
        title = shownTitle;
        return next;
    }
};

// Runs the window's messages until done() holds or the time is up.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::wstring Text(HWND control) {
    wchar_t text[512];
    return std::wstring(text, static_cast<std::size_t>(::GetWindowTextW(control, text, 512)));
}

std::wstring Wide(const std::string& utf8) {
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                              static_cast<int>(wide.size()))));
    return wide;
}

std::vector<std::wstring> ListItems(HWND list) {
    std::vector<std::wstring> items;
    const auto count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[512];
        ::SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        items.emplace_back(text);
    }
    return items;
}

// A control's rectangle in its container's client coordinates.
RECT Placement(HWND control) {
    RECT rect{};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

testing::AssertionResult At(HWND control, int left, int top, int width, int height) {
    const RECT rect = Placement(control);
    // Twips at 15 to the pixel.
    const RECT expected{left / 15, top / 15, left / 15 + width / 15, top / 15 + height / 15};
    if (EqualRect(&rect, &expected)) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure()
           << "at " << rect.left << "," << rect.top << " size " << rect.right - rect.left << "x"
           << rect.bottom - rect.top << ", expected " << expected.left << "," << expected.top
           << " size " << expected.right - expected.left << "x" << expected.bottom - expected.top;
}

// What a watch saw of the report box and its details dialog while they were up.
struct BoxWatch {
    HWND owner = nullptr;
    bool openDetails = false;
    bool copy = false; // presses Ctrl+C in the box before closing it
    std::wstring copied;
    HWND box = nullptr;
    RECT boxRect{};
    std::wstring boxTitle;
    bool detailsButton = false;
    std::wstring detailsButtonText;
    std::wstring boxTexts; // every text of the box's controls, one a line
    HWND details = nullptr;
    std::wstring detailsOk; // the details dialog's button
    RECT detailsRect{};
    HICON icon = nullptr; // the box's main icon
    std::wstring detailsTitle;
    std::wstring detailsText;
    LONG detailsTextStyle = 0;
    LRESULT detailsLines = 0;
    int ticks = 0;
    bool gaveUp = false;
};
BoxWatch* watching = nullptr;

// The visible dialogs of this thread that owner owns.
std::vector<HWND> DialogsOwnedBy(HWND owner) {
    std::pair<HWND, std::vector<HWND>> found{owner, {}};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            auto& [wanted, dialogs] = *reinterpret_cast<std::pair<HWND, std::vector<HWND>>*>(data);
            wchar_t kind[16] = {};
            ::GetClassNameW(window, kind, 16);
            if (std::wstring(kind) == L"#32770" && ::IsWindowVisible(window) &&
                ::GetWindow(window, GW_OWNER) == wanted) {
                dialogs.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found.second;
}

// Runs inside the boxes' modal loops: notes the report box, opens its details if asked, notes
// the details dialog, then closes both with messages.
void CALLBACK WatchBoxes(HWND, UINT, UINT_PTR, DWORD) {
    BoxWatch& watch = *watching;
    if (++watch.ticks > 400) {
        watch.gaveUp = true;
        for (HWND dialog : {watch.details, watch.box}) {
            if (dialog != nullptr && ::IsWindow(dialog)) {
                ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            }
        }
        return;
    }
    if (watch.box == nullptr) {
        const std::vector<HWND> boxes = DialogsOwnedBy(watch.owner);
        if (boxes.empty()) {
            return;
        }
        watch.box = boxes.front();
        ::GetWindowRect(watch.box, &watch.boxRect);
        watch.boxTitle = Text(watch.box);
        ::EnumChildWindows(
            watch.box,
            [](HWND child, LPARAM data) -> BOOL {
                if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                    wchar_t kind[16] = {};
                    ::GetClassNameW(child, kind, 16);
                    if (_wcsicmp(kind, L"Static") == 0) {
                        *reinterpret_cast<HICON*>(data) =
                            reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0));
                        return FALSE;
                    }
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&watch.icon));
        // Wine's task dialog makes its buttons child windows with the buttons' identifiers.
        watch.detailsButton = ::GetDlgItem(watch.box, mdlReportBox::kShowDetails) != nullptr;
        watch.detailsButtonText = Text(::GetDlgItem(watch.box, mdlReportBox::kShowDetails));
        ::EnumChildWindows(
            watch.box,
            [](HWND child, LPARAM data) -> BOOL {
                std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(child)) + 1,
                                  L'\0');
                text.resize(static_cast<std::size_t>(
                    ::GetWindowTextW(child, text.data(), static_cast<int>(text.size()))));
                *reinterpret_cast<std::wstring*>(data) += text + L"\n";
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&watch.boxTexts));
        if (watch.copy) {
            BYTE keys[256] = {};
            ::GetKeyboardState(keys);
            keys[VK_CONTROL] = 0x80;
            ::SetKeyboardState(keys);
            ::PostMessageW(::GetFocus() != nullptr ? ::GetFocus() : watch.box, WM_KEYDOWN, 'C', 1);
            return;
        }
        ::PostMessageW(watch.box, TDM_CLICK_BUTTON,
                       watch.openDetails ? mdlReportBox::kShowDetails : IDOK, 0);
        return;
    }
    if (watch.copy) {
        watch.copy = false;
        BYTE keys[256] = {};
        ::GetKeyboardState(keys);
        keys[VK_CONTROL] = 0;
        ::SetKeyboardState(keys);
        if (::OpenClipboard(nullptr)) {
            if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT); data != nullptr) {
                watch.copied = static_cast<const wchar_t*>(::GlobalLock(data));
                ::GlobalUnlock(data);
            }
            ::CloseClipboard();
        }
        ::PostMessageW(watch.box, TDM_CLICK_BUTTON,
                       watch.openDetails ? mdlReportBox::kShowDetails : IDOK, 0);
        return;
    }
    if (!watch.openDetails || !::IsWindow(watch.box)) {
        return;
    }
    if (watch.details == nullptr) {
        const std::vector<HWND> dialogs = DialogsOwnedBy(watch.box);
        if (dialogs.empty()) {
            return;
        }
        watch.details = dialogs.front();
        ::GetWindowRect(watch.details, &watch.detailsRect);
        watch.detailsTitle = Text(watch.details);
        watch.detailsOk = Text(::GetDlgItem(watch.details, IDOK));
        HWND text = ::GetDlgItem(watch.details, mdlReportBox::kDetailsText);
        watch.detailsText.resize(static_cast<std::size_t>(::GetWindowTextLengthW(text)) + 1);
        watch.detailsText.resize(static_cast<std::size_t>(::GetWindowTextW(
            text, watch.detailsText.data(), static_cast<int>(watch.detailsText.size()))));
        watch.detailsTextStyle = ::GetWindowLongW(text, GWL_STYLE);
        watch.detailsLines = ::SendMessageW(text, EM_GETLINECOUNT, 0, 0);
        ::PostMessageW(watch.details, WM_COMMAND, IDOK, 0);
    } else if (!::IsWindow(watch.details)) {
        ::PostMessageW(watch.box, TDM_CLICK_BUTTON, IDOK, 0);
        watch.openDetails = false;
    }
}

// What a watch saw of the file list's popup menu while it was up.
struct MenuWatch {
    bool choose = false; // picks the first item from the keyboard instead of dismissing the menu
    bool seen = false;
    RECT rect{};
    int items = 0;
    std::wstring text; // of the restore item
    bool enabled = false;
    int ticks = 0;
};
MenuWatch* watchingMenu = nullptr;

// Runs inside the menu's modal loop: notes the menu, then dismisses it or chooses its item.
void CALLBACK WatchMenu(HWND, UINT, UINT_PTR, DWORD) {
    MenuWatch& watch = *watchingMenu;
    if (watch.seen) {
        return;
    }
    if (++watch.ticks > 200) {
        ::EndMenu();
        return;
    }
    HWND popup = nullptr;
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
        reinterpret_cast<LPARAM>(&popup));
    if (popup == nullptr) {
        return;
    }
    watch.seen = true;
    ::GetWindowRect(popup, &watch.rect);
    auto* menu = reinterpret_cast<HMENU>(::SendMessageW(popup, MN_GETHMENU, 0, 0));
    watch.items = ::GetMenuItemCount(menu);
    wchar_t text[256] = {};
    ::GetMenuStringW(menu, frmMain::kMnuRestore, text, 256, MF_BYCOMMAND);
    watch.text = text;
    watch.enabled =
        (::GetMenuState(menu, frmMain::kMnuRestore, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED)) == 0;
    if (watch.choose) {
        ::PostMessageW(popup, WM_KEYDOWN, VK_DOWN, 0);
        ::PostMessageW(popup, WM_KEYDOWN, VK_RETURN, 0);
    } else {
        ::EndMenu();
    }
}

// Sends the list the request for its context menu (at a screen point, or from the keyboard
// with both coordinates -1) and returns what the watch saw of the menu.
MenuWatch OpenListMenu(HWND list, POINT at, bool choose, const std::function<void()>& ask = {}) {
    MenuWatch watch;
    watch.choose = choose;
    watchingMenu = &watch;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, &WatchMenu);
    if (ask) {
        ask();
    } else {
        ::SendMessageW(list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list),
                       MAKELPARAM(static_cast<short>(at.x), static_cast<short>(at.y)));
    }
    ::KillTimer(nullptr, timer);
    watchingMenu = nullptr;
    return watch;
}

// Runs show, which puts up a real box over owner, and returns what the watch saw of it.
BoxWatch WatchBoxesWhile(HWND owner, bool openDetails, const std::function<void()>& show,
                         bool copy = false) {
    BoxWatch watch;
    watch.owner = owner;
    watch.openDetails = openDetails;
    watch.copy = copy;
    watching = &watch;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, &WatchBoxes);
    show();
    ::KillTimer(nullptr, timer);
    watching = nullptr;
    return watch;
}

testing::AssertionResult Within(const RECT& rect, const RECT& area) {
    if (rect.left >= area.left && rect.top >= area.top && rect.right <= area.right &&
        rect.bottom <= area.bottom && rect.right > rect.left && rect.bottom > rect.top) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << rect.left << "," << rect.top << "-" << rect.right << ","
                                       << rect.bottom << " is not within " << area.left << ","
                                       << area.top << "-" << area.right << "," << area.bottom;
}

// Whether rect is centred on window, as near as whole pixels allow.
testing::AssertionResult CentredOn(const RECT& rect, HWND window) {
    RECT around{};
    ::GetWindowRect(window, &around);
    const int dx = (rect.left + rect.right) - (around.left + around.right);
    const int dy = (rect.top + rect.bottom) - (around.top + around.bottom);
    if (rect.right > rect.left && std::abs(dx) <= 1 && std::abs(dy) <= 1) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "off the window's centre by " << dx / 2 << "," << dy / 2;
}

// Whether the stand-in tool has logged a run ("decrypt a.sav").
bool Ran(const std::string& log, const std::string& run) {
    const std::vector<std::string> runs = testsupport::ReadLines(log);
    return std::find(runs.begin(), runs.end(), run) != runs.end();
}

// Pixels of a row of the list, from its left + fraction of its width to its right, that the
// list paints in another colour than its background.
int InkInRow(HWND list, int row, double fraction) {
    RECT client{};
    ::GetClientRect(list, &client);
    RECT item{};
    if (::SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(row),
                       reinterpret_cast<LPARAM>(&item)) == LB_ERR) {
        return -1;
    }
    HDC screen = ::GetDC(list);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::FillRect(memory, &client, ::GetSysColorBrush(COLOR_WINDOW));
    ::SendMessageW(list, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
    const COLORREF background = ::GetPixel(memory, item.right - 1, item.top);
    int ink = 0;
    const int from = item.left + static_cast<int>((item.right - item.left) * fraction);
    for (int y = item.top; y < item.bottom; ++y) {
        for (int x = from; x < item.right; ++x) {
            ink += ::GetPixel(memory, x, y) != background ? 1 : 0;
        }
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(list, screen);
    return ink;
}

// Drops path on the window as the shell does: WM_DROPFILES with the path in a DROPFILES block,
// which the window frees.
void Drop(HWND window, const std::string& path) {
    const std::wstring wide = Wide(path);
    HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + (wide.size() + 2) * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::copy(wide.begin(), wide.end(),
              reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(drop) + sizeof(DROPFILES)));
    ::GlobalUnlock(memory);
    ::SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
}

// Esc pressed in the window, through the dialog keys as the program's message loop has them.
// A key message to the focused control, through the dialog keys as the program's loop has them.
void Press(HWND window, UINT message, WPARAM key) {
    HWND focus = ::GetFocus();
    MSG sent{focus != nullptr ? focus : window, message, key, 0x00010001, 0, {}};
    if (!::IsDialogMessageW(window, &sent)) {
        ::TranslateMessage(&sent);
        ::DispatchMessageW(&sent);
    }
}

void PressEscape(HWND window) {
    HWND focus = ::GetFocus();
    MSG message{focus != nullptr ? focus : window, WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, {}};
    if (!::IsDialogMessageW(window, &message)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

// What a report box would have shown, and the window behind it as the box came up.
struct Report {
    int shown = 0;
    std::wstring text;
    std::wstring details;
    bool warning = false;
    bool openEnabled = false;
    bool comboEnabled = false;
    bool saveEnabled = false;
    std::wstring saveText;
    std::wstring caption;
};

// A message box's text (the static control 0xFFFF), read from inside its modal loop; closes it.
struct NoticeWatch {
    HWND owner = nullptr;
    std::wstring title;
    std::wstring text;
    RECT rect{};
    int ticks = 0;
};
NoticeWatch* watchingNotice = nullptr;

void CALLBACK WatchNotice(HWND, UINT, UINT_PTR, DWORD) {
    NoticeWatch& watch = *watchingNotice;
    const std::vector<HWND> boxes = DialogsOwnedBy(watch.owner);
    if (boxes.empty()) {
        ++watch.ticks;
        return;
    }
    watch.title = Text(boxes.front());
    ::GetWindowRect(boxes.front(), &watch.rect);
    watch.text = Text(::GetDlgItem(boxes.front(), 0xFFFF));
    ::PostMessageW(boxes.front(), WM_COMMAND, IDOK, 0);
}

class Win32WindowTest : public ::testing::Test, protected testsupport::BatchScene {
protected:
    void SetUp() override {
        static const bool initialised = [] {
            INITCOMMONCONTROLSEX controls{sizeof controls,
                                          ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
            return ::InitCommonControlsEx(&controls) != FALSE;
        }();
        ASSERT_TRUE(initialised);
    }
    frmMain& Open(ostrapel::WindowOptions options = {}) {
        window = std::make_unique<frmMain>(::GetModuleHandleW(nullptr), appDir, chooser, false,
                                           std::move(options));
        window->setReportPresenter([this](HWND, const ostrapel::ReportBox& box) {
            Report& seen = box.kind == ostrapel::ReportBox::Kind::Batch ? report : restored;
            const ostrapel::BoxReport composed = box.Compose();
            ++seen.shown;
            seen.text = Wide(composed.text);
            seen.details = Wide(composed.details);
            seen.warning = box.warning;
            seen.openEnabled = ::IsWindowEnabled(Control(frmMain::kCmdOpen)) != FALSE;
            seen.comboEnabled = ::IsWindowEnabled(Control(frmMain::kComboDLC)) != FALSE;
            seen.saveEnabled = ::IsWindowEnabled(Control(frmMain::kCmdSave)) != FALSE;
            seen.saveText = Text(Control(frmMain::kCmdSave));
            seen.caption = Text(window->Handle());
        });
        ::ShowWindow(window->Handle(), SW_SHOWNORMAL);
        PumpUntil([] { return false; }, std::chrono::milliseconds(50));
        return *window;
    }
    HWND Control(int id) const { return window->Control(id); }
    void ChooseVersion(int index) {
        HWND combo = Control(frmMain::kComboDLC);
        ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        ::SendMessageW(window->Handle(), WM_COMMAND, MAKEWPARAM(frmMain::kComboDLC, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(combo));
    }
    void Click(int id) { ::SendMessageW(Control(id), BM_CLICK, 0, 0); }
    void AddSave(const std::string& name, int value) {
        WriteFile(saves + "\\" + name,
                  testsupport::ConvertedSave(1200, static_cast<unsigned>(name[0]), value));
    }
    bool Holds(const std::string& name, int value) {
        return ReadFile(saves + "\\" + name) ==
               testsupport::ConvertedSave(1200, static_cast<unsigned>(name[0]), value);
    }
    bool Wait(const std::function<bool()>& done) {
        return PumpUntil(done, std::chrono::seconds(60));
    }
    // Lists the saves with the open button and waits until their versions have been read.
    void ListAndRead() {
        chooser->next = saves;
        Click(frmMain::kCmdOpen);
        ASSERT_TRUE(Wait([&] { return !window->Model().ReadingVersions(); }));
    }
    // The restore item as the window's menu has it after a conversion.
    std::wstring Before(std::size_t set) const {
        const ostrapel::BackupSetListing listing = ostrapel::ListBackupSets(backups, saves);
        if (set >= listing.sets.size()) {
            return L"(no set " + std::to_wstring(set) + L")";
        }
        return Wide(ostrapel::RestoreMenuItems(listing, true)[set].text);
    }
    // What the list's tooltip says with the mouse over row.
    std::wstring TipOver(int row) {
        HWND list = Control(frmMain::kList);
        RECT item{};
        ::SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(row),
                       reinterpret_cast<LPARAM>(&item));
        ::SendMessageW(list, WM_MOUSEMOVE, 0, MAKELPARAM(item.left + 2, item.top + 2));
        NMTTDISPINFOW info{};
        info.hdr.code = TTN_GETDISPINFOW;
        info.hdr.idFrom = reinterpret_cast<UINT_PTR>(list);
        ::SendMessageW(window->Handle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
        return info.lpszText != nullptr ? std::wstring(info.lpszText) : L"";
    }

    std::shared_ptr<ScriptedChooser> chooser = std::make_shared<ScriptedChooser>();
    std::unique_ptr<frmMain> window;
    Report report;
    Report restored;
};

} // namespace

TEST_F(Win32WindowTest, StartsWithTheVersionsListedAndNothingChosen) {
    frmMain& main = Open();
    EXPECT_EQ(Text(main.Handle()), L"Ostrapel by Penmorrow");
    HWND combo = Control(frmMain::kComboDLC);
    std::vector<std::wstring> labels;
    for (LRESULT i = 0; i < ::SendMessageW(combo, CB_GETCOUNT, 0, 0); ++i) {
        wchar_t text[32];
        ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        labels.emplace_back(text);
    }
    EXPECT_EQ(labels, (std::vector<std::wstring>{L"0.00", L"1.00", L"2.00", L"3.00", L"4.00"}));
    EXPECT_EQ(::SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(Text(Control(frmMain::kTxt)), L"400");
    EXPECT_FALSE(::IsWindowEnabled(Control(frmMain::kCmdSave)));
    EXPECT_TRUE(::IsWindowEnabled(Control(frmMain::kCmdOpen)));
    EXPECT_TRUE(ListItems(Control(frmMain::kList)).empty());
    EXPECT_NE(::GetClassLongPtrW(main.Handle(), GCLP_HICON), 0);
    EXPECT_NE(::SendMessageW(Control(frmMain::kCmdOpen), BM_GETIMAGE, IMAGE_ICON, 0), 0);
    EXPECT_EQ(Text(Control(frmMain::kCmdOpen)), L"&Open Your save Folder"); // its accessible name

    // The combo box reaches the model, and the hidden field shows its value.
    ChooseVersion(2);
    EXPECT_EQ(Text(Control(frmMain::kTxt)), L"200");
    EXPECT_FALSE(::IsWindowEnabled(Control(frmMain::kCmdSave))); // no folder listed yet
}

TEST_F(Win32WindowTest, NamesAMissingCipherToolAtStartUp) {
    ASSERT_TRUE(::DeleteFileW(testsupport::Native(appDir + "Decrypt\\decrypt.exe").c_str()));
    frmMain& main = Open();
    NoticeWatch watch;
    watch.owner = main.Handle();
    watchingNotice = &watch;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, &WatchNotice);
    main.ShowStartupNotice();
    ::KillTimer(nullptr, timer);
    watchingNotice = nullptr;
    EXPECT_EQ(watch.title, L"Ostrapel");
    EXPECT_NE(watch.text.find(L"Cipher tool not found: " + Wide(appDir) + L"Decrypt\\decrypt.exe"),
              std::wstring::npos)
        << watch.text;
    EXPECT_TRUE(CentredOn(watch.rect, main.Handle()));
}

TEST_F(Win32WindowTest, HasTheLayoutsGeometryAtNinetySixDpi) {
    frmMain& main = Open();
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    if (dpi != 96) {
        GTEST_SKIP() << "the display runs at " << dpi << " DPI";
    }
    RECT client{};
    ::GetClientRect(main.Handle(), &client);
    EXPECT_EQ(client.right, 542);
    EXPECT_EQ(client.bottom, 180);
    const LONG style = ::GetWindowLongW(main.Handle(), GWL_STYLE);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0); // fixed size

    EXPECT_TRUE(At(Control(frmMain::kGroupBox1), 120, 120, 7935, 2535));
    EXPECT_TRUE(At(Control(frmMain::kCmdSave), 120, 2040, 2655, 375));
    EXPECT_TRUE(At(Control(frmMain::kGroupBox2), 3000, 240, 1815, 2175));
    EXPECT_TRUE(At(Control(frmMain::kList), 120, 240, 1575, 1815));
    EXPECT_TRUE(At(Control(frmMain::kComboDLC), 120, 1440, 2655, 315));
    EXPECT_TRUE(At(Control(frmMain::kCmdOpen), 120, 360, 615, 495));
    EXPECT_TRUE(At(Control(frmMain::kImage1), 4920, 240, 2940, 2100));
    EXPECT_TRUE(At(Control(frmMain::kEP), 2520, 3960, 1935, 735));
    EXPECT_TRUE(At(Control(frmMain::kTxt), 120, 240, 1695, 255));
    EXPECT_FALSE(::IsWindowVisible(Control(frmMain::kEP)));
    EXPECT_EQ(::GetParent(Control(frmMain::kTxt)), Control(frmMain::kEP));

    // The labels start where the layout puts them, at least as large, short of the file list.
    const RECT list = Placement(Control(frmMain::kGroupBox2));
    for (auto [index, left, top, width, height] : {std::array<int, 5>{0, 840, 360, 1965, 195},
                                                   std::array<int, 5>{1, 120, 1080, 1785, 195}}) {
        HWND label = Control(frmMain::kLabelBase + index);
        const RECT rect = Placement(label);
        EXPECT_EQ(rect.left, left / 15);
        EXPECT_EQ(rect.top, top / 15);
        EXPECT_GE(rect.right - rect.left, width / 15);
        EXPECT_GE(rect.bottom - rect.top, height / 15);
        EXPECT_LT(rect.right, list.left);
    }
    EXPECT_EQ(Text(Control(frmMain::kLabelBase)), L"Open Your save Folder");
    EXPECT_EQ(Text(Control(frmMain::kLabelBase + 1)), L"Select DLC &Version :");
    EXPECT_EQ(Text(Control(frmMain::kGroupBox1)), L"Open Folder save");
    EXPECT_EQ(Text(Control(frmMain::kGroupBox2)), L"&File List");
    EXPECT_EQ(Text(Control(frmMain::kCmdSave)), L"&Apply and Save");

    // Centred on the screen's work area.
    RECT frame{};
    ::GetWindowRect(main.Handle(), &frame);
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_LE(std::abs((frame.left - work.left) - (work.right - frame.right)), 1);
    EXPECT_LE(std::abs((frame.top - work.top) - (work.bottom - frame.bottom)), 1);

    // Tab goes from open to the versions, the list and save (once a version is chosen and a
    // folder listed).
    ListAndRead();
    ChooseVersion(0);
    std::vector<HWND> order;
    HWND at = Control(frmMain::kCmdOpen);
    for (int i = 0; i < 4; ++i) {
        at = ::GetNextDlgTabItem(main.Handle(), at, FALSE);
        order.push_back(at);
    }
    EXPECT_EQ(order, (std::vector<HWND>{Control(frmMain::kComboDLC), Control(frmMain::kList),
                                        Control(frmMain::kCmdSave), Control(frmMain::kCmdOpen)}));
}

namespace {

// The words of each fitted control in one language that do not fit their room at the window's
// DPI, measured as the control draws them: one line each, naming the language, the control, the
// words and the pixels they need and have.
std::vector<std::string> Overflows(const frmMain& main, const std::string& language,
                                   const ostrapel::Translator& words, int dpi) {
    static const std::map<ostrapel::FittedControl, const char*> kNames = {
        {ostrapel::FittedControl::FrameTitle, "window frame"},
        {ostrapel::FittedControl::OpenLabel, "open label"},
        {ostrapel::FittedControl::VersionLabel, "version label"},
        {ostrapel::FittedControl::ListTitle, "file list frame"},
        {ostrapel::FittedControl::ApplyButton, "save button"},
        {ostrapel::FittedControl::CancelButton, "cancel button"}};
    std::vector<std::string> overflows;
    // The labels' font as the window makes it for these words.
    const std::vector<std::wstring> labels = {
        Wide(ostrapel::WithoutAccessKey(std::string(words.Translate(ostrapel::kOpenLabel)))),
        Wide(std::string(words.Translate(ostrapel::kVersionLabel)))};
    HFONT labelFont = mdlLayout::LabelFont(dpi, labels);
    for (const ostrapel::FittedText& fitted : ostrapel::FittedTexts()) {
        const frmMain::TextRoom at = main.RoomFor(fitted.control);
        const std::string text(words.Translate(fitted.id));
        const bool label = fitted.control == ostrapel::FittedControl::OpenLabel ||
                           fitted.control == ostrapel::FittedControl::VersionLabel;
        const std::wstring drawn = Wide(fitted.control == ostrapel::FittedControl::OpenLabel
                                            ? ostrapel::WithoutAccessKey(text)
                                            : text);
        HDC dc = ::GetDC(at.control);
        HGDIOBJ old = ::SelectObject(dc, label ? labelFont : at.font);
        RECT needed{0, 0, at.room.cx, 0};
        ::DrawTextW(dc, drawn.c_str(), static_cast<int>(drawn.size()), &needed,
                    at.format | DT_CALCRECT);
        ::SelectObject(dc, old);
        ::ReleaseDC(at.control, dc);
        const bool lines = at.room.cy > 0;
        if (needed.right > at.room.cx || (lines && needed.bottom > at.room.cy)) {
            const auto pixels = [lines](long width, long height) {
                return std::to_string(width) + (lines ? "x" + std::to_string(height) : "") + " px";
            };
            overflows.push_back((language.empty() ? "en" : language) + " at " +
                                std::to_string(dpi) + " DPI: " + kNames.at(fitted.control) + " \"" +
                                text + "\" needs " + pixels(needed.right, needed.bottom) +
                                ", has " + pixels(at.room.cx, at.room.cy));
        }
    }
    ::DeleteObject(labelFont);
    return overflows;
}

} // namespace

// Every language the program carries, and English, fits the fixed window at 100%, 150% and 200%;
// words too long are named.
TEST_F(Win32WindowTest, EveryLanguagesWordsFitTheirControlsAtEveryScale) {
    frmMain& main = Open();
    // A translator whose save button says too much.
    struct TooLong final : ostrapel::Translator {
        std::string_view Translate(std::string_view id) const override {
            return id == ostrapel::kApplyText
                       ? "&Alle Spielstände übernehmen und dauerhaft speichern"
                       : id;
        }
    } tooLong;
    std::vector<std::string> overflows;
    std::vector<std::string> caught;
    RECT start{};
    ::GetWindowRect(main.Handle(), &start);
    for (int dpi : {96, 144, 192}) {
        RECT suggested{start.left, start.top, start.left + 542 * dpi / 96 + 8,
                       start.top + 180 * dpi / 96 + 30};
        ::SendMessageW(main.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                       reinterpret_cast<LPARAM>(&suggested));
        std::vector<std::string> languages = ostrapel::AvailableLanguages();
        languages.insert(languages.begin(), "");
        for (const std::string& language : languages) {
            const ostrapel::Catalogue words = ostrapel::CatalogueOf(language);
            for (std::string& overflow : Overflows(main, language, words, dpi)) {
                overflows.push_back(std::move(overflow));
            }
        }
        for (std::string& overflow : Overflows(main, "long", tooLong, dpi)) {
            caught.push_back(std::move(overflow));
        }
    }
    std::string named;
    for (const std::string& overflow : overflows) {
        named += overflow + "\n";
    }
    EXPECT_TRUE(overflows.empty()) << named;
    ASSERT_EQ(caught.size(), 3u);
    for (std::size_t i = 0; i < caught.size(); ++i) {
        EXPECT_TRUE(caught[i].starts_with("long at " + std::to_string(96 + 48 * i) +
                                          " DPI: save button \"&Alle Spielstände"))
            << caught[i];
    }
}

// Moved to a monitor of another scale, the window takes the frame Windows suggests and lays
// the layout out again at the new DPI, with fonts and pictures made for it.
TEST_F(Win32WindowTest, LaysItselfOutAgainWhenTheDpiChanges) {
    frmMain& main = Open();
    const auto fontHeight = [&](int id) {
        LOGFONTW font{};
        ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(Control(id), WM_GETFONT, 0, 0)),
                     sizeof font, &font);
        return std::abs(font.lfHeight);
    };
    const int listFont = fontHeight(frmMain::kList);
    const int labelFont = fontHeight(frmMain::kLabelBase);
    RECT start{};
    ::GetWindowRect(main.Handle(), &start);
    const auto iconSide = [&] {
        ICONINFO info{};
        ::GetIconInfo(reinterpret_cast<HICON>(
                          ::SendMessageW(Control(frmMain::kCmdOpen), BM_GETIMAGE, IMAGE_ICON, 0)),
                      &info);
        BITMAP bitmap{};
        ::GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap,
                     &bitmap);
        for (HBITMAP made : {info.hbmColor, info.hbmMask}) {
            if (made != nullptr) {
                ::DeleteObject(made);
            }
        }
        return bitmap.bmWidth;
    };
    const int icon = iconSide();

    for (int dpi : {120, 144, 192}) {
        SCOPED_TRACE(dpi);
        RECT suggested{start.left + 10, start.top + 20, start.left + 10 + 542 * dpi / 96 + 8,
                       start.top + 20 + 180 * dpi / 96 + 30};
        ::SendMessageW(main.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                       reinterpret_cast<LPARAM>(&suggested));
        RECT frame{};
        ::GetWindowRect(main.Handle(), &frame);
        if (dpi < 192) { // a frame that fits the test screen
            EXPECT_TRUE(::EqualRect(&frame, &suggested))
                << frame.left << "," << frame.top << "-" << frame.right << "," << frame.bottom;
        }
        // Each label shows its whole text in its font, wrapped if need be, left of the list.
        RECT listFrame = Placement(Control(frmMain::kGroupBox2));
        for (int label : {int{frmMain::kLabelBase}, frmMain::kLabelBase + 1}) {
            HWND control = Control(label);
            const RECT rect = Placement(control);
            HDC dc = ::GetDC(control);
            HGDIOBJ old = ::SelectObject(
                dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
            const std::wstring text = Text(control);
            RECT needed{0, 0, rect.right - rect.left, 0};
            ::DrawTextW(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK);
            ::SelectObject(dc, old);
            ::ReleaseDC(control, dc);
            EXPECT_LE(needed.right, rect.right - rect.left) << label;
            EXPECT_LE(needed.bottom, rect.bottom - rect.top) << label;
            EXPECT_LT(rect.right, listFrame.left) << label;
        }
        // Each layout pixel at 96 DPI scaled, rounded to the nearest.
        struct Expected {
            int dpi, id;
            RECT rect;
        };
        for (const Expected& c : {Expected{120, frmMain::kGroupBox1, {10, 10, 671, 221}},
                                  Expected{120, frmMain::kCmdSave, {10, 170, 231, 201}},
                                  Expected{120, frmMain::kList, {10, 20, 141, 171}},
                                  Expected{120, frmMain::kComboDLC, {10, 120, 231, 146}},
                                  Expected{120, frmMain::kImage1, {410, 20, 655, 195}},
                                  Expected{144, frmMain::kGroupBox1, {12, 12, 806, 266}},
                                  Expected{144, frmMain::kCmdSave, {12, 204, 278, 242}},
                                  Expected{144, frmMain::kList, {12, 24, 170, 206}},
                                  Expected{144, frmMain::kComboDLC, {12, 144, 278, 176}},
                                  Expected{144, frmMain::kImage1, {492, 24, 786, 234}}}) {
            if (c.dpi != dpi) {
                continue;
            }
            RECT expected = c.rect;
            const RECT rect = Placement(Control(c.id));
            if (c.id == frmMain::kComboDLC && std::abs(rect.bottom - expected.bottom) <= 2) {
                expected.bottom = rect.bottom; // the closed field as near as its font allows
            }
            EXPECT_TRUE(::EqualRect(&rect, &expected))
                << c.id << ": " << rect.left << "," << rect.top << "-" << rect.right << ","
                << rect.bottom;
        }
        EXPECT_EQ(fontHeight(frmMain::kList), ::MulDiv(listFont, dpi, 96));
        EXPECT_EQ(fontHeight(frmMain::kLabelBase), ::MulDiv(labelFont, dpi, 96));
        EXPECT_EQ(iconSide(), ::MulDiv(icon, dpi, 96));
    }
}

TEST_F(Win32WindowTest, OpenListsTheChosenFolderAndACancelEmptiesTheList) {
    for (const char* name : {"abc", "slot 1.sav"}) {
        WriteFile(saves + "\\" + name, "");
    }
    Open();
    chooser->next = saves + "\\";
    Click(frmMain::kCmdOpen);
    EXPECT_EQ(chooser->title, L"C:\\");
    std::vector<std::wstring> listed = ListItems(Control(frmMain::kList));
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::wstring>{L"abc", L"slot 1.sav"}));
    EXPECT_EQ(::SendMessageW(Control(frmMain::kList), LB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(window->Model().Folder(), saves);

    chooser->next.reset();
    Click(frmMain::kCmdOpen);
    EXPECT_TRUE(ListItems(Control(frmMain::kList)).empty());
    EXPECT_EQ(window->Model().Folder(), "");
    EXPECT_EQ(mdlSHBrowseForFolder::StartFolder(), saves); // the chooser starts there still
}

// The versions are drawn beside the exact names, at the right; a row's tooltip has the whole
// name and the version, for a name the list cuts short.
// 300 names sharing a long beginning: 300 different rows, each in the list's width beside its
// version, measured by the list's font.
TEST_F(Win32WindowTest, LongNamesStayApartInTheListsWidth) {
    for (int n = 1; n <= 300; ++n) {
        char name[64];
        std::snprintf(name, sizeof name, "Autosave_Chapter03_Checkpoint_%03d.sav", n);
        WriteFile(saves + "\\" + name, "data");
    }
    ostrapel::WindowOptions options;
    options.readVersions = [](const ostrapel::BatchRequest& request, ostrapel::Scn_Process&,
                              ostrapel::BatchObserver* observer) {
        ostrapel::FileOutcome read;
        read.oldValue = 100;
        for (std::size_t i = 0; i < request.names.size(); ++i) {
            observer->fileFinished(i, read);
        }
        return ostrapel::BatchResult{};
    };
    Open(options);
    chooser->next = saves;
    Click(frmMain::kCmdOpen);
    ASSERT_TRUE(Wait([&] { return !window->Model().ReadingVersions(); }));
    HWND list = Control(frmMain::kList);
    RECT client{};
    ::GetClientRect(list, &client);
    HDC dc = ::GetDC(list);
    HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(list, WM_GETFONT, 0, 0)));
    const auto width = [dc](const std::string& text) {
        const std::wstring wide = Wide(text);
        SIZE extent{};
        ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
        return static_cast<int>(extent.cx);
    };
    std::set<std::string> shown;
    for (const ostrapel::ListRow& row : window->Model().Rows()) {
        ASSERT_EQ(row.version, "1.00");
        EXPECT_LE(width(row.shown) + width(row.version), client.right) << row.shown;
        shown.insert(row.shown);
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(list, dc);
    EXPECT_EQ(shown.size(), 300u);
}

TEST_F(Win32WindowTest, ShowsTheVersionsBesideTheNamesAndTheWholeNameInTheTooltip) {
    const std::string longName =
        "a save with a name much too long for the list " + std::string(40, 'x') + ".sav";
    AddSave(longName, 300);
    AddSave("one.sav", 100);
    Open();
    HWND list = Control(frmMain::kList);
    chooser->next = saves;
    Click(frmMain::kCmdOpen);
    const std::vector<std::wstring> names = ListItems(list);
    ASSERT_EQ(names.size(), 2u);
    const int shortRow = names[0] == L"one.sav" ? 0 : 1;
    EXPECT_EQ(InkInRow(list, shortRow, 0.65), 0); // nothing yet right of the short name
    ASSERT_TRUE(Wait([&] { return !window->Model().ReadingVersions(); }));

    // The items keep the names, whatever is read; a screen reader is told the versions.
    EXPECT_EQ(ListItems(list), names);
    const std::vector<ostrapel::ListRow>& rows = window->Model().Rows();
    const ostrapel::ListCaption caption;
    EXPECT_EQ(mdlFileList::AccessibleText(rows, caption, static_cast<DWORD>(1 + shortRow), false),
              L"one.sav, 1.00");
    EXPECT_EQ(mdlFileList::AccessibleText(rows, caption, static_cast<DWORD>(2 - shortRow), false),
              Wide(longName) + L", 3.00");
    EXPECT_EQ(mdlFileList::AccessibleText(rows, caption, CHILDID_SELF, false), L"File List");
    EXPECT_EQ(mdlFileList::AccessibleText(rows, caption, 3, false), L"");

    // A row changing between a screen reader's asking for the length of its text and for the
    // text: the text it gets is as long as it was told.
    const auto length = ::SendMessageW(list, LB_GETTEXTLEN, 0, 0);
    ostrapel::ListRow changed = rows[0];
    changed.version = "4.00";
    changed.tooltip = changed.name + ": 4.00 and a good deal longer than before";
    changed.accessibleName = changed.tooltip;
    window->ShowRow(0, changed);
    std::vector<wchar_t> text(static_cast<std::size_t>(length) + 2, L'#');
    EXPECT_EQ(::SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(text.data())), length);
    EXPECT_EQ(std::wstring(text.data()), names[0]);
    EXPECT_EQ(text.back(), L'#');
    window->ShowRow(0, rows[0]);
    EXPECT_GT(InkInRow(list, shortRow, 0.65), 0);
    EXPECT_EQ(TipOver(1 - shortRow), Wide(longName) + L": 3.00");
    EXPECT_EQ(TipOver(shortRow), L"one.sav: 1.00");

    // The list hands its mouse on to its tooltip itself: the pointer resting over a row shows it.
    RECT item{};
    ::SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(shortRow),
                   reinterpret_cast<LPARAM>(&item));
    POINT at{item.left + 4, (item.top + item.bottom) / 2};
    const LPARAM inList = MAKELPARAM(at.x, at.y);
    ::ClientToScreen(list, &at);
    ::SetCursorPos(at.x, at.y);
    ::SendMessageW(list, WM_MOUSEMOVE, 0, inList);
    EXPECT_TRUE(Wait([] {
        HWND tips = ::FindWindowW(TOOLTIPS_CLASSW, nullptr);
        return tips != nullptr && ::IsWindowVisible(tips) && Text(tips) == L"one.sav: 1.00";
    }));
}

// The rows scrolled into view during the reading are read next.
TEST_F(Win32WindowTest, ReadsTheRowsScrolledIntoViewBeforeTheOthers) {
    for (int i = 0; i < 30; ++i) { // of different bytes: a save deciphered once serves its twins
        WriteFile(saves + "\\s" + std::to_string(10 + i) + ".sav",
                  testsupport::ConvertedSave(1200, static_cast<unsigned>(i), 100));
    }
    testsupport::ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "any:sleep=100:*");
    ostrapel::WindowOptions options;
    options.jobs = 1;
    Open(options);
    HWND list = Control(frmMain::kList);
    chooser->next = saves;
    Click(frmMain::kCmdOpen);
    ASSERT_TRUE(Wait([&] { return Ran(log, "decrypt s11.sav"); }));
    ::SendMessageW(list, WM_VSCROLL, MAKEWPARAM(SB_BOTTOM, 0), 0);
    ASSERT_GT(::SendMessageW(list, LB_GETTOPINDEX, 0, 0), 15);
    ASSERT_TRUE(Wait([&] { return !window->Model().ReadingVersions(); }));
    const std::vector<std::string> runs = testsupport::ReadLines(log);
    const auto at = [&](const std::string& run) {
        return std::find(runs.begin(), runs.end(), run) - runs.begin();
    };
    EXPECT_LT(at("decrypt s39.sav"), at("decrypt s25.sav"));
}

// A name too long for its room loses its middle: the end, which tells saves apart, stays, and
// as much of it as fits shows.
TEST(Win32FileList, CutsALongNameInTheMiddle) {
    HDC dc = ::CreateCompatibleDC(nullptr);
    HFONT font = mdlLayout::MessageFont(96);
    HGDIOBJ old = ::SelectObject(dc, font);
    const auto width = [&](const std::wstring& text) {
        SIZE extent{};
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        return static_cast<int>(extent.cx);
    };
    const std::string name = "screenshot_2026_12_07_t_12.png";
    struct Case {
        std::string prefix;
        int room; // in characters of name's width
        bool cut;
    };
    for (const Case& c : {Case{"", 40, false}, Case{"", 15, true}, Case{"3 of 12: ", 15, true},
                          Case{"", 7, true}}) {
        SCOPED_TRACE(c.prefix + std::to_string(c.room));
        const int room =
            width(Wide(c.prefix)) + width(Wide(name)) * c.room / static_cast<int>(name.size());
        const std::wstring fitted = mdlFileList::FittedInTheMiddle(dc, c.prefix, name, room);
        if (!c.cut) {
            EXPECT_EQ(fitted, Wide(name));
            continue;
        }
        EXPECT_LE(width(fitted), room);
        const std::size_t length = fitted.size() - c.prefix.size();
        EXPECT_EQ(fitted, Wide(c.prefix + ostrapel::ShortenedInTheMiddle(name, length)));
        EXPECT_GT(width(Wide(c.prefix + ostrapel::ShortenedInTheMiddle(name, length + 1))), room);
        EXPECT_EQ(fitted.substr(fitted.size() - 2), L"ng") << fitted;
    }
    ::SelectObject(dc, old);
    ::DeleteObject(font);
    ::DeleteDC(dc);
}

// A batch: the controls locked and the save button a cancel button, the progress in the file
// list's caption, Esc reaching the model; the controls and caption are back when the report
// shows.
TEST_F(Win32WindowTest, ABatchLocksTheControlsAndReportsOnceTheyAreBack) {
    for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
        AddSave(name, 100);
    }
    frmMain& main = Open();
    HWND frame = Control(frmMain::kGroupBox2);
    std::vector<std::array<std::size_t, 3>> taskbar; // state, done, total
    main.setTaskbarPresenter([&](HWND shown, int state, std::size_t done, std::size_t total) {
        EXPECT_EQ(shown, main.Handle());
        taskbar.push_back({static_cast<std::size_t>(state), done, total});
    });
    ListAndRead();
    WriteFile(log, "");
    testsupport::ScopedEnv hang("STAND_IN_CIPHER_FAULTS", "encrypt:hang=40000:b.sav");
    ChooseVersion(3);
    Click(frmMain::kCmdSave);
    EXPECT_FALSE(::IsWindowEnabled(Control(frmMain::kCmdOpen)));
    EXPECT_FALSE(::IsWindowEnabled(Control(frmMain::kComboDLC)));
    EXPECT_TRUE(::IsWindowEnabled(Control(frmMain::kCmdSave)));
    EXPECT_EQ(Text(Control(frmMain::kCmdSave)), L"&Cancel");
    ASSERT_TRUE(Wait([&] { return Ran(log, "encrypt b.sav"); }));
    // One count over the four passes, in the second (the witness's encipher hangs): b.sav or
    // c.sav beside it.
    ASSERT_TRUE(Wait([&] {
        return Text(frame).starts_with(L"Checking 5 of 12") ||
               Text(frame).starts_with(L"Checking 6 of 12");
    })) << Text(frame);
    const auto selected = ::SendMessageW(Control(frmMain::kList), LB_GETCURSEL, 0, 0);
    EXPECT_TRUE(selected == 1 || selected == 2) << selected;
    // The taskbar button: busy, then the same count.
    ASSERT_GE(taskbar.size(), 2u);
    EXPECT_EQ(taskbar.front(), (std::array<std::size_t, 3>{TBPF_INDETERMINATE, 0, 0}));
    EXPECT_EQ(taskbar.back()[0], static_cast<std::size_t>(TBPF_NORMAL));
    EXPECT_EQ(taskbar.back()[2], 12u);
    EXPECT_EQ(Text(frame).substr(9, 1), std::to_wstring(taskbar.back()[1]));

    ASSERT_TRUE(::IsChild(main.Handle(), ::GetFocus()));
    PressEscape(main.Handle());
    ASSERT_TRUE(Wait([&] { return report.shown > 0; }));
    EXPECT_NE(report.text.find(L"\nCancelled"), std::wstring::npos) << report.text;
    EXPECT_TRUE(report.warning);
    EXPECT_TRUE(report.openEnabled);
    EXPECT_TRUE(report.comboEnabled);
    EXPECT_TRUE(report.saveEnabled);
    EXPECT_EQ(report.saveText, L"&Apply and Save");
    EXPECT_EQ(report.caption, L"Ostrapel by Penmorrow");
    EXPECT_TRUE(Text(frame).starts_with(L"&File List: ")) << Text(frame); // the folder again
    EXPECT_EQ(taskbar.back(), (std::array<std::size_t, 3>{TBPF_NOPROGRESS, 0, 0})); // cleared
    for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
        EXPECT_TRUE(Holds(name, 100)) << name;
    }
}

// Closing during a batch asks (the model's question); yes closes the window once the batch has
// ended and its report has been seen.
TEST_F(Win32WindowTest, ClosingDuringABatchAsksAndClosesOnceItHasEnded) {
    AddSave("a.sav", 100);
    testsupport::ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "any:sleep=300:*");
    frmMain& main = Open();
    std::wstring asked;
    main.setQuestionPresenter([&](HWND, const ostrapel::Question& question) {
        asked = Wide(question.text);
        return true;
    });
    chooser->next = saves;
    Click(frmMain::kCmdOpen);
    ChooseVersion(3);
    Click(frmMain::kCmdSave);
    HWND handle = main.Handle();
    ::SendMessageW(handle, WM_CLOSE, 0, 0);
    EXPECT_EQ(asked.rfind(L"A conversion is running. Cancel it and close the window?", 0), 0u);
    EXPECT_TRUE(::IsWindow(handle));
    ASSERT_TRUE(Wait([&] { return !::IsWindow(handle); }));
    EXPECT_EQ(report.shown, 1);
    EXPECT_TRUE(Holds("a.sav", 100));
}

// Signing out during a batch is allowed; the session's end stops the batch after the save under
// way and returns (after which Windows may end the process) only once it has wound down and the
// work folder is empty.
TEST_F(Win32WindowTest, SigningOutDuringABatchStopsItBeforeTheProcessMayEnd) {
    AddSave("a.sav", 100);
    testsupport::ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "any:sleep=300:*");
    frmMain& main = Open();
    chooser->next = saves;
    Click(frmMain::kCmdOpen);
    ChooseVersion(3);
    Click(frmMain::kCmdSave);
    ASSERT_TRUE(main.Model().BatchRunning());
    HWND handle = main.Handle();
    EXPECT_EQ(::SendMessageW(handle, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    ::SendMessageW(handle, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    EXPECT_TRUE(Holds("a.sav", 100));
    EXPECT_EQ(testsupport::SortedNames(saves), (std::vector<std::string>{"a.sav"}));
    EXPECT_TRUE(testsupport::LeftInWorkFolder(appDir + "Decrypt\\temp").empty());
    EXPECT_EQ(report.shown, 0);
}

// In high contrast the window, its frames and their captions take the scheme's window colours,
// and follow a change of the system's colours at once; otherwise the window is white. The
// captions' text always takes the colour that goes with their background.
TEST_F(Win32WindowTest, FollowsHighContrastWhenTheSystemsColoursChange) {
    frmMain& main = Open();
    bool high = false;
    main.setContrastProbe([&] { return high; });
    HWND label = Control(frmMain::kLabelBase);
    HDC dc = ::GetDC(label);
    struct Colours {
        HBRUSH brush;
        COLORREF text;
        COLORREF background;
    };
    auto asked = [&] {
        ::SetTextColor(dc, RGB(1, 2, 3));
        ::SetBkColor(dc, RGB(4, 5, 6));
        const auto brush = reinterpret_cast<HBRUSH>(
            ::SendMessageW(::GetParent(label), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(label)));
        return Colours{brush, ::GetTextColor(dc), ::GetBkColor(dc)};
    };
    const Colours plain = asked();
    EXPECT_NE(plain.brush, ::GetSysColorBrush(COLOR_WINDOW));
    EXPECT_EQ(plain.text, ::GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(plain.background, RGB(255, 255, 255));

    high = true;
    ::SendMessageW(main.Handle(), WM_SYSCOLORCHANGE, 0, 0);
    const Colours contrast = asked();
    EXPECT_EQ(contrast.brush, ::GetSysColorBrush(COLOR_WINDOW));
    EXPECT_EQ(contrast.text, ::GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(contrast.background, ::GetSysColor(COLOR_WINDOW));
    EXPECT_EQ(reinterpret_cast<HBRUSH>(::GetClassLongPtrW(main.Handle(), GCLP_HBRBACKGROUND)),
              ::GetSysColorBrush(COLOR_WINDOW));

    // The open button is drawn by the window, and Enter still presses it.
    HWND open = Control(frmMain::kCmdOpen);
    EXPECT_EQ(::GetWindowLongW(open, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    ::SetFocus(open);
    Press(main.Handle(), WM_KEYDOWN, VK_RETURN);
    EXPECT_EQ(chooser->calls, 1);

    high = false;
    ::SendMessageW(main.Handle(), WM_THEMECHANGED, 0, 0);
    EXPECT_EQ(asked().brush, plain.brush);
    EXPECT_EQ(::GetWindowLongW(open, GWL_STYLE) & (BS_TYPEMASK | BS_ICON), BS_PUSHBUTTON | BS_ICON);
    ::ReleaseDC(label, dc);
}

// In high contrast the open button is drawn in the system's colours: its face, its picture (its
// shape alone in the colour of disabled words while disabled), its focus unless cues are hidden.
TEST(Win32PictureButton, DrawsItsPictureAndItsFocusInTheSystemsColours) {
    constexpr int kWidth = 41;
    constexpr int kHeight = 33;
    const auto picture = static_cast<HICON>(::LoadImageW(
        ::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_OPEN_FOLDER), IMAGE_ICON, 32, 32, 0));
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, kWidth, kHeight);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    const auto draw = [&](UINT state) {
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.itemAction = ODA_DRAWENTIRE;
        item.itemState = state;
        item.hDC = memory;
        item.rcItem = {0, 0, kWidth, kHeight};
        mdlPictureButton::Draw(item, picture, 32);
        std::vector<COLORREF> inside; // the edge left out
        for (int y = 3; y < kHeight - 3; ++y) {
            for (int x = 3; x < kWidth - 3; ++x) {
                inside.push_back(::GetPixel(memory, x, y));
            }
        }
        return inside;
    };
    const std::set<COLORREF> disabled = {::GetSysColor(COLOR_BTNFACE),
                                         ::GetSysColor(COLOR_GRAYTEXT)};
    for (UINT state : {0u, UINT{ODS_SELECTED}, UINT{ODS_DISABLED}}) {
        const std::vector<COLORREF> inside = draw(state);
        EXPECT_EQ(std::set<COLORREF>(inside.begin(), inside.end()) == disabled,
                  state == ODS_DISABLED)
            << state;
    }
    EXPECT_NE(draw(ODS_FOCUS), draw(0));
    EXPECT_EQ(draw(ODS_FOCUS | ODS_NOFOCUSRECT), draw(0));
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    ::DestroyIcon(picture);
}

// A close that waited for a restore closes as the user's close does: the work folder is emptied
// of what was left in it.
TEST_F(Win32WindowTest, ClosingDuringARestoreEmptiesTheWorkFolder) {
    AddSave("a.sav", 100);
    frmMain& main = Open();
    ListAndRead();
    ChooseVersion(3);
    Click(frmMain::kCmdSave);
    ASSERT_TRUE(Wait([&] { return report.shown > 0; }));
    const std::string work = appDir + "Decrypt\\temp";
    WriteFile(work + "\\left.sav", "left");
    HWND handle = main.Handle();
    main.Model().RestoreChosen();
    ::SendMessageW(handle, WM_CLOSE, 0, 0);
    EXPECT_TRUE(::IsWindow(handle)); // it waits for the restore
    ASSERT_TRUE(Wait([&] { return !::IsWindow(handle); }));
    EXPECT_EQ(restored.shown, 1);
    EXPECT_TRUE(Holds("a.sav", 100));
    EXPECT_TRUE(testsupport::LeftInWorkFolder(work).empty());
}

// The keys, the platform's way: Enter presses the focused button; access keys reach their
// controls (a label's the control after it); Shift+F10 and the menu key open the list's menu. A
// file name in the list's caption marks no access key.
TEST_F(Win32WindowTest, TheKeysReachTheControls) {
    AddSave("a.sav", 100);
    frmMain& main = Open();
    HWND list = Control(frmMain::kList);
    // Tab goes round the controls shown and enabled, never to the hidden EditPanel's field.
    std::vector<HWND> tabbed{Control(frmMain::kCmdOpen)};
    while (tabbed.size() < 8) {
        HWND next = ::GetNextDlgTabItem(main.Handle(), tabbed.back(), FALSE);
        if (next == nullptr || next == tabbed.front()) {
            break;
        }
        tabbed.push_back(next);
    }
    EXPECT_EQ(tabbed,
              (std::vector<HWND>{Control(frmMain::kCmdOpen), Control(frmMain::kComboDLC), list}));
    chooser->next = saves;
    ::SetFocus(Control(frmMain::kCmdOpen));
    Press(main.Handle(), WM_KEYDOWN, VK_RETURN);
    EXPECT_EQ(chooser->calls, 1);
    ASSERT_TRUE(Wait([&] { return !window->Model().ReadingVersions(); }));
    ::SetFocus(list);
    Press(main.Handle(), WM_SYSCHAR, 'o');
    EXPECT_EQ(chooser->calls, 2);
    ASSERT_TRUE(Wait([&] { return !window->Model().ReadingVersions(); }));
    for (auto [key, id] : {std::pair{'v', frmMain::kComboDLC}, std::pair{'f', frmMain::kList}}) {
        ::SetFocus(Control(frmMain::kCmdOpen));
        Press(main.Handle(), WM_SYSCHAR, static_cast<WPARAM>(key));
        EXPECT_EQ(::GetFocus(), Control(id)) << key;
    }
    // A folder whose name fills the caption: the label goes, its access key stays.
    const std::string wide = root / "A folder whose name is longer than the caption has room";
    testsupport::MakeDir(wide);
    chooser->next = wide;
    Click(frmMain::kCmdOpen);
    EXPECT_EQ(Text(Control(frmMain::kGroupBox2)).find(L"File List"), std::wstring::npos)
        << Text(Control(frmMain::kGroupBox2));
    ::SetFocus(Control(frmMain::kCmdOpen));
    const MSG alt{Control(frmMain::kCmdOpen), WM_SYSCHAR, 'f', 0x20000001, 0, {}};
    EXPECT_TRUE(main.TakeAccessKey(alt));
    EXPECT_EQ(::GetFocus(), list);
    chooser->next = saves;
    Click(frmMain::kCmdOpen);
    ASSERT_TRUE(Wait([&] { return !window->Model().ReadingVersions(); }));
    EXPECT_FALSE(main.TakeAccessKey(alt)); // the caption's own key

    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    for (auto [message, key, shift] : {std::tuple{UINT{WM_SYSKEYDOWN}, VK_F10, true},
                                       std::tuple{UINT{WM_KEYDOWN}, VK_APPS, false}}) {
        keys[VK_SHIFT] = shift ? 0x80 : 0;
        ::SetKeyboardState(keys);
        const MenuWatch seen = OpenListMenu(list, {}, false, [&, message = message, key = key] {
            ::SendMessageW(list, message, static_cast<WPARAM>(key), 0x00010001);
        });
        EXPECT_TRUE(seen.seen) << key;
        EXPECT_EQ(seen.text, Wide(ostrapel::kNothingToRestore));
    }
    keys[VK_SHIFT] = 0;
    ::SetKeyboardState(keys);

    ostrapel::ListCaption caption;
    caption.prefix = "1 of 2: ";
    caption.name = "R&D.sav";
    main.ShowListCaption(caption);
    EXPECT_EQ(Text(Control(frmMain::kGroupBox2)), L"1 of 2: R&&D.sav");
}

// Not while the window hides keyboard cues, as it does until a key is used: the list box says so
// with ODS_NOFOCUSRECT, which Wine never sends, so the drawing is asked directly.
TEST(Win32FileList, DrawsNoFocusFrameWhileKeyboardCuesAreHidden) {
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 100, 16);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    for (UINT hidden : {0u, UINT{ODS_NOFOCUSRECT}}) {
        for (UINT action : {UINT{ODA_DRAWENTIRE}, UINT{ODA_FOCUS}}) {
            RECT all{0, 0, 100, 16};
            ::FillRect(memory, &all, ::GetSysColorBrush(COLOR_WINDOW));
            DRAWITEMSTRUCT item{};
            item.CtlType = ODT_LISTBOX;
            item.itemAction = action;
            item.itemState = ODS_FOCUS | hidden;
            item.hDC = memory;
            item.rcItem = all;
            mdlFileList::DrawItem(item, nullptr,
                                  static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)), 96);
            std::set<COLORREF> colours;
            for (int x = 2; x < 98; ++x) {
                colours.insert(::GetPixel(memory, x, 0));
            }
            EXPECT_EQ(colours.size() > 1, hidden == 0) << hidden << " " << action;
        }
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
}

// During a batch the frame's caption changes at every step and the folder may be listed again:
// neither may blank the list (which is drawn again only where a row changed) nor move its top.
TEST(Win32FileList, ANewCaptionOrTheSameNamesLeaveTheListAsItIs) {
    HWND top = ::CreateWindowExW(0, WC_STATICW, L"", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                                 nullptr, ::GetModuleHandleW(nullptr), nullptr);
    HWND frame = ::CreateWindowExW(0, WC_BUTTONW, L"File list", WS_CHILD | WS_VISIBLE | BS_GROUPBOX,
                                   0, 0, 300, 200, top, nullptr, nullptr, nullptr);
    HWND list = ::CreateWindowExW(0, WC_LISTBOXW, L"",
                                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOINTEGRALHEIGHT |
                                      LBS_HASSTRINGS,
                                  8, 24, 284, 168, frame, nullptr, nullptr, nullptr);
    std::vector<ostrapel::ListRow> rows(60);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].name = "slot" + std::to_string(i) + ".sav";
    }
    mdlFileList::Fill(list, rows);
    ::SendMessageW(list, LB_SETTOPINDEX, 20, 0);
    ::UpdateWindow(top);
    EXPECT_TRUE(mdlFileList::SameNames(list, rows));
    mdlFileList::Fill(list, rows);
    EXPECT_EQ(::SendMessageW(list, LB_GETTOPINDEX, 0, 0), 20);
    ::UpdateWindow(top);

    EXPECT_TRUE(mdlFileList::SetCaption(frame, L"Converting 1 of 120: slot0.sav"));
    EXPECT_FALSE(::GetUpdateRect(list, nullptr, FALSE)) << "the list was invalidated";
    EXPECT_FALSE(::GetUpdateRect(frame, nullptr, FALSE)) << "the frame waits to be drawn";
    EXPECT_FALSE(mdlFileList::SetCaption(frame, L"Converting 1 of 120: slot0.sav"));

    rows[59].name = "slot59b.sav";
    EXPECT_FALSE(mdlFileList::SameNames(list, rows));
    rows.pop_back();
    EXPECT_FALSE(mdlFileList::SameNames(list, rows));
    mdlFileList::Fill(list, rows);
    EXPECT_EQ(::SendMessageW(list, LB_GETCOUNT, 0, 0), 59);
    ::DestroyWindow(top);
}

TEST(Win32FileList, ShiftF10AndTheMenuKeyOpenTheMenuOnceOnTheKeyGoingDown) {
    using mdlFileList::KeyStep;
    struct Case {
        UINT message;
        WPARAM key;
        bool shift;
        KeyStep step;
    };
    for (const Case& c : {Case{WM_SYSKEYDOWN, VK_F10, true, KeyStep::OpenMenu},
                          Case{WM_KEYDOWN, VK_F10, true, KeyStep::OpenMenu},
                          Case{WM_SYSKEYUP, VK_F10, true, KeyStep::Swallow},
                          Case{WM_SYSKEYDOWN, VK_F10, false, KeyStep::Pass},
                          Case{WM_KEYDOWN, VK_APPS, false, KeyStep::OpenMenu},
                          Case{WM_KEYUP, VK_APPS, false, KeyStep::Swallow},
                          Case{WM_KEYDOWN, VK_DOWN, true, KeyStep::Pass},
                          Case{WM_CHAR, VK_APPS, false, KeyStep::Pass}}) {
        EXPECT_EQ(mdlFileList::MenuKey(c.message, c.key, c.shift), c.step)
            << c.message << " " << c.key << " " << c.shift;
    }
}

TEST_F(Win32WindowTest, DroppingAFileListsItsFolder) {
    AddSave("a.sav", 400);
    frmMain& main = Open();
    EXPECT_NE(::GetWindowLongW(main.Handle(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
    Drop(main.Handle(), saves + "\\a.sav");
    EXPECT_EQ(ListItems(Control(frmMain::kList)), (std::vector<std::wstring>{L"a.sav"}));
    EXPECT_EQ(window->Model().Folder(), saves);
    // The browser starts there next time.
    EXPECT_EQ(mdlSHBrowseForFolder::SelectedFolder(), saves);
    EXPECT_EQ(chooser->calls, 0);
}

// The file list's menu at the mouse, or under the selected entry from the keyboard; its item
// undoes the newest batch, and the controls are back when the restore's report shows.
TEST_F(Win32WindowTest, TheFileListMenuRestoresTheNewestBatch) {
    AddSave("a.sav", 100);
    AddSave("b.sav", 100);
    Open();
    HWND list = Control(frmMain::kList);
    chooser->next = saves;
    Click(frmMain::kCmdOpen);
    RECT area{};
    ::GetWindowRect(list, &area);
    const POINT at{area.left + 20, area.top + 10};
    const MenuWatch none = OpenListMenu(list, at, false);
    ASSERT_TRUE(none.seen);
    EXPECT_EQ(none.rect.left, at.x);
    EXPECT_EQ(none.rect.top, at.y);
    EXPECT_EQ(none.items, 1);
    EXPECT_EQ(none.text, Wide(ostrapel::kNothingToRestore));
    EXPECT_FALSE(none.enabled);

    ASSERT_TRUE(Wait([&] { return !window->Model().ReadingVersions(); }));
    ChooseVersion(3);
    Click(frmMain::kCmdSave);
    ASSERT_TRUE(Wait([&] { return report.shown > 0; }));
    EXPECT_FALSE(report.warning);
    ::SendMessageW(list, LB_SETCURSEL, 1, 0);
    int asked = 0;
    window->setQuestionPresenter([&asked](HWND, const ostrapel::Question&) { return ++asked > 0; });
    const MenuWatch chosen = OpenListMenu(list, POINT{-1, -1}, true);
    ASSERT_TRUE(chosen.seen);
    EXPECT_EQ(chosen.text, Before(0));
    EXPECT_TRUE(chosen.enabled);
    RECT entry{};
    ::SendMessageW(list, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&entry));
    POINT below{entry.left, entry.bottom};
    ::ClientToScreen(list, &below);
    EXPECT_EQ(chosen.rect.left, below.x);
    EXPECT_EQ(chosen.rect.top, below.y);

    ASSERT_TRUE(Wait([&] { return restored.shown > 0; }));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(restored.text.rfind(L"Restored 2 files as they were before 2", 0), 0u);
    EXPECT_FALSE(restored.warning);
    EXPECT_TRUE(restored.openEnabled);
    EXPECT_TRUE(restored.comboEnabled);
    EXPECT_TRUE(restored.saveEnabled);
    EXPECT_EQ(restored.saveText, L"&Apply and Save");
    EXPECT_TRUE(Holds("a.sav", 100) && Holds("b.sav", 100));
}

TEST_F(Win32WindowTest, TheReportBoxFitsTheScreenAndShowsEveryEntryNotChanged) {
    frmMain& main = Open();
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);

    // A thousand failures over seven reasons, one with a name as long as names get.
    ostrapel::BatchResult result;
    const std::string longName = std::string(251, 'n') + ".sav";
    result.files.push_back({longName, false, "cipher tool failed (exit code 3)"});
    for (int i = 1; i < 1000; ++i) {
        result.files.push_back({"screenshot_" + std::to_string(i) + ".png", false,
                                "cipher tool failed (exit code " + std::to_string(i % 7) + ")"});
    }
    ostrapel::ReportBox box;
    box.warning = true;
    box.batch = &result;
    const BoxWatch seen =
        WatchBoxesWhile(main.Handle(), true, [&] { frmMain::ShowReportBox(main.Handle(), box); });
    ASSERT_FALSE(seen.gaveUp);
    ASSERT_NE(seen.box, nullptr);
    EXPECT_EQ(seen.boxTitle, L"Ostrapel");
    EXPECT_TRUE(seen.detailsButton);
    EXPECT_TRUE(Within(seen.boxRect, work));
    ASSERT_NE(seen.details, nullptr);
    EXPECT_EQ(seen.detailsTitle, L"Ostrapel");
    EXPECT_TRUE(Within(seen.detailsRect, work));
    // Every entry not changed, one a line; the text scrolls both ways.
    std::wstring expected;
    for (wchar_t c : Wide(ostrapel::NotChangedLines(result.files))) {
        expected += c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, c);
    }
    EXPECT_EQ(seen.detailsText, expected);
    EXPECT_EQ(seen.detailsLines, 1000);
    EXPECT_EQ(seen.detailsTextStyle & (WS_VSCROLL | WS_HSCROLL | ES_READONLY | ES_MULTILINE),
              WS_VSCROLL | WS_HSCROLL | ES_READONLY | ES_MULTILINE);
    EXPECT_TRUE(::IsWindowEnabled(main.Handle())); // given back once the boxes are gone
}

// The batch's and the restore's box: the information icon and no details button when all went
// well, the warning icon otherwise.
TEST_F(Win32WindowTest, TheBoxesIconSaysWhetherAllWentWell) {
    frmMain& main = Open();
    const auto standard = [](LPCWSTR id) {
        return static_cast<HICON>(
            ::LoadImageW(nullptr, id, IMAGE_ICON, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
    };
    ostrapel::BatchResult batch;
    batch.files = {{"a.sav", true, ""}, {"b.sav", true, ""}};
    batch.changedCount = 2;
    ostrapel::RestoreResult restore;
    restore.files = {{"a.sav", true, {}, {}, {}},
                     {"b.sav", false, "changed since the conversion", "C:\\b\\original-2", {}}};
    restore.restoredCount = 1;
    FullReport(restore) = ostrapel::ComposeRestoreReport(restore.files);
    struct Case {
        ostrapel::ReportBox::Kind kind;
        bool warning;
        bool details;
    };
    for (const Case& c : {Case{ostrapel::ReportBox::Kind::Batch, false, false},
                          Case{ostrapel::ReportBox::Kind::Restore, true, true}}) {
        ostrapel::ReportBox box;
        box.kind = c.kind;
        box.warning = c.warning;
        box.batch = &batch;
        box.restore = &restore;
        const BoxWatch seen = WatchBoxesWhile(
            main.Handle(), false, [&] { frmMain::ShowReportBox(main.Handle(), box); }, true);
        ASSERT_FALSE(seen.gaveUp);
        ASSERT_NE(seen.box, nullptr);
        EXPECT_EQ(seen.boxTitle, L"Ostrapel");
        EXPECT_EQ(seen.detailsButton, c.details);
        EXPECT_EQ(seen.icon, standard(c.warning ? IDI_WARNING : IDI_INFORMATION));
        EXPECT_TRUE(CentredOn(seen.boxRect, main.Handle()));
        // Ctrl+C copies the report, its details after a blank line.
        const ostrapel::BoxReport composed = box.Compose();
        std::wstring copy;
        for (wchar_t ch : Wide(composed.text + (c.details ? "\n\n" + composed.details : ""))) {
            copy += ch == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, ch);
        }
        EXPECT_EQ(seen.copied, copy);
    }
}

// The report shows as many reasons as fit the screen: the first of the ever shorter summaries
// whose text fits the room, the shortest when none does.
TEST(Win32ReportBox, TakesTheFirstSummaryThatFitsTheScreen) {
    ostrapel::BatchResult result;
    for (int i = 0; i < 70; ++i) {
        result.files.push_back({"save_" + std::to_string(i) + ".sav", false,
                                "cipher tool failed (exit code " + std::to_string(i % 7) + ")"});
    }
    ostrapel::ReportBox box;
    box.warning = true;
    box.batch = &result;
    const auto lineHeight = [](const std::wstring& text) {
        return 10 * static_cast<int>(1 + std::count(text.begin(), text.end(), L'\n'));
    };
    const auto summaries = ostrapel::ReportBox::ShorterSummaries();
    const int second = lineHeight(Wide(box.Compose(summaries[1]).text));
    ASSERT_GT(lineHeight(Wide(box.Compose(summaries[0]).text)), second);
    for (auto [room, expected] :
         {std::pair{100000, std::size_t{0}}, std::pair{second, std::size_t{1}},
          std::pair{0, summaries.size() - 1}}) {
        EXPECT_EQ(mdlReportBox::FittingSummary(box, lineHeight, room), expected) << room;
    }
}

// The classic label font is a raster font of the Central European code page, which font linking
// passes over: labels whose words it cannot show take a TrueType font that shows them or links to
// one that does.
TEST(Win32Layout, LabelsLeaveTheClassicFontForWordsItCannotShow) {
    for (auto [text, classic] :
         {std::pair{L"Select DLC &Version :", true}, std::pair{L"DLC-&Version w\u00e4hlen:", true},
          std::pair{L"Wybierz &wersj\u0119 DLC:", true},
          std::pair{L"S\u00e9lectionner la &version du DLC :", true},
          std::pair{L"Sele\u00e7\u00e3o da &vers\u00e3o", false}, std::pair{L"Voil\u00e0", false},
          std::pair{L"&\u0412\u0435\u0440\u0441\u0438\u044f DLC:", false},
          std::pair{L"\u9009\u62e9 DLC \u7248\u672c(&V)", false}}) {
        EXPECT_EQ(mdlLayout::ClassicLabelFontShows(text), classic) << ostrapel::win::Utf8(text);
        HFONT font = mdlLayout::LabelFont(96, {L"Open Your save Folder", text});
        LOGFONTW made{};
        ::GetObjectW(font, sizeof made, &made);
        ::DeleteObject(font);
        EXPECT_EQ(std::wstring(made.lfFaceName),
                  classic ? L"MS Sans Serif" : L"Microsoft Sans Serif")
            << ostrapel::win::Utf8(text);
    }
}

// Laid out at the window's own DPI where the system gives it (a monitor whose scale changed
// without signing out differs from the system's), else at the system's; Wine gives the system's.
TEST(Win32Layout, TheWindowTakesItsOwnDpi) {
    for (auto [own, system, expected] : {std::tuple{0u, 96, 96}, std::tuple{0u, 144, 144},
                                         std::tuple{144u, 96, 144}, std::tuple{96u, 192, 96}}) {
        EXPECT_EQ(mdlLayout::ChosenDpi(own, system), expected) << own << " " << system;
    }
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    const RECT at96 = mdlLayout::FrameFor({400, 300}, style, 0, 96);
    EXPECT_EQ(at96.right - at96.left - 400, 2 * ::GetSystemMetrics(SM_CXFIXEDFRAME));
}

// With a display, Wine shows its crash dialog for a program that crashes and holds it there
// until the dialog is closed; the runner ends such a run soon, as a crash, well before its time
// limit.
TEST(Win32Window, ACipherToolThatCrashesEndsAtOnceWithADisplay) {
    testsupport::TempDir dir;
    const std::string save = dir / "crash.sav";
    testsupport::WriteFile(save, "enciphered");
    testsupport::ScopedEnv faults{"STAND_IN_CIPHER_FAULTS", "decrypt:crash:*"};
    ostrapel::RunLimits limits;
    limits.timeLimit = std::chrono::seconds(60);
    const ostrapel::ProcessOutcome outcome =
        ostrapel::Scn_Process().Run_Process({testsupport::StandInToolPath(), {"/decrypt:" + save}},
                                            ostrapel::Scn_Process::kHidden, limits);
    EXPECT_EQ(outcome.kind, ostrapel::ProcessOutcome::Kind::Exited) << outcome.phrase().English();
    EXPECT_EQ(outcome.phrase().English(), "crashed (unhandled exception, 0xC0000144)")
        << outcome.output;
}

// The window in German and in Russian (win32_window_de, win32_window_ru: one language a process,
// chosen before the window starts): a batch whose tool fails on three screenshots reports them
// grouped, the box's words and the window's the catalogue's, the names and the tool's words as
// they are.
TEST_F(Win32WindowTest, ReportsAGroupedFailureInThePlayersLanguage) {
    const char* chosen = std::getenv("OSTRAPEL_TEST_LANGUAGE");
    if (chosen == nullptr) {
        GTEST_SKIP() << "run by win32_window_de and win32_window_ru, each in a process of its own";
    }
    const std::string language = chosen;
    ASSERT_EQ(ostrapel::UseLanguage(language), language);
    // The window's words are the catalogue's, not English.
    struct Words {
        std::wstring save, versionLabel, frame, showDetails, ok;
    };
    const auto said = [](const char* id) { return Wide(ostrapel::Tr(id)); };
    const Words words = {said(ostrapel::kApplyText), said(ostrapel::kVersionLabel),
                         said(ostrapel::kFrameTitle), said("Show &details..."), said("OK")};
    EXPECT_NE(words.save, Wide(ostrapel::kApplyText));
    EXPECT_NE(words.showDetails, L"Show &details...");

    for (const char* name : {"a.sav", "b.sav"}) {
        AddSave(name, 100);
    }
    std::string faults;
    for (const char* name : {"shot_1.png", "shot_2.png", "shot_3.png"}) {
        WriteFile(saves + "\\" + name, "\x89PNG");
        faults += std::string(faults.empty() ? "" : ";") + "decrypt:exit=3:" + name;
    }
    testsupport::ScopedEnv failing("STAND_IN_CIPHER_FAULTS", faults);
    frmMain& main = Open();
    main.setReportPresenter(&frmMain::ShowReportBox);
    EXPECT_EQ(Text(Control(frmMain::kCmdSave)), words.save);
    EXPECT_EQ(Text(Control(frmMain::kLabelBase + 1)), words.versionLabel);
    EXPECT_EQ(Text(Control(frmMain::kGroupBox1)), words.frame);
    ListAndRead();
    ChooseVersion(2);
    const BoxWatch seen = WatchBoxesWhile(main.Handle(), true, [&] {
        Click(frmMain::kCmdSave);
        // Until the box has come and gone: it shows once the batch has ended.
        ASSERT_TRUE(Wait([] { return watching->box != nullptr && !::IsWindow(watching->box); }));
    });
    ASSERT_FALSE(seen.gaveUp);
    ASSERT_NE(seen.box, nullptr);
    EXPECT_EQ(seen.boxTitle, L"Ostrapel");
    EXPECT_EQ(seen.detailsButtonText, words.showDetails);
    EXPECT_EQ(seen.detailsOk, words.ok);
    // The three grouped under their one cause, named as they are; the tool's own words in the
    // details, untranslated.
    for (const wchar_t* name : {L"shot_1.png", L"shot_2.png", L"shot_3.png"}) {
        EXPECT_NE(seen.boxTexts.find(name), std::wstring::npos) << seen.boxTexts;
        EXPECT_NE(seen.detailsText.find(std::wstring(L"stand-in: decrypt of ") + name +
                                        L" failed on purpose"),
                  std::wstring::npos)
            << seen.detailsText;
    }
    // The report's words from the catalogue: its first line with its plural, its heading.
    const ostrapel::Catalogue catalogue = ostrapel::CatalogueOf(language);
    const std::wstring changed =
        Wide(ostrapel::Fill(catalogue.TranslatePlural("Changed versions DLC in {n} files",
                                                      "Changed versions DLC in {n} files", 2),
                            {{"n", "2"}}));
    const std::wstring notChanged = Wide(std::string(catalogue.Translate("Not changed:")));
    ASSERT_EQ(changed.find(L"Changed versions"), std::wstring::npos) << "not in the catalogue";
    ASSERT_NE(notChanged, L"Not changed:") << "not in the catalogue";
    EXPECT_NE(seen.boxTexts.find(mdlReportBox::KeptTogether(changed) + L"\n"), std::wstring::npos)
        << seen.boxTexts;
    // A number stays with its words where the box wraps, a CJK counter ending a line with it.
    const std::pair<std::wstring, std::wstring> keptTogether[] = {
        {L"3 files (exit code 65) and 10 more, 2026-12-08 10:12",
         L"3\u00A0files (exit code\u00A065) and\u00A010\u00A0more,\u00A02026-12-08\u00A010:12"},
        {L"a.sav、b.sav 及另外 10 个", L"a.sav、b.sav 及另外\u00A010\u00A0个"},
        {L"{n} 个文件，涉及 2 个原因", L"{n} 个文件，涉及\u00A02\u00A0个原因"},
        {L"a.sav ほか 10 件", L"a.sav ほか\u00A010\u00A0件"},
    };
    for (const auto& [text, kept] : keptTogether) {
        EXPECT_EQ(mdlReportBox::KeptTogether(text), kept);
    }
    EXPECT_NE(seen.boxTexts.find(L"\n" + notChanged + L"\n"), std::wstring::npos) << seen.boxTexts;
    EXPECT_EQ(seen.boxTexts.find(L"Not changed"), std::wstring::npos) << seen.boxTexts;
    EXPECT_TRUE(Holds("a.sav", 200) && Holds("b.sav", 200));
    EXPECT_EQ(Text(Control(frmMain::kCmdSave)), words.save);
}
