#include "frmMain.h"

#include "Words.h"
#include "mdlAccessibility.h"
#include "mdlFileList.h"
#include "mdlLayout.h"
#include "mdlPictureButton.h"
#include "mdlTaskbar.h"
#include "resources/resource.h"
#include "system/windows/WindowsText.h"

#include <commctrl.h>

namespace {

using ostrapel::win::Utf8;
using ostrapel::win::Wide;

constexpr wchar_t kWindowClass[] = L"OstrapelMain";
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
    // The open button draws its picture itself, but in high contrast the window does.
    HWND open = Control(kCmdOpen);
    ::SetWindowLongPtrW(
        open, GWL_STYLE,
        mdlPictureButton::StyleFor(::GetWindowLongPtrW(open, GWL_STYLE), highContrast_));
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
    FileList_ = list;
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
    // its whole name and version; the list relays its mouse to it (ContainerProc).
    tips_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                              nullptr, instance_, nullptr);
    std::wstring openTip = openPlain;
    for (auto [tool, text] :
         {std::pair{open, openTip.data()}, std::pair{list, LPSTR_TEXTCALLBACKW}}) {
        TTTOOLINFOW tip{};
        tip.cbSize = sizeof tip;
        tip.uFlags = TTF_IDISHWND | (tool == list ? 0 : TTF_SUBCLASS);
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

    // Containers pass their children's notifications on to the window; the list its mouse. Their
    // window procedures are replaced, not subclassed through the common controls: under Wine
    // every message through such a subclass asks the server for the window's properties, and
    // filling or emptying the list sends a message a name, to the list and to its frame.
    for (HWND container : {EP_, GroupBox1_, GroupBox2_, list}) {
        ::SetWindowLongPtrW(container, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        containerProcs_.emplace_back(
            container,
            reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
                container, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&frmMain::ContainerProc))));
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
    mdlLayout::FitListItems(FileList_, uiFont_);
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
    FitListCaption();
    TellRowsInView();
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void frmMain::FitListCaption() {
    ostrapel::ListCaption shown = listCaption_;
    if (shown.name.empty() && shown.total == 0) {
        shown.prefix = Utf8(mdlFileList::WithAccessKey(shown.prefix));
    }
    mdlFileList::SetCaption(GroupBox2_,
                            mdlFileList::FittedCaption(GroupBox2_, uiFont_, shown, dpi_));
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

void frmMain::TellRowsInView() {
    HWND list = FileList_;
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
    HWND list = FileList_;
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
