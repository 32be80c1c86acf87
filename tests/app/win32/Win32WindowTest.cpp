// The Win32 window driven through messages, with an injected folder chooser and the stand-in
// cipher tool; under Wine with a virtual display.

#include "TestSupport.h"
#include "conversion/Backups.h"
#include "conversion/Report.h"
#include "frmMain.h"
#include "mdlReportBox.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/UserFolders.h"

#include <chrono>
#include <commctrl.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <shlobj.h>
#include <thread>
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

struct Report {
    int shown = 0;
    std::wstring text;
    std::wstring details;
    bool allChanged = false;
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
    HWND box = nullptr;
    RECT boxRect{};
    std::wstring boxTitle;
    bool detailsButton = false;
    HWND details = nullptr;
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
MenuWatch OpenListMenu(HWND list, POINT at, bool choose) {
    MenuWatch watch;
    watch.choose = choose;
    watchingMenu = &watch;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, &WatchMenu);
    ::SendMessageW(list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list),
                   MAKELPARAM(static_cast<short>(at.x), static_cast<short>(at.y)));
    ::KillTimer(nullptr, timer);
    watchingMenu = nullptr;
    return watch;
}

// Runs show, which puts up a real box over owner, and returns what the watch saw of it.
BoxWatch WatchBoxesWhile(HWND owner, bool openDetails, const std::function<void()>& show) {
    BoxWatch watch;
    watch.owner = owner;
    watch.openDetails = openDetails;
    watching = &watch;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, &WatchBoxes);
    show();
    ::KillTimer(nullptr, timer);
    watching = nullptr;
    return watch;
}

// Shows the real report box over owner and returns what the watch saw.
BoxWatch PresentAndWatch(HWND owner, const ostrapel::BoxReport& report, bool allChanged,
                         bool openDetails) {
    return WatchBoxesWhile(owner, openDetails, [&] {
        frmMain::ShowReportBox(owner, Wide(report.text), Wide(report.details), allChanged);
    });
}

// Shows the real restore box over owner and returns what the watch saw.
BoxWatch PresentRestoreAndWatch(HWND owner, const ostrapel::BoxReport& report, bool allRestored,
                                bool openDetails) {
    return WatchBoxesWhile(owner, openDetails, [&] {
        frmMain::ShowRestoreBox(owner, Wide(report.text), Wide(report.details), allRestored);
    });
}

// The text and state of the restore item of a file list menu, the menu's only item.
struct MenuItem {
    int items = 0;
    std::wstring text;
    bool enabled = false;
};
MenuItem RestoreItemOf(const frmMain::Menu& menu) {
    MenuItem item;
    item.items = ::GetMenuItemCount(menu.get());
    wchar_t text[256] = {};
    ::GetMenuStringW(menu.get(), frmMain::kMnuRestore, text, 256, MF_BYCOMMAND);
    item.text = text;
    item.enabled = (::GetMenuState(menu.get(), frmMain::kMnuRestore, MF_BYCOMMAND) &
                    (MF_GRAYED | MF_DISABLED)) == 0;
    return item;
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
    frmMain& Open() {
        window = std::make_unique<frmMain>(::GetModuleHandleW(nullptr), appDir, chooser, false);
        window->setReportPresenter(
            [this](HWND, const std::wstring& text, const std::wstring& details, bool allChanged) {
                ++report.shown;
                report.text = text;
                report.details = details;
                report.allChanged = allChanged;
            });
        // allChanged: every save was restored.
        window->setRestorePresenter(
            [this](HWND, const std::wstring& text, const std::wstring& details, bool allRestored) {
                ++restored.shown;
                restored.text = text;
                restored.details = details;
                restored.allChanged = allRestored;
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
    void AddSave(const std::string& name, unsigned seed) {
        WriteFile(saves + "\\" + name, EncipheredSave(1200, seed));
    }
    // Lists the saves and converts them to the version at index, waiting for the report.
    bool ConvertAll(int index) {
        chooser->next = saves;
        Click(frmMain::kCmdOpen);
        ChooseVersion(index);
        const int shown = report.shown;
        Click(frmMain::kCmdSave);
        return PumpUntil([&] { return report.shown > shown; }, std::chrono::seconds(60));
    }
    // Chooses the menu's restore item, as the menu does, and waits for the report.
    bool Restore() {
        const int shown = restored.shown;
        ChooseRestore();
        return PumpUntil([&] { return restored.shown > shown; }, std::chrono::seconds(60));
    }
    void ChooseRestore() {
        ::SendMessageW(window->Handle(), WM_COMMAND, MAKEWPARAM(frmMain::kMnuRestore, 0), 0);
    }
    MenuItem ListMenu() const { return RestoreItemOf(window->CreateFileListMenu()); }
    std::wstring Before(std::size_t set) const {
        const ostrapel::BackupSetListing listing = ostrapel::ListBackupSets(backups, saves);
        if (set >= listing.sets.size()) {
            return L"(no set " + std::to_wstring(set) + L")";
        }
        return L"Restore saves as they were before " +
               Wide(ostrapel::LocalTimeText(listing.sets[set].manifest.time));
    }

    std::shared_ptr<ScriptedChooser> chooser = std::make_shared<ScriptedChooser>();
    std::unique_ptr<frmMain> window;
    Report report;
    Report restored;
};

} // namespace

TEST_F(Win32WindowTest, StartsWithTheVersionsListedAndNothingChosen) {
    const std::string work = ostrapel::WorkFolderOf(appDir);
    WriteFile(work + "left-over.sav", "stale");
    testsupport::MakeDir(work + "kept");
    WriteFile(work + "kept\\inner", "x");
    (void)ostrapel::SetCurrentDirectory("C:\\");

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

    EXPECT_FALSE(testsupport::Exists(work + "left-over.sav"));
    EXPECT_TRUE(testsupport::Exists(work + "kept\\inner"));
    EXPECT_EQ(ostrapel::WithTrailingSeparator(ostrapel::CurrentDirectory()), appDir);
    EXPECT_NE(::GetClassLongPtrW(main.Handle(), GCLP_HICON), 0);
    EXPECT_NE(::SendMessageW(Control(frmMain::kCmdOpen), BM_GETIMAGE, IMAGE_ICON, 0), 0);
    EXPECT_EQ(Text(Control(frmMain::kCmdOpen)), L"Open Your save Folder"); // its accessible name
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
    EXPECT_EQ(Text(Control(frmMain::kLabelBase + 1)), L"Select DLC Version :");
    EXPECT_EQ(Text(Control(frmMain::kGroupBox1)), L"Open Folder save");
    EXPECT_EQ(Text(Control(frmMain::kGroupBox2)), L"File List");
    EXPECT_EQ(Text(Control(frmMain::kCmdSave)), L"Apply and Save");

    // Centred on the screen's work area.
    RECT frame{};
    ::GetWindowRect(main.Handle(), &frame);
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_LE(std::abs((frame.left - work.left) - (work.right - frame.right)), 1);
    EXPECT_LE(std::abs((frame.top - work.top) - (work.bottom - frame.bottom)), 1);
}

TEST_F(Win32WindowTest, TabGoesFromOpenToVersionsToListToSave) {
    frmMain& main = Open();
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

TEST_F(Win32WindowTest, ChoosingAVersionFillsTheHiddenFieldAndEnablesSave) {
    Open();
    ChooseVersion(2);
    EXPECT_EQ(Text(Control(frmMain::kTxt)), L"200");
    EXPECT_TRUE(::IsWindowEnabled(Control(frmMain::kCmdSave)));
    ChooseVersion(0);
    EXPECT_EQ(Text(Control(frmMain::kTxt)), L"0");
    EXPECT_TRUE(::IsWindowEnabled(Control(frmMain::kCmdSave)));
}

TEST_F(Win32WindowTest, OpenListsTheChosenFolderAndACancelEmptiesTheList) {
    for (const char* name : {"x", "ab", "abc", "slot 1.sav", "hidden.sav"}) {
        WriteFile(saves + "\\" + name, "");
    }
    testsupport::MakeDir(saves + "\\slots");
    ASSERT_TRUE(::SetFileAttributesW(testsupport::Native(saves + "\\hidden.sav").c_str(),
                                     FILE_ATTRIBUTE_HIDDEN));
    Open();
    chooser->next = saves + "\\";
    Click(frmMain::kCmdOpen);
    EXPECT_EQ(chooser->title, L"C:\\");
    std::vector<std::wstring> listed = ListItems(Control(frmMain::kList));
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::wstring>{L"abc", L"slot 1.sav", L"slots"}));
    EXPECT_EQ(::SendMessageW(Control(frmMain::kList), LB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(mdlSHBrowseForFolder::SelectedFolder(), saves);
    EXPECT_EQ(ostrapel::WithTrailingSeparator(ostrapel::CurrentDirectory()), appDir);

    chooser->next.reset();
    Click(frmMain::kCmdOpen);
    EXPECT_TRUE(ListItems(Control(frmMain::kList)).empty());
    EXPECT_EQ(mdlSHBrowseForFolder::SelectedFolder(), "");
}

TEST_F(Win32WindowTest, SaveConvertsTheListOffTheWindowsThreadWithTheControlsLocked) {
    AddSave("a.sav", 1);
    AddSave("Ünï b.sav", 2);
    testsupport::ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "any:sleep=100:*");
    Open();
    chooser->next = saves;
    Click(frmMain::kCmdOpen);
    ChooseVersion(3);
    Click(frmMain::kCmdSave);

    EXPECT_TRUE(window->batchRunning());
    for (int id : {frmMain::kCmdOpen, frmMain::kComboDLC}) {
        EXPECT_FALSE(::IsWindowEnabled(Control(id))) << id;
    }
    // The save button cancels while the batch runs.
    EXPECT_TRUE(::IsWindowEnabled(Control(frmMain::kCmdSave)));
    EXPECT_EQ(Text(Control(frmMain::kCmdSave)), L"Cancel");
    Click(frmMain::kCmdOpen); // ignored while the batch runs
    EXPECT_EQ(ListItems(Control(frmMain::kList)).size(), 2u);
    ASSERT_TRUE(PumpUntil([&] { return report.shown > 0; }, std::chrono::seconds(60)));

    // Then where the originals are kept and how to put them back.
    EXPECT_EQ(
        report.text.rfind(L"Changed versions DLC in 2 files\n\nThe originals are kept in ", 0), 0u);
    EXPECT_EQ(report.details, L"");
    EXPECT_TRUE(report.allChanged);
    EXPECT_EQ(ReadFile(saves + "\\a.sav"), testsupport::ConvertedSave(1200, 1, 300));
    EXPECT_EQ(ReadFile(saves + "\\Ünï b.sav"), testsupport::ConvertedSave(1200, 2, 300));
    EXPECT_FALSE(window->batchRunning());
    for (int id : {frmMain::kCmdOpen, frmMain::kComboDLC, frmMain::kCmdSave}) {
        EXPECT_TRUE(::IsWindowEnabled(Control(id))) << id;
    }
    EXPECT_EQ(Text(Control(frmMain::kCmdSave)), L"Apply and Save");
    // The cursor walked down the list.
    EXPECT_EQ(::SendMessageW(Control(frmMain::kList), LB_GETCURSEL, 0, 0), 1);
    EXPECT_TRUE(testsupport::SortedNames(ostrapel::WorkFolderOf(appDir)).empty());
}

// Closing during a batch offers to cancel it: declined, both go on; accepted, the batch is
// cancelled, the save stays as it was and the window closes once the report has been seen.
TEST_F(Win32WindowTest, ClosingDuringABatchOffersToCancelIt) {
    AddSave("a.sav", 1);
    testsupport::ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "any:sleep=300:*");
    frmMain& main = Open();
    int asked = 0;
    bool answer = false;
    main.setCloseQuestion([&](HWND) {
        ++asked;
        return answer;
    });
    chooser->next = saves;
    Click(frmMain::kCmdOpen);
    ChooseVersion(1);
    Click(frmMain::kCmdSave);
    HWND handle = main.Handle();
    ::SendMessageW(handle, WM_CLOSE, 0, 0);
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(PumpUntil([&] { return report.shown == 1; }, std::chrono::seconds(60)));
    EXPECT_TRUE(::IsWindow(handle));
    EXPECT_EQ(ReadFile(saves + "\\a.sav"), testsupport::ConvertedSave(1200, 1, 100));

    answer = true;
    ChooseVersion(3);
    Click(frmMain::kCmdSave);
    ::SendMessageW(handle, WM_CLOSE, 0, 0);
    EXPECT_EQ(asked, 2);
    ASSERT_TRUE(PumpUntil([&] { return !::IsWindow(handle); }, std::chrono::seconds(60)));
    EXPECT_EQ(report.shown, 2);
    EXPECT_NE(report.text.find(L"Cancelled"), std::wstring::npos);
    EXPECT_EQ(ReadFile(saves + "\\a.sav"), testsupport::ConvertedSave(1200, 1, 100));
    EXPECT_TRUE(testsupport::SortedNames(ostrapel::WorkFolderOf(appDir)).empty());
}

TEST_F(Win32WindowTest, TheReportGroupsWhatWasNotChangedAndListsItAllInTheDetails) {
    AddSave("a.sav", 1);
    AddSave("b.sav", 2);
    for (int i = 1; i <= 40; ++i) {
        testsupport::MakeDir(saves + "\\shots " + std::to_string(i));
    }
    testsupport::ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "decrypt:exit=3:b.sav");
    Open();
    chooser->next = saves;
    Click(frmMain::kCmdOpen);
    ChooseVersion(2);
    Click(frmMain::kCmdSave);
    ASSERT_TRUE(PumpUntil([&] { return report.shown > 0; }, std::chrono::seconds(120)));
    EXPECT_FALSE(report.allChanged);
    EXPECT_EQ(report.text.rfind(L"Changed versions DLC in 1 files", 0), 0u) << report.text.size();
    EXPECT_NE(report.text.find(L"40 files: is a folder: shots 1, shots 2, shots 3"),
              std::wstring::npos)
        << report.text.size();
    EXPECT_NE(report.text.find(L"and 37 more"), std::wstring::npos);
    EXPECT_LT(std::count(report.text.begin(), report.text.end(), L'\n'), 10);

    // Every entry not changed, one a line in list order, each with its reason.
    std::vector<std::wstring> lines;
    for (std::size_t at = 0; at <= report.details.size();) {
        const std::size_t end = std::min(report.details.find(L'\n', at), report.details.size());
        lines.push_back(report.details.substr(at, end - at));
        at = end + 1;
    }
    std::vector<std::wstring> expected;
    for (const std::wstring& name : ListItems(Control(frmMain::kList))) {
        if (name.rfind(L"shots ", 0) == 0) {
            expected.push_back(name + L": is a folder");
        } else if (name == L"b.sav") {
            expected.push_back(L"b.sav");
        }
    }
    ASSERT_EQ(lines.size(), 41u) << report.details.size();
    ASSERT_EQ(expected.size(), 41u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (expected[i] == L"b.sav") {
            EXPECT_EQ(lines[i].rfind(L"b.sav: ", 0), 0u) << lines[i];
            EXPECT_NE(lines[i].find(L"exit code 3"), std::wstring::npos) << lines[i];
        } else {
            EXPECT_EQ(lines[i], expected[i]);
        }
    }
}

TEST_F(Win32WindowTest, ClosingClearsTheWorkFolder) {
    frmMain& main = Open();
    HWND handle = main.Handle();
    WriteFile(ostrapel::WorkFolderOf(appDir) + "stale.sav", "x");
    ::SendMessageW(handle, WM_CLOSE, 0, 0);
    EXPECT_FALSE(::IsWindow(handle));
    EXPECT_TRUE(testsupport::SortedNames(ostrapel::WorkFolderOf(appDir)).empty());
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
    const ostrapel::BoxReport composed = ostrapel::ComposeBoxReport(result);

    const BoxWatch seen = PresentAndWatch(main.Handle(), composed, false, true);
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
    EXPECT_EQ(seen.detailsText.rfind(Wide(longName) + L": cipher tool failed (exit code 3)\r\n", 0),
              0u);
    EXPECT_EQ(seen.detailsLines, 1000);
    EXPECT_EQ(seen.detailsTextStyle & (WS_VSCROLL | WS_HSCROLL | ES_READONLY | ES_MULTILINE),
              WS_VSCROLL | WS_HSCROLL | ES_READONLY | ES_MULTILINE);
    EXPECT_TRUE(::IsWindowEnabled(main.Handle())); // given back once the boxes are gone

    // Every entry changed: nothing to detail, no details button.
    ostrapel::BatchResult allChanged;
    allChanged.files = {{"a.sav", true, ""}, {"b.sav", true, ""}};
    allChanged.changedCount = 2;
    const BoxWatch plain =
        PresentAndWatch(main.Handle(), ostrapel::ComposeBoxReport(allChanged), true, false);
    ASSERT_FALSE(plain.gaveUp);
    ASSERT_NE(plain.box, nullptr);
    EXPECT_EQ(plain.boxTitle, L"Ostrapel");
    EXPECT_FALSE(plain.detailsButton);
    EXPECT_TRUE(Within(plain.boxRect, work));
    EXPECT_EQ(plain.details, nullptr);
}

TEST_F(Win32WindowTest, TheRestoreItemIsDisabledWithNothingToUndoAndLockedDuringABatch) {
    AddSave("a.sav", 1);
    AddSave("b.sav", 2);
    Open();
    const MenuItem none = ListMenu();
    EXPECT_EQ(none.items, 1);
    EXPECT_EQ(none.text, L"Restore saves as they were before the last conversion");
    EXPECT_FALSE(none.enabled);
    chooser->next = saves;
    Click(frmMain::kCmdOpen);
    EXPECT_FALSE(ListMenu().enabled);
    EXPECT_EQ(ListMenu().text, L"Restore saves as they were before the last conversion");
    // Chosen anyway: says so, with the warning icon, and touches nothing.
    ASSERT_TRUE(Restore());
    EXPECT_EQ(restored.text, L"No conversion of " + Wide(saves) + L" to undo");
    EXPECT_FALSE(restored.allChanged);
    EXPECT_EQ(ReadFile(saves + "\\a.sav"), EncipheredSave(1200, 1));

    ASSERT_TRUE(ConvertAll(1));
    MenuItem after = ListMenu();
    EXPECT_TRUE(after.enabled);
    EXPECT_EQ(after.text, Before(0));

    // Locked while a batch runs, and not to be chosen meanwhile.
    testsupport::ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "any:sleep=100:*");
    ChooseVersion(3);
    Click(frmMain::kCmdSave);
    ASSERT_TRUE(window->batchRunning());
    EXPECT_FALSE(ListMenu().enabled);
    ChooseRestore();
    ASSERT_TRUE(PumpUntil([&] { return report.shown == 2; }, std::chrono::seconds(60)));
    PumpUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(restored.shown, 1);
    EXPECT_EQ(ReadFile(saves + "\\a.sav"), testsupport::ConvertedSave(1200, 1, 300));
    after = ListMenu();
    EXPECT_TRUE(after.enabled);
    EXPECT_EQ(after.text, Before(0)); // the newest batch's
    EXPECT_EQ(ostrapel::ListBackupSets(backups, saves).sets.size(), 2u);
}

// Two batches undone one after the other, newest first: the first through the menu as the
// keyboard opens and chooses it, the second with the controls locked until its report is seen.
TEST_F(Win32WindowTest, RestoringPutsTheSavesBackBatchByBatchWithTheControlsLocked) {
    AddSave("a.sav", 1);
    AddSave("Ünï b.sav", 2);
    Open();
    ASSERT_TRUE(ConvertAll(3));
    ASSERT_TRUE(ConvertAll(1));
    HWND list = Control(frmMain::kList);
    ::SendMessageW(list, LB_SETCURSEL, 1, 0);

    const MenuWatch chosen = OpenListMenu(list, POINT{-1, -1}, true);
    ASSERT_TRUE(chosen.seen);
    EXPECT_EQ(chosen.text, Before(0));
    EXPECT_TRUE(chosen.enabled);
    // Under the selected entry.
    RECT entry{};
    ::SendMessageW(list, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&entry));
    POINT below{entry.left, entry.bottom};
    ::ClientToScreen(list, &below);
    EXPECT_EQ(chosen.rect.left, below.x);
    EXPECT_EQ(chosen.rect.top, below.y);
    ASSERT_TRUE(PumpUntil([&] { return restored.shown > 0; }, std::chrono::seconds(60)));
    EXPECT_EQ(restored.text, L"Restored 2 files");
    EXPECT_TRUE(restored.allChanged);
    EXPECT_EQ(ReadFile(saves + "\\a.sav"), testsupport::ConvertedSave(1200, 1, 300));
    EXPECT_EQ(ReadFile(saves + "\\Ünï b.sav"), testsupport::ConvertedSave(1200, 2, 300));
    EXPECT_FALSE(window->batchRunning());
    for (int id : {frmMain::kCmdOpen, frmMain::kComboDLC, frmMain::kCmdSave}) {
        EXPECT_TRUE(::IsWindowEnabled(Control(id))) << id;
    }
    // The list stays as it was, the folder listed, and shows the versions put back.
    EXPECT_EQ(ListItems(list).size(), 2u);
    EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), 1);
    ASSERT_TRUE(PumpUntil([&] { return !window->readingVersions(); }, std::chrono::seconds(60)));
    EXPECT_EQ(window->VersionShown(0), L"3.00");
    EXPECT_EQ(window->VersionShown(1), L"3.00");

    EXPECT_EQ(ListMenu().text, Before(1));
    ChooseRestore();
    ASSERT_TRUE(window->batchRunning());
    for (int id : {frmMain::kCmdOpen, frmMain::kComboDLC, frmMain::kCmdSave}) {
        EXPECT_FALSE(::IsWindowEnabled(Control(id))) << id;
    }
    EXPECT_EQ(Text(Control(frmMain::kCmdSave)), L"Apply and Save"); // nothing to cancel
    EXPECT_FALSE(ListMenu().enabled);
    ChooseRestore(); // ignored: one restore at a time
    chooser->next.reset();
    Click(frmMain::kCmdOpen); // ignored too, or the list would be empty
    ASSERT_TRUE(PumpUntil([&] { return restored.shown == 2; }, std::chrono::seconds(60)));
    PumpUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(restored.shown, 2);
    EXPECT_EQ(restored.text, L"Restored 2 files");
    EXPECT_TRUE(restored.allChanged);
    EXPECT_EQ(ReadFile(saves + "\\a.sav"), EncipheredSave(1200, 1));
    EXPECT_EQ(ReadFile(saves + "\\Ünï b.sav"), EncipheredSave(1200, 2));
    EXPECT_EQ(ListItems(list).size(), 2u);
    EXPECT_FALSE(window->batchRunning());
    EXPECT_TRUE(::IsWindowEnabled(Control(frmMain::kCmdSave)));
    EXPECT_FALSE(ListMenu().enabled); // nothing left to undo
}

TEST_F(Win32WindowTest, ASaveWrittenSinceTheBatchIsLeftAloneWithAWarning) {
    AddSave("a.sav", 1);
    AddSave("b.sav", 2);
    Open();
    ASSERT_TRUE(ConvertAll(2));
    WriteFile(saves + "\\b.sav", "saved by the game");
    ASSERT_TRUE(Restore());
    EXPECT_FALSE(restored.allChanged);
    const std::string set = ostrapel::ListBackupSets(backups, saves).sets.at(0).folder;
    EXPECT_EQ(restored.text, L"Restored 1 files\n\nNot restored:\n"
                             L"1 file: changed since the conversion: b.sav\n\n"
                             L"The originals of the saves not restored are kept in " +
                                 Wide(set));
    EXPECT_EQ(restored.details, L"b.sav: changed since the conversion; its original is kept at " +
                                    Wide(ostrapel::JoinPath(set, "original-2")));
    EXPECT_EQ(ReadFile(saves + "\\a.sav"), EncipheredSave(1200, 1));
    EXPECT_EQ(ReadFile(saves + "\\b.sav"), "saved by the game");
}

TEST_F(Win32WindowTest, RightClickOnTheFileListOpensTheMenuThere) {
    AddSave("a.sav", 1);
    Open();
    HWND list = Control(frmMain::kList);
    RECT area{};
    ::GetWindowRect(list, &area);
    const POINT at{(area.left + area.right) / 2, (area.top + area.bottom) / 2};
    // Nothing listed: the item shows, disabled.
    MenuWatch seen = OpenListMenu(list, at, false);
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.items, 1);
    EXPECT_EQ(seen.text, L"Restore saves as they were before the last conversion");
    EXPECT_FALSE(seen.enabled);

    ASSERT_TRUE(ConvertAll(1));
    seen = OpenListMenu(list, at, false);
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.text, Before(0));
    EXPECT_TRUE(seen.enabled);
    EXPECT_EQ(seen.rect.left, at.x);
    EXPECT_EQ(seen.rect.top, at.y);
    PumpUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(restored.shown, 0); // dismissed, not chosen
}

// A restore cannot be cancelled: closing during one asks nothing; the window closes once the
// report has been seen.
TEST_F(Win32WindowTest, ClosingDuringARestoreClosesOnceItHasEnded) {
    AddSave("a.sav", 1);
    frmMain& main = Open();
    int asked = 0;
    main.setCloseQuestion([&](HWND) {
        ++asked;
        return false;
    });
    ASSERT_TRUE(ConvertAll(1));
    HWND handle = main.Handle();
    ChooseRestore();
    ASSERT_TRUE(main.batchRunning());
    ::SendMessageW(handle, WM_CLOSE, 0, 0);
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(::IsWindow(handle));
    ASSERT_TRUE(PumpUntil([&] { return !::IsWindow(handle); }, std::chrono::seconds(60)));
    EXPECT_EQ(restored.shown, 1);
    EXPECT_EQ(restored.text, L"Restored 1 files");
    EXPECT_EQ(ReadFile(saves + "\\a.sav"), EncipheredSave(1200, 1));
}

TEST_F(Win32WindowTest, TheRestoreBoxShowsTheInformationIconOnlyWhenAllWereRestored) {
    frmMain& main = Open();
    const auto standard = [](LPCWSTR icon) {
        return static_cast<HICON>(
            ::LoadImageW(nullptr, icon, IMAGE_ICON, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
    };
    ostrapel::RestoreResult result;
    result.files = {{"a.sav", true, {}, {}}, {"b.sav", true, {}, {}}};
    result.restoredCount = 2;
    result.report = ostrapel::ComposeRestoreReport(result.files);
    const BoxWatch all = PresentRestoreAndWatch(
        main.Handle(), ostrapel::ComposeRestoreBoxReport(result), result.allRestored(), false);
    ASSERT_FALSE(all.gaveUp);
    ASSERT_NE(all.box, nullptr);
    EXPECT_EQ(all.boxTitle, L"Ostrapel");
    EXPECT_FALSE(all.detailsButton);
    EXPECT_EQ(all.icon, standard(IDI_INFORMATION));

    result.files[1] = {"b.sav", false, "changed since the conversion", "C:\\b\\original-2"};
    result.restoredCount = 1;
    result.report = ostrapel::ComposeRestoreReport(result.files);
    const BoxWatch some = PresentRestoreAndWatch(
        main.Handle(), ostrapel::ComposeRestoreBoxReport(result), result.allRestored(), false);
    ASSERT_FALSE(some.gaveUp);
    ASSERT_NE(some.box, nullptr);
    EXPECT_EQ(some.boxTitle, L"Ostrapel");
    EXPECT_EQ(some.icon, standard(IDI_WARNING));
    EXPECT_NE(some.icon, all.icon);
}

namespace {

constexpr std::size_t kSaveSize = 1200;

// Whether the stand-in tool has logged a run ("decrypt a.sav").
bool Ran(const std::string& log, const std::string& run) {
    const std::vector<std::string> runs = testsupport::ReadLines(log);
    return std::find(runs.begin(), runs.end(), run) != runs.end();
}

// Each listed entry's version as the window shows it, by the entry's name.
std::map<std::wstring, std::wstring> Versions(const frmMain& window, HWND list) {
    std::map<std::wstring, std::wstring> versions;
    const std::vector<std::wstring> names = ListItems(list);
    for (std::size_t row = 0; row < names.size(); ++row) {
        versions[names[row]] = window.VersionShown(row);
    }
    return versions;
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
void PressEscape(HWND window) {
    HWND focus = ::GetFocus();
    MSG message{focus != nullptr ? focus : window, WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, {}};
    if (!::IsDialogMessageW(window, &message)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

class Win32SteerTest : public Win32WindowTest {
protected:
    void AddSaveAt(const std::string& folder, const std::string& name, int value) {
        WriteFile(folder + "\\" + name,
                  testsupport::ConvertedSave(kSaveSize, static_cast<unsigned>(name[0]), value));
    }
    bool Holds(const std::string& folder, const std::string& name, int value) {
        return ReadFile(folder + "\\" + name) ==
               testsupport::ConvertedSave(kSaveSize, static_cast<unsigned>(name[0]), value);
    }
    // Lists folder with the open button and waits until its versions have been read.
    void ListAndRead(const std::string& folder) {
        chooser->next = folder;
        Click(frmMain::kCmdOpen);
        ASSERT_TRUE(
            PumpUntil([&] { return !window->readingVersions(); }, std::chrono::seconds(60)));
    }
    bool Wait(const std::function<bool()>& done) {
        return PumpUntil(done, std::chrono::seconds(60));
    }
};

} // namespace

TEST_F(Win32SteerTest, VersionsAreReadOffTheWindowsThreadAndShownBesideTheNames) {
    AddSaveAt(saves, "zero.sav", 0);
    AddSaveAt(saves, "one.sav", 100);
    AddSaveAt(saves, "three.sav", 300);
    AddSaveAt(saves, "odd.sav", 250);
    WriteFile(saves + "\\plain.sav", "not enciphered");
    const std::string before = ReadFile(saves + "\\one.sav");
    frmMain& main = Open();
    HWND list = Control(frmMain::kList);

    chooser->next = saves;
    Click(frmMain::kCmdOpen);
    EXPECT_TRUE(main.readingVersions()); // the window goes on while the tool runs
    const std::vector<std::wstring> names = ListItems(list);
    ASSERT_EQ(names.size(), 5u);
    // Nothing yet right of the short names.
    EXPECT_EQ(InkInRow(list, 1, 0.65), 0);
    ASSERT_TRUE(Wait([&] { return !main.readingVersions(); }));

    EXPECT_EQ(Versions(main, list),
              (std::map<std::wstring, std::wstring>{{L"zero.sav", L"0.00"},
                                                    {L"one.sav", L"1.00"},
                                                    {L"three.sav", L"3.00"},
                                                    {L"odd.sav", L"250"},
                                                    {L"plain.sav", L"not read"}}));
    // The items keep the exact names; the versions are drawn beside them, at the right.
    EXPECT_EQ(ListItems(list), names);
    EXPECT_GT(InkInRow(list, 1, 0.65), 0);
    EXPECT_EQ(ReadFile(saves + "\\one.sav"), before);
    EXPECT_TRUE(testsupport::SortedNames(ostrapel::WorkFolderOf(appDir)).empty());

    // Without the cipher tool nothing is read.
    ASSERT_TRUE(::DeleteFileW(testsupport::Native(appDir + "Decrypt\\decrypt.exe").c_str()));
    Click(frmMain::kCmdOpen);
    EXPECT_FALSE(main.readingVersions());
    PumpUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(ListItems(list), names);
    EXPECT_EQ(main.VersionShown(0), L"");
}

// Another folder stops the reading of the first: the tool hanging on it is ended. A batch stops
// it too, and still gets the work folder; it refreshes the versions it changed.
TEST_F(Win32SteerTest, ReadingStopsForAnotherFolderAndForABatch) {
    AddSaveAt(saves, "a.sav", 100);
    AddSaveAt(saves, "b.sav", 100);
    const std::string other = root / "other";
    testsupport::MakeDir(other);
    AddSaveAt(other, "c.sav", 300);
    frmMain& main = Open();
    HWND list = Control(frmMain::kList);
    {
        testsupport::ScopedEnv hang("STAND_IN_CIPHER_FAULTS", "decrypt:hang=40000:a.sav");
        chooser->next = saves;
        Click(frmMain::kCmdOpen);
        ASSERT_TRUE(Wait([&] { return Ran(log, "decrypt a.sav"); }));
        EXPECT_TRUE(main.readingVersions());
        const auto started = std::chrono::steady_clock::now();
        ListAndRead(other);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
        EXPECT_EQ(Versions(main, list),
                  (std::map<std::wstring, std::wstring>{{L"c.sav", L"3.00"}}));

        WriteFile(log, "");
        chooser->next = saves;
        Click(frmMain::kCmdOpen);
        ASSERT_TRUE(Wait([&] { return Ran(log, "decrypt a.sav"); }));
    }
    ChooseVersion(2);
    Click(frmMain::kCmdSave);
    EXPECT_FALSE(main.readingVersions());
    ASSERT_TRUE(Wait([&] { return report.shown > 0; }));
    EXPECT_EQ(
        report.text.rfind(L"Changed versions DLC in 2 files\n\nThe originals are kept in ", 0), 0u)
        << report.text.size();
    EXPECT_EQ(Versions(main, list),
              (std::map<std::wstring, std::wstring>{{L"a.sav", L"2.00"}, {L"b.sav", L"2.00"}}));
    EXPECT_TRUE(Holds(saves, "a.sav", 200) && Holds(saves, "b.sav", 200));
}

// During a batch the file list's caption says how far it is; Esc cancels it as the save button
// does, in the decipher pass and in the encipher pass, and every save stays as it was.
TEST_F(Win32SteerTest, ProgressInTheCaptionAndEscOrTheButtonCancels) {
    struct Case {
        const char* fault;
        bool escape;
    };
    for (const Case& c :
         {Case{"decrypt:hang=40000:b.sav", true}, Case{"encrypt:hang=40000:b.sav", true},
          Case{"decrypt:hang=40000:b.sav", false}}) {
        SCOPED_TRACE(std::string(c.fault) + (c.escape ? " by Esc" : " by the button"));
        for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
            AddSaveAt(saves, name, 100);
        }
        report = Report();
        frmMain& main = Open();
        HWND frame = Control(frmMain::kGroupBox2);
        ListAndRead(saves);
        WriteFile(log, "");
        testsupport::ScopedEnv hang("STAND_IN_CIPHER_FAULTS", c.fault);

        ChooseVersion(3);
        Click(frmMain::kCmdSave);
        const std::string hanging = std::string(c.fault).substr(0, 7) + " b.sav";
        ASSERT_TRUE(Wait([&] { return Ran(log, hanging); }));
        ASSERT_TRUE(Wait([&] { return Text(frame) == L"2 of 3: b.sav"; })) << Text(frame);
        EXPECT_EQ(Text(Control(frmMain::kCmdSave)), L"Cancel");
        if (c.escape) {
            EXPECT_TRUE(::IsChild(main.Handle(), ::GetFocus()));
            PressEscape(main.Handle());
        } else {
            Click(frmMain::kCmdSave);
        }
        ASSERT_TRUE(Wait([&] { return report.shown > 0; }));

        EXPECT_EQ(report.text.rfind(L"Changed versions DLC in 0 files", 0), 0u) << report.text;
        EXPECT_NE(report.text.find(L"\nCancelled"), std::wstring::npos) << report.text;
        EXPECT_FALSE(report.allChanged);
        for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
            EXPECT_TRUE(Holds(saves, name, 100)) << name;
        }
        EXPECT_TRUE(testsupport::SortedNames(ostrapel::WorkFolderOf(appDir)).empty());
        EXPECT_EQ(Text(frame), L"File List");
        EXPECT_EQ(Text(Control(frmMain::kCmdSave)), L"Apply and Save");
        window.reset();
    }
}

TEST_F(Win32SteerTest, DroppingAFolderOrAFileInItListsTheFolder) {
    AddSaveAt(saves, "a.sav", 400);
    const std::string other = root / "other";
    testsupport::MakeDir(other);
    AddSaveAt(other, "c.sav", 300);
    frmMain& main = Open();
    HWND list = Control(frmMain::kList);
    EXPECT_NE(::GetWindowLongW(main.Handle(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);

    Drop(main.Handle(), saves + "\\a.sav");
    EXPECT_EQ(ListItems(list), (std::vector<std::wstring>{L"a.sav"}));
    EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(mdlSHBrowseForFolder::SelectedFolder(), saves);
    EXPECT_EQ(ostrapel::WithTrailingSeparator(ostrapel::CurrentDirectory()), appDir);
    ASSERT_TRUE(Wait([&] { return !main.readingVersions(); }));
    EXPECT_EQ(main.VersionShown(0), L"4.00");
    EXPECT_EQ(chooser->calls, 0);

    Drop(main.Handle(), other + "\\");
    EXPECT_EQ(ListItems(list), (std::vector<std::wstring>{L"c.sav"}));
    EXPECT_EQ(mdlSHBrowseForFolder::SelectedFolder(), other);
    ASSERT_TRUE(Wait([&] { return !main.readingVersions(); }));

    // Nothing that is not there is taken.
    Drop(main.Handle(), root / "missing");
    EXPECT_EQ(ListItems(list), (std::vector<std::wstring>{L"c.sav"}));
    EXPECT_EQ(mdlSHBrowseForFolder::SelectedFolder(), other);

    // During a batch a drop is ignored and the list stays.
    testsupport::ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "any:sleep=200:*");
    ChooseVersion(1);
    Click(frmMain::kCmdSave);
    ASSERT_TRUE(main.batchRunning());
    Drop(main.Handle(), saves);
    EXPECT_EQ(ListItems(list), (std::vector<std::wstring>{L"c.sav"}));
    EXPECT_EQ(mdlSHBrowseForFolder::SelectedFolder(), other);
    ASSERT_TRUE(Wait([&] { return report.shown > 0; }));
    EXPECT_TRUE(Holds(other, "c.sav", 100));
    EXPECT_TRUE(Holds(saves, "a.sav", 400));
}

// A thousand saves left alone, each with its original at a long path of its own: the box stays
// within the work area with a short summary, and its details list every one of them.
TEST_F(Win32WindowTest, TheRestoreBoxFitsTheScreenAndShowsEverySaveNotRestored) {
    frmMain& main = Open();
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);

    ostrapel::RestoreResult result;
    result.setFolder = "C:\\Users\\player\\" + std::string(180, 'd') + "\\Backups\\5d2c\\7";
    for (int i = 1; i <= 1000; ++i) {
        result.files.push_back(
            {"slot " + std::to_string(i) + std::string(200, 's') + ".sav", false,
             i % 10 == 0 ? "removed since the conversion" : "changed since the conversion",
             result.setFolder + "\\original-" + std::to_string(i)});
    }
    result.files.push_back({"profile.sav", true, {}, {}});
    result.restoredCount = 1;
    result.report = ostrapel::ComposeRestoreReport(result.files);

    const BoxWatch seen = PresentRestoreAndWatch(
        main.Handle(), ostrapel::ComposeRestoreBoxReport(result), result.allRestored(), true);
    ASSERT_FALSE(seen.gaveUp);
    ASSERT_NE(seen.box, nullptr);
    EXPECT_EQ(seen.boxTitle, L"Ostrapel");
    EXPECT_TRUE(seen.detailsButton);
    EXPECT_TRUE(Within(seen.boxRect, work));
    ASSERT_NE(seen.details, nullptr);
    EXPECT_EQ(seen.detailsTitle, L"Ostrapel");
    EXPECT_TRUE(Within(seen.detailsRect, work));
    std::wstring expected;
    for (wchar_t c : Wide(ostrapel::NotRestoredLines(result.files))) {
        expected += c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, c);
    }
    EXPECT_EQ(seen.detailsText, expected);
    EXPECT_EQ(seen.detailsText.rfind(Wide(result.files[0].name) +
                                         L": changed since the conversion; its original is kept "
                                         L"at " +
                                         Wide(result.setFolder) + L"\\original-1\r\n",
                                     0),
              0u);
    EXPECT_EQ(seen.detailsLines, 1000);
    EXPECT_TRUE(::IsWindowEnabled(main.Handle()));
}
