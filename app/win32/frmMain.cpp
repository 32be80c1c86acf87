#include "frmMain.h"

#include "mdlFileList.h"
#include "mdlLayout.h"
#include "mdlReportBox.h"
#include "resources/resource.h"
#include "system/windows/WindowsText.h"

#include <algorithm>
#include <commctrl.h>
#include <oleacc.h>
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

// What a screen reader cannot take from the controls themselves: the file list's name (it has
// no label before it; its frame's title is the name) and the logo as a picture. Through the
// accessibility annotations where the system has them; without, the controls' own texts stay.
void Annotate(HWND list, HWND logo) {
    static constexpr CLSID kAccPropServices = {
        0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
    static constexpr IID kIAccPropServices = {
        0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
    static constexpr MSAAPROPID kName = {
        0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};
    static constexpr MSAAPROPID kRole = {
        0xcb905ff2, 0x7bd1, 0x4c05, {0xb3, 0xc8, 0xe6, 0xc2, 0x41, 0x36, 0x4d, 0x70}};
    IAccPropServices* services = nullptr;
    if (FAILED(::CoCreateInstance(kAccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                  kIAccPropServices, reinterpret_cast<void**>(&services)))) {
        return;
    }
    services->SetHwndPropStr(list, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kName,
                             L"File List");
    VARIANT role{};
    role.vt = VT_I4;
    role.lVal = ROLE_SYSTEM_GRAPHIC;
    services->SetHwndProp(logo, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kRole, role);
    services->Release();
}

// The taskbar button's progress, through the shell's taskbar where it has one.
void ShowOnTaskbar(HWND window, int state, std::size_t done, std::size_t total) {
    static ITaskbarList3* const taskbar = [] {
        ITaskbarList3* made = nullptr;
        if (SUCCEEDED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_PPV_ARGS(&made))) &&
            FAILED(made->HrInit())) {
            made->Release();
            made = nullptr;
        }
        return made; // kept for the process
    }();
    if (taskbar == nullptr) {
        return;
    }
    taskbar->SetProgressState(window, static_cast<TBPFLAG>(state));
    if (state == TBPF_NORMAL) {
        taskbar->SetProgressValue(window, done, total);
    }
}

} // namespace

frmMain::frmMain(HINSTANCE instance, std::string appDir,
                 std::shared_ptr<mdlSHBrowseForFolder::FolderChooser> chooser, bool quitOnClose,
                 ostrapel::WindowOptions options)
    : instance_(instance),
      chooser_(chooser ? std::move(chooser)
                       : std::make_shared<mdlSHBrowseForFolder::ShellFolderChooser>()),
      quitOnClose_(quitOnClose), taskbar_(&ShowOnTaskbar) {
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
                      Wide(ostrapel::WindowModel::kTitle).c_str(), style,
                      work.left + (work.right - work.left - width) / 2,
                      work.top + (work.bottom - work.top - height) / 2, width, height, nullptr,
                      nullptr, instance_, this);
    options.appDir = std::move(appDir);
    model_ = std::make_unique<ostrapel::WindowModel>(
        *this, [window = hwnd_] { ::PostMessageW(window, kPosted, 0, 0); }, std::move(options));
    CreateControls();
    for (const std::string& label : ostrapel::WindowModel::VersionLabels()) {
        ::SendMessageW(Control(kComboDLC), CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(Wide(label).c_str()));
    }
    ::SendMessageW(Control(kComboDLC), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    model_->Show();
}

frmMain::~frmMain() {
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
    EP_ = create(WC_BUTTONW, L"EditPanel", BS_GROUPBOX, kEP, WS_EX_CONTROLPARENT);
    create(WC_EDITW, L"400", ES_AUTOHSCROLL, kTxt);
    GroupBox1_ = create(WC_BUTTONW, L"Open Folder save", visible | BS_GROUPBOX, kGroupBox1,
                        WS_EX_CONTROLPARENT);
    HWND save =
        create(WC_BUTTONW, L"Apply and Save", visible | WS_TABSTOP | BS_PUSHBUTTON, kCmdSave);
    GroupBox2_ =
        create(WC_BUTTONW, L"File List", visible | BS_GROUPBOX, kGroupBox2, WS_EX_CONTROLPARENT);
    // Drawn by the window, each name with its version beside it. The items hold the names; asked
    // for their texts (as a screen reader does), they give the rows' tooltips: the whole name and
    // the version, or why there is none.
    HWND list = create(WC_LISTBOXW, L"File List",
                       visible | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT |
                           LBS_OWNERDRAWFIXED | LBS_HASSTRINGS,
                       kList, WS_EX_CLIENTEDGE);
    HWND combo = create(WC_COMBOBOXW, L"Select DLC Version",
                        visible | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, kComboDLC);
    HWND open = create(WC_BUTTONW, L"&Open Your save Folder",
                       visible | WS_TABSTOP | BS_PUSHBUTTON | BS_ICON, kCmdOpen);
    // The logo's text is its name to a screen reader.
    HWND logo = create(WC_STATICW, L"Ostrapel logo", visible | SS_OWNERDRAW, kImage1);
    // A label's access key moves to the control after it, which takes its name from it too.
    HWND versionLabel =
        create(WC_STATICW, L"Select DLC &Version :", visible | SS_LEFT, kLabelBase + 1);
    HWND openLabel =
        create(WC_STATICW, L"Open Your save Folder", visible | SS_LEFT | SS_NOPREFIX, kLabelBase);
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
    wchar_t openTip[] = L"Open Your save Folder";
    for (auto [tool, text] : {std::pair{open, openTip}, std::pair{list, LPSTR_TEXTCALLBACKW}}) {
        TTTOOLINFOW tip{};
        tip.cbSize = sizeof tip;
        tip.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tip.hwnd = hwnd_;
        tip.uId = reinterpret_cast<UINT_PTR>(tool);
        tip.lpszText = text;
        ::SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tip));
    }
    ::SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, Scale(600));

    Annotate(list, logo);

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
    labelFont_ = mdlLayout::LabelFont(dpi_);
    for (const mdlLayout::Twips& at : kLayout) {
        ::SendMessageW(Control(at.id), WM_SETFONT,
                       reinterpret_cast<WPARAM>(at.id >= kLabelBase ? labelFont_ : uiFont_), TRUE);
    }
    mdlLayout::FitListItems(Control(kList), uiFont_);
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

LRESULT CALLBACK frmMain::ContainerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR id, DWORD_PTR data) {
    (void)id;
    auto* window = reinterpret_cast<frmMain*>(data);
    if (hwnd == window->Control(kList)) {
        if (message == WM_MOUSEMOVE) {
            window->ListMouseMoved(lParam);
        }
        if (message == LB_GETTEXT || message == LB_GETTEXTLEN) {
            // Answered from the rows: rewriting an item as each version is read held the window
            // up for seconds in a folder of a few hundred saves.
            if (wParam >= window->rows_.size()) {
                return LB_ERR;
            }
            const std::wstring spoken = Wide(window->rows_[wParam].tooltip);
            if (message == LB_GETTEXT && lParam != 0) {
                std::copy_n(spoken.c_str(), spoken.size() + 1, reinterpret_cast<wchar_t*>(lParam));
            }
            return static_cast<LRESULT>(spoken.size());
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
        switch (message) {
        // What may move the list's top: the scroll bar, the wheel, the keys, a selection
        // brought into view, the list box's own scrolling while the mouse drags, a new size.
        case WM_VSCROLL:
        case WM_MOUSEWHEEL:
        case WM_KEYDOWN:
        case WM_TIMER:
        case WM_SIZE:
        case LB_SETTOPINDEX:
        case LB_SETCURSEL:
            window->TellRowsInView();
            break;
        default:
            break;
        }
        return result;
    }
    switch (message) {
    case WM_ERASEBKGND: {
        // A group box paints no background of its own: white frames, EP the button face.
        RECT area{};
        ::GetClientRect(hwnd, &area);
        ::FillRect(reinterpret_cast<HDC>(wParam), &area,
                   hwnd == window->EP_ ? ::GetSysColorBrush(COLOR_BTNFACE) : window->white_);
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
            // Enter, as the dialog keys give it: the focused push button is pressed.
            HWND focus = ::GetFocus();
            if (focus != nullptr && ::IsChild(hwnd_, focus) &&
                (::SendMessageW(focus, WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON) != 0) {
                ::SendMessageW(focus, BM_CLICK, 0, 0);
            }
        } else if (id == IDCANCEL) {
            model_->CancelPressed(); // Esc, as the dialog keys of the message loop give it
        } else if (id == kComboDLC && code == CBN_SELCHANGE) {
            ComboDLC_Change();
        } else if (id == kMnuRestore && lParam == 0) {
            model_->RestoreChosen();
        }
        return 0;
    }
    case WM_NOTIFY: {
        auto* tip = reinterpret_cast<NMTTDISPINFOW*>(lParam);
        if (tip->hdr.code == TTN_GETDISPINFOW &&
            tip->hdr.idFrom == reinterpret_cast<UINT_PTR>(Control(kList))) {
            const bool over = hovered_ >= 0 && static_cast<std::size_t>(hovered_) < rows_.size();
            tipText_ = over ? Wide(rows_[static_cast<std::size_t>(hovered_)].tooltip) : L"";
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
        // The window and both frames are white; EP keeps the button face.
        HWND control = reinterpret_cast<HWND>(lParam);
        if (control == EP_ || ::GetParent(control) == EP_) {
            return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        }
        ::SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
        return reinterpret_cast<LRESULT>(white_);
    }
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        if (item->CtlID == kImage1) {
            // The 180-pixel logo stretched over the whole control.
            ::FillRect(item->hDC, &item->rcItem, white_);
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
    case WM_NEXTDLGCTL: {
        // The dialog keys move the focus with it, a label's access key among them: to the control
        // given, or to the next (or previous) that takes the tab key; from a frame (the file
        // list's, by its access key) to the first inside it.
        HWND focus = ::GetFocus();
        HWND next = nullptr;
        if (LOWORD(lParam) != 0) {
            next = reinterpret_cast<HWND>(wParam);
        } else if (wParam == 0 && focus != nullptr &&
                   (::GetWindowLongW(focus, GWL_EXSTYLE) & WS_EX_CONTROLPARENT) != 0) {
            next = ::GetNextDlgTabItem(focus, nullptr, FALSE);
        }
        if (next == nullptr) {
            next = ::GetNextDlgTabItem(hwnd_, focus, wParam != 0);
        }
        if (next != nullptr) {
            ::SetFocus(next);
        }
        return 0;
    }
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
    HWND list = Control(kList);
    // Drawn once when all are in: redrawn after each, a few hundred names took a third of a
    // second under Wine.
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
    ::SendMessageW(list, LB_INITSTORAGE, rows_.size(),
                   static_cast<LPARAM>(rows_.size() * 64 * sizeof(wchar_t)));
    for (const ostrapel::ListRow& row : rows_) {
        ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(row.name).c_str()));
    }
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
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

void frmMain::ShowRow(std::size_t index, const ostrapel::ListRow& row) {
    if (index >= rows_.size()) {
        return;
    }
    rows_[index] = row;
    RECT item{};
    HWND list = Control(kList);
    if (::SendMessageW(list, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&item)) != LB_ERR) {
        ::InvalidateRect(list, &item, TRUE);
    }
    if (static_cast<int>(index) == hovered_) {
        RefreshTip();
    }
}

void frmMain::Select(std::size_t index) {
    ::SendMessageW(Control(kList), LB_SETCURSEL, index, 0);
    if (busy_ && taskbar_) {
        // The entry being worked on: those before it are done.
        taskbar_(hwnd_, TBPF_NORMAL, index, rows_.size());
    }
}

void frmMain::ListMouseMoved(LPARAM at) {
    const LRESULT hit = ::SendMessageW(Control(kList), LB_ITEMFROMPOINT, 0, at);
    const int row = HIWORD(hit) == 0 ? static_cast<int>(LOWORD(hit)) : -1;
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
    ostrapel::ListCaption shown = caption;
    if (shown.name.empty()) {
        shown.prefix = Utf8(mdlFileList::WithAccessKey(shown.prefix));
    }
    ::SetWindowTextW(GroupBox2_,
                     mdlFileList::FittedCaption(GroupBox2_, uiFont_, shown, dpi_).c_str());
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
    const ostrapel::RestoreMenuItem item = model_->RestoreMenu();
    ::AppendMenuW(menu.get(), item.enabled ? MF_STRING : MF_STRING | MF_GRAYED, kMnuRestore,
                  Wide(item.text).c_str());
    return menu;
}

void frmMain::List_ContextMenu(LPARAM at) {
    const POINT point = mdlFileList::MenuPoint(Control(kList), at);
    const Menu menu = CreateFileListMenu();
    // The choice comes back as WM_COMMAND with kMnuRestore.
    ::TrackPopupMenu(menu.get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, point.x, point.y,
                     0, hwnd_, nullptr);
}
