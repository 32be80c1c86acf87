#include "frmMain.h"

#include "Words.h"
#include "mdlAccessibility.h"
#include "mdlFileList.h"
#include "mdlKeys.h"
#include "mdlLayout.h"
#include "mdlReportBox.h"
#include "mdlTaskbar.h"
#include "resources/resource.h"
#include "system/windows/WindowsText.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shobjidl.h>

namespace {

using ostrapel::win::Utf8;
using ostrapel::win::Wide;

constexpr wchar_t kWindowClass[] = L"OstrapelMain";
constexpr UINT kPosted = WM_APP + 1; // the model's wake-up
constexpr UINT_PTR kPaceTimer = 1;
constexpr int kLabelGap = 2;

// Where each control lies in its container.
constexpr mdlLayout::Twips kLayout[] = {
    {frmMain::kEP, 2520, 3960, 1935, 735}, // below the client area's bottom edge, and hidden
    {frmMain::kTxt, 120, 240, 1695, 255},
    {frmMain::kGroupBox1, 120, 120, 7935, 2535},
    {frmMain::kCmdSave, 120, 2040, 2655, 375},
    {frmMain::kGroupBox2, 3000, 240, 1815, 2175},
    {frmMain::kList, 120, 240, 1575, 1815},
    // The closed field's height; the list drops 150 pixels below it.
    {frmMain::kComboDLC, 120, 1440, 2655, 315 + 150 * 15},
    {frmMain::kCmdOpen, 120, 360, 615, 495},
    {frmMain::kImage1, 4920, 240, 2940, 2100},
    {frmMain::kLabelBase + 1, 120, 1080, 1785, 195},
    {frmMain::kLabelBase, 840, 360, 1965, 195},
};

// Where the layout puts a control at dpi.
RECT LaidOut(int id, int dpi) {
    for (const mdlLayout::Twips& at : kLayout) {
        if (at.id == id) {
            return mdlLayout::Placement(at, dpi);
        }
    }
    return {};
}

} // namespace

frmMain::frmMain(HINSTANCE instance, std::string appDir,
                 std::shared_ptr<mdlSHBrowseForFolder::FolderChooser> chooser, bool quitOnClose,
                 ostrapel::WindowOptions options)
    : instance_(instance),
      chooser_(chooser ? std::move(chooser)
                       : std::make_shared<mdlSHBrowseForFolder::ShellFolderChooser>()),
      quitOnClose_(quitOnClose), taskbar_(&mdlTaskbar::ShowOnTaskbar) {
    icon_ = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_OSTRAPEL), IMAGE_ICON,
                                            ::GetSystemMetrics(SM_CXICON),
                                            ::GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_OSTRAPEL),
                                                 IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                 ::GetSystemMetrics(SM_CYSMICON), 0));
    logo_ = static_cast<HICON>(
        ::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_LOGO), IMAGE_ICON, 180, 180, 0));
    white_ = ::CreateSolidBrush(RGB(255, 255, 255));

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &frmMain::WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = icon_;
    windowClass.hIconSm = smallIcon_;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = white_;
    windowClass.lpszClassName = kWindowClass;
    ::RegisterClassExW(&windowClass); // fails harmlessly when registered already

    dpi_ = mdlLayout::SystemDpi();
    // Fixed single border: a caption, the system menu and a minimise button, no resizing.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
    ::AdjustWindowRectEx(&frame, style, FALSE, WS_EX_CONTROLPARENT);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    ::CreateWindowExW(WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES, kWindowClass,
                      Wide(ostrapel::Tr(ostrapel::WindowModel::kTitle)).c_str(), style,
                      work.left + (work.right - work.left - width) / 2,
                      work.top + (work.bottom - work.top - height) / 2, width, height, nullptr,
                      nullptr, instance_, this);
    // Made at the system's DPI; on a monitor whose scale is another, sized and centred there at
    // its own before the controls are laid out.
    if (const int own = mdlLayout::WindowDpi(hwnd_); own != dpi_) {
        dpi_ = own;
        const RECT sized = mdlLayout::FrameFor({Scale(kClientWidth), Scale(kClientHeight)}, style,
                                               WS_EX_CONTROLPARENT, dpi_);
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        ::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &monitor);
        const RECT& area = monitor.rcWork;
        const int sizedWidth = sized.right - sized.left;
        const int sizedHeight = sized.bottom - sized.top;
        ::SetWindowPos(hwnd_, nullptr, area.left + (area.right - area.left - sizedWidth) / 2,
                       area.top + (area.bottom - area.top - sizedHeight) / 2, sizedWidth,
                       sizedHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    options.appDir = std::move(appDir);
    model_ = std::make_unique<ostrapel::WindowModel>(
        *this, [window = hwnd_] { ::PostMessageW(window, kPosted, 0, 0); }, std::move(options));
    CreateControls();
    FollowSystemColours();
    for (const std::string& label : ostrapel::WindowModel::VersionLabels()) {
        ::SendMessageW(Control(kComboDLC), CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(Wide(label).c_str()));
    }
    ::SendMessageW(Control(kComboDLC), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    model_->Show();
}

frmMain::~frmMain() {
    listAnnotation_.reset();
    model_.reset(); // its workers end before the window goes
    if (hwnd_ != nullptr) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
    for (HFONT font : {labelFont_, uiFont_}) {
        ::DeleteObject(font);
    }
    for (HICON icon : {icon_, smallIcon_, openFolder_, logo_}) {
        if (icon != nullptr) {
            ::DestroyIcon(icon);
        }
    }
    ::DeleteObject(white_);
}

bool frmMain::SystemHighContrast() {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) != FALSE &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void frmMain::FollowSystemColours() {
    highContrast_ = contrastProbe_();
    ::SetClassLongPtrW(hwnd_, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(Background()));
    ::RedrawWindow(hwnd_, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

HWND frmMain::ParentOf(int id) const {
    switch (id) {
    case kTxt:
        return EP_;
    case kList:
        return GroupBox2_;
    case kEP:
    case kGroupBox1:
        return hwnd_;
    default:
        return GroupBox1_;
    }
}

void frmMain::CreateControls() {
    const auto create = [this](const wchar_t* kind, const wchar_t* text, DWORD style, int id,
                               DWORD exStyle = 0) {
        return ::CreateWindowExW(exStyle, kind, text, style | WS_CHILD, 0, 0, 0, 0, ParentOf(id),
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_,
                                 nullptr);
    };
    const DWORD visible = WS_VISIBLE;
    // Every text in the program's language. The open button's access key is its own: its label
    // and tooltip show the words without the mark, and so does the list's name.
    const std::wstring openWords = Wide(ostrapel::Tr(ostrapel::kOpenLabel));
    const std::wstring openPlain =
        Wide(ostrapel::WithoutAccessKey(ostrapel::Tr(ostrapel::kOpenLabel)));
    const std::wstring listPlain =
        Wide(ostrapel::WithoutAccessKey(ostrapel::Tr(ostrapel::kListTitle)));
    EP_ = create(WC_BUTTONW, L"EditPanel", BS_GROUPBOX, kEP, WS_EX_CONTROLPARENT);
    create(WC_EDITW, L"400", ES_AUTOHSCROLL, kTxt);
    GroupBox1_ = create(WC_BUTTONW, Wide(ostrapel::Tr(ostrapel::kFrameTitle)).c_str(),
                        visible | BS_GROUPBOX, kGroupBox1, WS_EX_CONTROLPARENT);
    HWND save = create(WC_BUTTONW, Wide(ostrapel::Tr(ostrapel::kApplyText)).c_str(),
                       visible | WS_TABSTOP | BS_PUSHBUTTON, kCmdSave);
    GroupBox2_ = create(WC_BUTTONW, Wide(ostrapel::Tr(ostrapel::kListTitle)).c_str(),
                        visible | WS_CLIPCHILDREN | BS_GROUPBOX, kGroupBox2, WS_EX_CONTROLPARENT);
    // Drawn by the window, each name with its version beside it. The items hold the names; a
    // screen reader is told each row's name and version, or why there is none (ListAnnotation).
    HWND list = create(WC_LISTBOXW, listPlain.c_str(),
                       visible | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT |
                           LBS_OWNERDRAWFIXED | LBS_HASSTRINGS,
                       kList, WS_EX_CLIENTEDGE);
    HWND combo = create(WC_COMBOBOXW, Wide(ostrapel::Tr("Select DLC Version")).c_str(),
                        visible | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, kComboDLC);
    HWND open = create(WC_BUTTONW, openWords.c_str(),
                       visible | WS_TABSTOP | BS_PUSHBUTTON | BS_ICON, kCmdOpen);
    // The logo's text is its name to a screen reader.
    HWND logo = create(WC_STATICW, Wide(ostrapel::Tr("Ostrapel logo")).c_str(),
                       visible | SS_OWNERDRAW, kImage1);
    // A label's access key moves to the control after it, which takes its name from it too.
    HWND versionLabel = create(WC_STATICW, Wide(ostrapel::Tr(ostrapel::kVersionLabel)).c_str(),
                               visible | SS_LEFT, kLabelBase + 1);
    HWND openLabel =
        create(WC_STATICW, openPlain.c_str(), visible | SS_LEFT | SS_NOPREFIX, kLabelBase);
    LayOut();

    // Each label just before its control; the tab order: open, versions, file list, save.
    HWND after = HWND_TOP;
    for (HWND control : {openLabel, open, versionLabel, combo, GroupBox2_, save, logo}) {
        ::SetWindowPos(control, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = control;
    }

    // The open button shows no caption: its tooltip says what it does. A row's tooltip gives
    // its whole name and version.
    tips_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                              nullptr, instance_, nullptr);
    std::wstring openTip = openPlain;
    for (auto [tool, text] :
         {std::pair{open, openTip.data()}, std::pair{list, LPSTR_TEXTCALLBACKW}}) {
        TTTOOLINFOW tip{};
        tip.cbSize = sizeof tip;
        tip.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tip.hwnd = hwnd_;
        tip.uId = reinterpret_cast<UINT_PTR>(tool);
        tip.lpszText = text;
        ::SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tip));
    }
    ::SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, Scale(600));

    // The open button says its label's words itself.
    mdlAccessibility::Annotate(logo, openLabel);
    listAnnotation_ = std::make_unique<mdlAccessibility::ListAnnotation>(
        list, [this](DWORD child, bool description) {
            return mdlFileList::AccessibleText(rows_, listCaption_, child, description);
        });

    // Containers pass their children's notifications on to the window; the list its mouse.
    for (HWND container : {EP_, GroupBox1_, GroupBox2_, list}) {
        ::SetWindowSubclass(container, &frmMain::ContainerProc, 1,
                            reinterpret_cast<DWORD_PTR>(this));
    }
    ::SetFocus(open);
}

void frmMain::LayOut() {
    for (const mdlLayout::Twips& at : kLayout) {
        const RECT rect = mdlLayout::Placement(at, dpi_);
        ::SetWindowPos(Control(at.id), nullptr, rect.left, rect.top, rect.right - rect.left,
                       rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    for (HFONT font : {uiFont_, labelFont_}) {
        if (font != nullptr) {
            ::DeleteObject(font);
        }
    }
    uiFont_ = mdlLayout::MessageFont(dpi_);
    const auto text = [](HWND control) {
        wchar_t words[128] = {};
        return std::wstring(words, static_cast<std::size_t>(::GetWindowTextW(control, words, 128)));
    };
    labelFont_ =
        mdlLayout::LabelFont(dpi_, {text(Control(kLabelBase)), text(Control(kLabelBase + 1))});
    for (const mdlLayout::Twips& at : kLayout) {
        ::SendMessageW(Control(at.id), WM_SETFONT,
                       reinterpret_cast<WPARAM>(at.id >= kLabelBase ? labelFont_ : uiFont_), TRUE);
    }
    mdlLayout::FitListItems(Control(kList), uiFont_);
    MeasureText();
    mdlLayout::FitComboField(Control(kComboDLC), Scale(315 / 15));
    HICON open = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_OPEN_FOLDER),
                                                 IMAGE_ICON, Scale(32), Scale(32), 0));
    ::SendMessageW(Control(kCmdOpen), BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(open));
    if (openFolder_ != nullptr) {
        ::DestroyIcon(openFolder_);
    }
    openFolder_ = open;
    // The labels grow up to the file list's frame.
    RECT frame{};
    ::GetWindowRect(GroupBox2_, &frame);
    ::MapWindowPoints(nullptr, GroupBox1_, reinterpret_cast<POINT*>(&frame), 2);
    for (int id : {int{kLabelBase}, kLabelBase + 1}) {
        mdlLayout::FitLabel(Control(id), labelFont_, frame.left, Scale(kLabelGap));
    }
    ShowListCaption(listCaption_);
    TellRowsInView();
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

frmMain::TextRoom frmMain::RoomFor(ostrapel::FittedControl control) const {
    using ostrapel::FittedControl;
    switch (control) {
    case FittedControl::OpenLabel:
    case FittedControl::VersionLabel: {
        const bool open = control == FittedControl::OpenLabel;
        const int id = open ? int{kLabelBase} : kLabelBase + 1;
        const RECT label = LaidOut(id, dpi_);
        const RECT below = LaidOut(open ? kLabelBase + 1 : kComboDLC, dpi_);
        RECT frame{};
        ::GetWindowRect(GroupBox2_, &frame);
        ::MapWindowPoints(nullptr, GroupBox1_, reinterpret_cast<POINT*>(&frame), 2);
        // As FitLabel lets it grow, and as a static control draws.
        return {Control(id),
                labelFont_,
                static_cast<UINT>(DT_WORDBREAK | DT_EXPANDTABS | (open ? DT_NOPREFIX : 0)),
                {frame.left - Scale(kLabelGap) - label.left, below.top - label.top}};
    }
    case FittedControl::FrameTitle:
    case FittedControl::ListTitle: {
        HWND frame = control == FittedControl::FrameTitle ? GroupBox1_ : GroupBox2_;
        return {frame, uiFont_, DT_SINGLELINE, {mdlFileList::CaptionRoom(frame, dpi_), 0}};
    }
    case FittedControl::ApplyButton:
    case FittedControl::CancelButton: {
        // Within the button's edge and its focus rectangle: 4 pixels a side at 96 DPI.
        RECT client{};
        ::GetClientRect(Control(kCmdSave), &client);
        return {Control(kCmdSave), uiFont_, DT_SINGLELINE, {client.right - Scale(8), 0}};
    }
    }
    return {};
}

LRESULT CALLBACK frmMain::ContainerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR id, DWORD_PTR data) {
    (void)id;
    auto* window = reinterpret_cast<frmMain*>(data);
    if (hwnd == window->Control(kList)) {
        if (message == WM_MOUSEMOVE) {
            window->ListMouseMoved(lParam);
        }
        switch (mdlFileList::MenuKey(message, wParam, ::GetKeyState(VK_SHIFT) < 0)) {
        case mdlFileList::KeyStep::OpenMenu:
            window->List_ContextMenu(MAKELPARAM(-1, -1));
            return 0;
        case mdlFileList::KeyStep::Swallow:
            return 0;
        case mdlFileList::KeyStep::Pass:
            break;
        }
        const LRESULT result = ::DefSubclassProc(hwnd, message, wParam, lParam);
        if (message == WM_SIZE) {
            window->MeasureText(); // a scroll bar came or went
        }
        if (mdlFileList::MayMoveTop(message)) {
            window->TellRowsInView();
        }
        return result;
    }
    switch (message) {
    case WM_ERASEBKGND: {
        // A group box paints no background of its own: white frames, EP the button face.
        RECT area{};
        ::GetClientRect(hwnd, &area);
        ::FillRect(reinterpret_cast<HDC>(wParam), &area,
                   hwnd == window->EP_ ? ::GetSysColorBrush(COLOR_BTNFACE) : window->Background());
        return TRUE;
    }
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return window->Handle(message, wParam, lParam);
    case WM_CONTEXTMENU:
        // The file list's menu; the list box passes the request on to its frame.
        if (reinterpret_cast<HWND>(wParam) == window->Control(kList)) {
            return window->Handle(message, wParam, lParam);
        }
        return ::DefSubclassProc(hwnd, message, wParam, lParam);
    default:
        return ::DefSubclassProc(hwnd, message, wParam, lParam);
    }
}

LRESULT CALLBACK frmMain::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* window =
            static_cast<frmMain*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        window->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    }
    auto* window = reinterpret_cast<frmMain*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (window == nullptr || (window->model_ == nullptr && message != WM_NCDESTROY)) {
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return window->Handle(message, wParam, lParam);
}

LRESULT frmMain::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        if (id == kCmdOpen && code == BN_CLICKED) {
            model_->OpenClicked();
        } else if (id == kCmdSave && code == BN_CLICKED) {
            model_->SaveClicked();
        } else if (id == IDOK) {
            mdlKeys::PressFocusedButton(hwnd_);
        } else if (id == IDCANCEL) {
            model_->CancelPressed(); // Esc, as the dialog keys of the message loop give it
        } else if (id == kComboDLC && code == CBN_SELCHANGE) {
            ComboDLC_Change();
        } else if (id >= kMnuRestore && id < kMnuRestore + kMnuRestoreItems && lParam == 0) {
            model_->RestoreChosen(static_cast<std::size_t>(id - kMnuRestore));
        }
        return 0;
    }
    case WM_NOTIFY: {
        auto* tip = reinterpret_cast<NMTTDISPINFOW*>(lParam);
        if (tip->hdr.code == TTN_GETDISPINFOW &&
            tip->hdr.idFrom == reinterpret_cast<UINT_PTR>(Control(kList))) {
            const bool over = hovered_ >= 0 && static_cast<std::size_t>(hovered_) < rows_.size();
            // Below the rows, the listed folder.
            tipText_ = over ? Wide(rows_[static_cast<std::size_t>(hovered_)].tooltip)
                            : Wide(listCaption_.description);
            tip->lpszText = tipText_.data();
            return 0;
        }
        break;
    }
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == Control(kList)) {
            List_ContextMenu(lParam);
            return 0;
        }
        break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        // The window and both frames are white (the scheme's window colour in high contrast);
        // EP keeps the button face. The text takes the colour that goes with its background.
        HWND control = reinterpret_cast<HWND>(lParam);
        auto* dc = reinterpret_cast<HDC>(wParam);
        if (control == EP_ || ::GetParent(control) == EP_) {
            ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
            ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        }
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
        ::SetBkColor(dc, BackgroundColour());
        return reinterpret_cast<LRESULT>(Background());
    }
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (item->CtlID == kImage1) {
            // The 180-pixel logo stretched over the whole control.
            ::FillRect(item->hDC, &item->rcItem, Background());
            ::DrawIconEx(item->hDC, item->rcItem.left, item->rcItem.top, logo_,
                         item->rcItem.right - item->rcItem.left,
                         item->rcItem.bottom - item->rcItem.top, 0, nullptr, DI_NORMAL);
            return TRUE;
        }
        if (item->CtlID == kList) {
            const bool listed = item->itemID < rows_.size();
            mdlFileList::DrawItem(*item, listed ? &rows_[item->itemID] : nullptr, uiFont_, dpi_);
            return TRUE;
        }
        break;
    }
    case WM_NEXTDLGCTL:
        mdlKeys::NextDlgCtl(hwnd_, wParam, lParam);
        return 0;
    case WM_DROPFILES:
        FilesDropped(wParam);
        return 0;
    case WM_SETCURSOR:
        if (busy_) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_APPSTARTING));
            return TRUE;
        }
        break;
    case kPosted:
        model_->Posted();
        return 0;
    case WM_TIMER:
        if (wParam == kPaceTimer) {
            ::KillTimer(hwnd_, kPaceTimer);
            model_->PaceElapsed();
            return 0;
        }
        break;
    case WM_DPICHANGED: {
        // Moved to a monitor of another scale: the suggested frame, the layout at the new DPI.
        dpi_ = HIWORD(wParam);
        const RECT& frame = *reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(hwnd_, nullptr, frame.left, frame.top, frame.right - frame.left,
                       frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
        LayOut();
        return 0;
    }
    case WM_SYSCOLORCHANGE:
        // The common controls hear of it only from their top-level window.
        ::EnumChildWindows(
            hwnd_,
            [](HWND child, LPARAM) {
                ::SendMessageW(child, WM_SYSCOLORCHANGE, 0, 0);
                return TRUE;
            },
            0);
        FollowSystemColours();
        return 0;
    case WM_THEMECHANGED:
        FollowSystemColours();
        break;
    case WM_SETTINGCHANGE:
        if (wParam == SPI_SETHIGHCONTRAST) {
            FollowSystemColours();
        }
        break;
    case WM_QUERYENDSESSION:
        // Sign-out or shutdown goes ahead; the work stops in WM_ENDSESSION, and meanwhile
        // Windows names what the program is finishing.
        if (model_->BatchRunning() || model_->RestoreRunning()) {
            ::ShutdownBlockReasonCreate(
                hwnd_,
                Wide(ostrapel::Tr("Ostrapel is finishing the save under way; the others stay as "
                                  "they were"))
                    .c_str());
        }
        return TRUE;
    case WM_ENDSESSION:
        if (wParam != FALSE) {
            model_->SessionEnding(); // the process may end as soon as this returns
        }
        ::ShutdownBlockReasonDestroy(hwnd_);
        return 0;
    case WM_CLOSE:
        if (model_->CloseRequested()) {
            ::DestroyWindow(hwnd_);
        }
        return 0;
    case WM_DESTROY:
        if (quitOnClose_) {
            ::PostQuitMessage(0);
        }
        return 0;
    case WM_NCDESTROY:
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

void frmMain::ShowStartupNotice() {
    const std::string notice = model_->StartupNotice();
    if (!notice.empty()) {
        const mdlReportBox::CentredBoxes centred(hwnd_);
        ::MessageBoxW(hwnd_, Wide(notice).c_str(), L"Ostrapel", MB_OK | MB_ICONWARNING);
    }
}

void frmMain::ComboDLC_Change() {
    HWND combo = Control(kComboDLC);
    const LRESULT index = ::SendMessageW(combo, CB_GETCURSEL, 0, 0);
    std::wstring label;
    if (index != CB_ERR) {
        label.resize(static_cast<std::size_t>(
            ::SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0)));
        ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                       reinterpret_cast<LPARAM>(label.data()));
    }
    model_->VersionChosen(Utf8(label));
}

void frmMain::ShowRows(const std::vector<ostrapel::ListRow>& rows) {
    rows_ = rows;
    hovered_ = -1;
    mdlFileList::Fill(Control(kList), rows_);
    TellRowsInView();
}

void frmMain::TellRowsInView() {
    HWND list = Control(kList);
    if (!model_ || rows_.empty() || list == nullptr) {
        return;
    }
    const LRESULT top = ::SendMessageW(list, LB_GETTOPINDEX, 0, 0);
    const LRESULT height = ::SendMessageW(list, LB_GETITEMHEIGHT, 0, 0);
    if (top == LB_ERR || height == LB_ERR || height <= 0) {
        return;
    }
    RECT client{};
    ::GetClientRect(list, &client);
    model_->RowsInView(static_cast<std::size_t>(top),
                       static_cast<std::size_t>(client.bottom / height + 1));
}

void frmMain::MeasureText() {
    HWND list = Control(kList);
    if (!model_ || list == nullptr || uiFont_ == nullptr) {
        return;
    }
    std::shared_ptr<HDC__> dc(::CreateCompatibleDC(nullptr), [](HDC made) { ::DeleteDC(made); });
    RECT client{};
    ::GetClientRect(list, &client);
    // As mdlFileList::DrawItem and FittedCaption draw them.
    model_->MeasureText({
        .width =
            [dc, font = uiFont_](std::string_view text) {
                const std::wstring wide = Wide(text);
                HGDIOBJ old = ::SelectObject(dc.get(), font);
                SIZE extent{};
                ::GetTextExtentPoint32W(dc.get(), wide.c_str(), static_cast<int>(wide.size()),
                                        &extent);
                ::SelectObject(dc.get(), old);
                return static_cast<int>(extent.cx);
            },
        .listRoom = client.right - Scale(4),
        .versionGap = Scale(6),
        .captionRoom = mdlFileList::CaptionRoom(GroupBox2_, dpi_),
    });
}

void frmMain::ShowRow(std::size_t index, const ostrapel::ListRow& row) {
    if (index >= rows_.size()) {
        return;
    }
    rows_[index] = row;
    mdlFileList::RedrawRow(Control(kList), index);
    if (static_cast<int>(index) == hovered_) {
        RefreshTip();
    }
}

void frmMain::Select(std::size_t index) {
    ::SendMessageW(Control(kList), LB_SETCURSEL, index, 0);
}

void frmMain::ListMouseMoved(LPARAM at) {
    const int row = mdlFileList::RowAt(Control(kList), at);
    if (row != hovered_) {
        hovered_ = row;
        RefreshTip();
    }
}

void frmMain::RefreshTip() {
    // The list's tip asks for its text again (TTN_GETDISPINFO), and a tip showing is redrawn.
    TTTOOLINFOW tip{};
    tip.cbSize = sizeof tip;
    tip.hwnd = hwnd_;
    tip.uId = reinterpret_cast<UINT_PTR>(Control(kList));
    tip.lpszText = LPSTR_TEXTCALLBACKW;
    ::SendMessageW(tips_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tip));
}

void frmMain::ShowControls(const ostrapel::WindowControls& controls) {
    HWND focus = ::GetFocus();
    const bool focusInside = focus != nullptr && ::IsChild(hwnd_, focus);
    HWND save = Control(kCmdSave);
    ::EnableWindow(Control(kCmdOpen), controls.open);
    ::EnableWindow(Control(kComboDLC), controls.combo);
    ::EnableWindow(save, controls.save);
    ::SetWindowTextW(save, mdlFileList::WithAccessKey(controls.saveText).c_str());
    if (controls.busy != busy_ && taskbar_) {
        taskbar_(hwnd_, controls.busy ? TBPF_INDETERMINATE : TBPF_NOPROGRESS, 0, 0);
    }
    busy_ = controls.busy;
    // Keys go on reaching the window, Esc among them, when the focused control was locked.
    focus = ::GetFocus();
    if (focusInside && controls.save && (focus == nullptr || !::IsWindowEnabled(focus))) {
        ::SetFocus(save);
    }
}

void frmMain::ShowCaption(const std::string& caption) {
    ::SetWindowTextW(hwnd_, Wide(caption).c_str());
}

void frmMain::ShowListCaption(const ostrapel::ListCaption& caption) {
    listCaption_ = caption;
    if (busy_ && caption.total > 0 && taskbar_) {
        taskbar_(hwnd_, TBPF_NORMAL, caption.done, caption.total);
    }
    ostrapel::ListCaption shown = caption;
    if (shown.name.empty() && shown.total == 0) {
        shown.prefix = Utf8(mdlFileList::WithAccessKey(shown.prefix));
    }
    mdlFileList::SetCaption(GroupBox2_,
                            mdlFileList::FittedCaption(GroupBox2_, uiFont_, shown, dpi_));
}

bool frmMain::TakeAccessKey(const MSG& message) {
    if (message.message != WM_SYSCHAR || hwnd_ == nullptr ||
        (message.hwnd != hwnd_ && !::IsChild(hwnd_, message.hwnd))) {
        return false;
    }
    const std::wstring label = Wide(ostrapel::Tr(ostrapel::kListTitle));
    const std::size_t mark = label.find(L'&');
    wchar_t text[512] = {};
    ::GetWindowTextW(GroupBox2_, text, 512);
    const std::wstring shown = text;
    bool marked = false; // an '&' not doubled: the caption carries its own access key
    for (std::size_t at = 0; at + 1 < shown.size(); ++at) {
        if (shown[at] == L'&') {
            marked = marked || shown[at + 1] != L'&';
            ++at;
        }
    }
    if (mark == std::wstring::npos || mark + 1 >= label.size() || marked ||
        ::CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(label[mark + 1]))) !=
            ::CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(message.wParam)))) {
        return false;
    }
    ::SetFocus(Control(kList));
    return true;
}

void frmMain::ShowValue(const std::string& value) {
    ::SetWindowTextW(Control(kTxt), Wide(value).c_str());
}

void frmMain::ShowReport(const ostrapel::ReportBox& box) {
    if (presentReport_) {
        presentReport_(hwnd_, box);
    }
}

void frmMain::ShowReportBox(HWND owner, const ostrapel::ReportBox& box) {
    // The first line and the entries left grouped by reason, as many reasons as let the box fit
    // the work area of the window's monitor; every entry left in the details.
    const ostrapel::BoxReport report = mdlReportBox::FittingReport(owner, box);
    mdlReportBox::Show(owner, Wide(report.text), Wide(report.details), !box.warning);
}

bool frmMain::Ask(const ostrapel::Question& question) {
    if (ask_) {
        return ask_(hwnd_, question);
    }
    const mdlReportBox::CentredBoxes centred(hwnd_);
    return ::MessageBoxW(hwnd_, Wide(question.text).c_str(), Wide(question.title).c_str(),
                         MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

std::optional<std::string> frmMain::ChooseFolder() {
    mdlSHBrowseForFolder::BrowseForFolder(hwnd_, *chooser_);
    const std::string& folder = mdlSHBrowseForFolder::SelectedFolder();
    return folder.empty() ? std::nullopt : std::optional(folder);
}

void frmMain::RememberFolder(const std::string& folder) {
    mdlSHBrowseForFolder::SelectFolder(folder);
}

void frmMain::StartPaceTimer(std::chrono::milliseconds delay) {
    ::SetTimer(hwnd_, kPaceTimer, static_cast<UINT>(delay.count()), nullptr);
}

void frmMain::Close() {
    // The way a user's close goes: the model stops the reading and empties the work folder.
    if (hwnd_ != nullptr && model_->CloseRequested()) {
        ::DestroyWindow(hwnd_);
    }
}

void frmMain::FilesDropped(WPARAM drop) {
    auto* files = reinterpret_cast<HDROP>(drop);
    std::wstring path;
    if (::DragQueryFileW(files, 0xFFFFFFFF, nullptr, 0) > 0) {
        path.resize(::DragQueryFileW(files, 0, nullptr, 0) + 1);
        path.resize(::DragQueryFileW(files, 0, path.data(), static_cast<UINT>(path.size())));
    }
    ::DragFinish(files);
    (void)model_->FolderDropped(Utf8(path));
}

frmMain::Menu frmMain::CreateFileListMenu() const {
    Menu menu(::CreatePopupMenu());
    const std::vector<ostrapel::RestoreMenuItem> items = model_->RestoreMenu();
    for (std::size_t i = 0; i < items.size() && i < kMnuRestoreItems; ++i) {
        ::AppendMenuW(menu.get(), items[i].enabled ? MF_STRING : MF_STRING | MF_GRAYED,
                      kMnuRestore + i, Wide(items[i].text).c_str());
    }
    return menu;
}

void frmMain::List_ContextMenu(LPARAM at) {
    const POINT point = mdlFileList::MenuPoint(Control(kList), at);
    const Menu menu = CreateFileListMenu();
    // The choice comes back as WM_COMMAND with kMnuRestore plus the item's index.
    ::TrackPopupMenu(menu.get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, point.x, point.y,
                     0, hwnd_, nullptr);
}
