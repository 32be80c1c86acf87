#include "frmMain.h"

#include "WindowTexts.h"
#include "conversion/Backups.h"
#include "conversion/DlcVersion.h"
#include "conversion/Report.h"
#include "conversion/SaveFolder.h"
#include "mdlReportBox.h"
#include "resources/resource.h"
#include "system/Cancel.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/windows/WindowsText.h"

#include <algorithm>
#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

namespace {

using ostrapel::win::Utf8;
using ostrapel::win::Wide;

constexpr wchar_t kWindowClass[] = L"OstrapelMain";
constexpr UINT kCursorMoved = WM_APP + 1;
constexpr UINT kBatchDone = WM_APP + 2;
constexpr UINT kRestoreDone = WM_APP + 3;
constexpr UINT kVersionsRead = WM_APP + 4;
// After a progress message, the next waits for this timer: a batch moving faster than the
// window draws would otherwise keep the queue full of them, ahead of input, paint and timers.
constexpr UINT_PTR kProgressTimer = 1;
constexpr UINT kProgressPaceMs = 15;
constexpr int kTwipsPerPixel = 15;
constexpr int kLabelGap = 2;

std::wstring TextOf(HWND control) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

} // namespace

// Hands the batch's progress to the window's thread.
class PostingObserver final : public ostrapel::BatchObserver {
public:
    explicit PostingObserver(frmMain& window) : window_(window) {}
    void cursorMoved(std::size_t index) override {
        std::lock_guard lock(window_.mutex_);
        window_.cursorMoves_.push_back(index);
        if (window_.cursorMoves_.size() == 1 && !window_.progressPaced_) {
            ::PostMessageW(window_.hwnd_, kCursorMoved, 0, 0);
        }
    }

private:
    frmMain& window_;
};

frmMain::frmMain(HINSTANCE instance, std::string appDir,
                 std::shared_ptr<mdlSHBrowseForFolder::FolderChooser> chooser, bool quitOnClose)
    : instance_(instance),
      appDir_(appDir.empty() ? std::string() : ostrapel::WithTrailingSeparator(appDir)),
      chooser_(chooser ? std::move(chooser)
                       : std::make_shared<mdlSHBrowseForFolder::ShellFolderChooser>()),
      quitOnClose_(quitOnClose) {
    ClearWorkFolder();
    if (!appDir_.empty()) {
        (void)ostrapel::SetCurrentDirectory(appDir_);
    }

    icon_ = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_OSTRAPEL), IMAGE_ICON,
                                            ::GetSystemMetrics(SM_CXICON),
                                            ::GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_OSTRAPEL),
                                                 IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                 ::GetSystemMetrics(SM_CYSMICON), 0));
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

    HDC screen = ::GetDC(nullptr);
    dpi_ = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);

    // Fixed single border: a caption, the system menu and a minimise button, no resizing.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
    ::AdjustWindowRectEx(&frame, style, FALSE, WS_EX_CONTROLPARENT);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    hwnd_ = ::CreateWindowExW(WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES, kWindowClass,
                              L"Ostrapel by Penmorrow", style,
                              work.left + (work.right - work.left - width) / 2,
                              work.top + (work.bottom - work.top - height) / 2, width, height,
                              nullptr, nullptr, instance_, this);
    CreateControls();
    for (std::string_view label : ostrapel::DlcVersionTable::Labels()) {
        ::SendMessageW(Control(kComboDLC), CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(Wide(label).c_str()));
    }
    ::SendMessageW(Control(kComboDLC), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    ShowControlStates();
}

frmMain::~frmMain() {
    reader_.Stop();
    if (batch_.joinable()) {
        batch_.join();
    }
    if (restore_.joinable()) {
        restore_.join();
    }
    if (hwnd_ != nullptr) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
    for (HFONT font : {labelFont_, uiFont_}) {
        if (font != nullptr) {
            ::DeleteObject(font);
        }
    }
    for (HICON icon : {icon_, smallIcon_, openFolder_, logo_}) {
        if (icon != nullptr) {
            ::DestroyIcon(icon);
        }
    }
    if (white_ != nullptr) {
        ::DeleteObject(white_);
    }
}

int frmMain::Scale(int pixels) const {
    return ::MulDiv(pixels, dpi_, 96);
}

HWND frmMain::Create(const wchar_t* kind, const wchar_t* text, DWORD style, int id, HWND parent,
                     int left, int top, int width, int height, DWORD exStyle) {
    HWND control = ::CreateWindowExW(
        exStyle, kind, text, style | WS_CHILD, Scale(left / kTwipsPerPixel),
        Scale(top / kTwipsPerPixel), Scale(width / kTwipsPerPixel), Scale(height / kTwipsPerPixel),
        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(uiFont_), FALSE);
    return control;
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
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    uiFont_ = ::CreateFontIndirectW(&metrics.lfMessageFont);
    // Bold 8.25-point "MS Sans Serif", Central European character set.
    LOGFONTW label{};
    label.lfHeight = -::MulDiv(825, dpi_, 7200);
    label.lfWeight = FW_BOLD;
    label.lfCharSet = EASTEUROPE_CHARSET;
    wcscpy_s(label.lfFaceName, L"MS Sans Serif");
    labelFont_ = ::CreateFontIndirectW(&label);

    const DWORD visible = WS_VISIBLE;
    // Lies below the client area's bottom edge; hidden as well, so it shows at no size.
    EP_ = Create(WC_BUTTONW, L"EditPanel", BS_GROUPBOX, kEP, hwnd_, 2520, 3960, 1935, 735,
                 WS_EX_CONTROLPARENT);
    Create(WC_EDITW, L"400", ES_AUTOHSCROLL, kTxt, EP_, 120, 240, 1695, 255);

    GroupBox1_ = Create(WC_BUTTONW, L"Open Folder save", visible | BS_GROUPBOX, kGroupBox1, hwnd_,
                        120, 120, 7935, 2535, WS_EX_CONTROLPARENT);
    HWND save = Create(WC_BUTTONW, L"Apply and Save", visible | WS_TABSTOP | BS_PUSHBUTTON,
                       kCmdSave, GroupBox1_, 120, 2040, 2655, 375);
    GroupBox2_ = Create(WC_BUTTONW, L"File List", visible | BS_GROUPBOX, kGroupBox2, GroupBox1_,
                        3000, 240, 1815, 2175, WS_EX_CONTROLPARENT);
    // Drawn by the window, each name with its version beside it; the items hold the names.
    HWND files = Create(WC_LISTBOXW, L"File List",
                        visible | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT |
                            LBS_OWNERDRAWFIXED | LBS_HASSTRINGS,
                        kList, GroupBox2_, 120, 240, 1575, 1815, WS_EX_CLIENTEDGE);
    {
        HDC dc = ::GetDC(files);
        HGDIOBJ old = ::SelectObject(dc, uiFont_);
        TEXTMETRICW text{};
        ::GetTextMetricsW(dc, &text);
        ::SelectObject(dc, old);
        ::ReleaseDC(files, dc);
        ::SendMessageW(files, LB_SETITEMHEIGHT, 0, text.tmHeight);
    }
    // A list-only combo box; its height here is the closed field's, the list drops below.
    HWND combo = Create(WC_COMBOBOXW, L"Select DLC Version",
                        visible | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, kComboDLC, GroupBox1_,
                        120, 1440, 2655, 315 + 150 * kTwipsPerPixel);
    // The closed field's height is the item height plus its frame: make it the layout's.
    const int fieldHeight = Scale(315 / kTwipsPerPixel);
    for (int attempt = 0; attempt < 3; ++attempt) {
        RECT field{};
        ::GetWindowRect(combo, &field);
        const int off = fieldHeight - static_cast<int>(field.bottom - field.top);
        if (off == 0) {
            break;
        }
        const LRESULT item = ::SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
        ::SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), item + off);
    }
    HWND open =
        Create(WC_BUTTONW, L"Open Your save Folder", visible | WS_TABSTOP | BS_PUSHBUTTON | BS_ICON,
               kCmdOpen, GroupBox1_, 120, 360, 615, 495);
    openFolder_ = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_OPEN_FOLDER),
                                                  IMAGE_ICON, Scale(32), Scale(32), 0));
    ::SendMessageW(open, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(openFolder_));
    logo_ = static_cast<HICON>(
        ::LoadImageW(instance_, MAKEINTRESOURCEW(IDI_LOGO), IMAGE_ICON, 180, 180, 0));
    Create(WC_STATICW, L"", visible | SS_OWNERDRAW, kImage1, GroupBox1_, 4920, 240, 2940, 2100);

    struct Label {
        int index;
        const wchar_t* caption;
        int left, top, width, height;
    };
    RECT list{};
    ::GetWindowRect(GroupBox2_, &list);
    ::MapWindowPoints(nullptr, GroupBox1_, reinterpret_cast<POINT*>(&list), 2);
    for (const Label& caption : {Label{1, L"Select DLC Version :", 120, 1080, 1785, 195},
                                 Label{0, L"Open Your save Folder", 840, 360, 1965, 195}}) {
        HWND control = Create(WC_STATICW, caption.caption, visible | SS_LEFT | SS_NOPREFIX,
                              kLabelBase + caption.index, GroupBox1_, caption.left, caption.top,
                              caption.width, caption.height);
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(labelFont_), FALSE);
        // Fonts wider than the classic one would clip the caption: grow into the free space
        // up to the file list's frame.
        HDC dc = ::GetDC(control);
        HGDIOBJ old = ::SelectObject(dc, labelFont_);
        SIZE wanted{};
        ::GetTextExtentPoint32W(dc, caption.caption, static_cast<int>(wcslen(caption.caption)),
                                &wanted);
        ::SelectObject(dc, old);
        ::ReleaseDC(control, dc);
        const int width = Scale(caption.width / kTwipsPerPixel);
        const int height = Scale(caption.height / kTwipsPerPixel);
        const int room = list.left - Scale(kLabelGap) - Scale(caption.left / kTwipsPerPixel);
        ::SetWindowPos(control, nullptr, 0, 0,
                       std::clamp<int>(wanted.cx, width, std::max(room, width)),
                       std::clamp<int>(wanted.cy, height, height + Scale(kLabelGap)),
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    // Tab order: open, versions, file list, save.
    ::SetWindowPos(open, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::SetWindowPos(combo, open, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::SetWindowPos(GroupBox2_, combo, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::SetWindowPos(save, GroupBox2_, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    // The open button shows no caption; its tooltip says what it does.
    HWND tips = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                                  nullptr, instance_, nullptr);
    TTTOOLINFOW tip{};
    tip.cbSize = sizeof tip;
    tip.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tip.hwnd = hwnd_;
    tip.uId = reinterpret_cast<UINT_PTR>(open);
    wchar_t tipText[] = L"Open Your save Folder";
    tip.lpszText = tipText;
    ::SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tip));

    // Containers pass their children's notifications on to the window.
    for (HWND container : {EP_, GroupBox1_, GroupBox2_}) {
        ::SetWindowSubclass(container, &frmMain::ContainerProc, 1,
                            reinterpret_cast<DWORD_PTR>(this));
    }
    ::SetFocus(open);
}

LRESULT CALLBACK frmMain::ContainerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR id, DWORD_PTR data) {
    (void)id;
    auto* window = reinterpret_cast<frmMain*>(data);
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
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        auto* window = static_cast<frmMain*>(create->lpCreateParams);
        window->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    }
    auto* window = reinterpret_cast<frmMain*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (window == nullptr) {
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
            LoadFolderSave();
        } else if (id == kCmdSave && code == BN_CLICKED) {
            if (rules_.BatchRunning()) {
                CancelBatch();
            } else {
                ConvertSaves();
            }
        } else if (id == IDCANCEL) {
            CancelBatch(); // Esc, as the dialog keys of the message loop give it
        } else if (id == kComboDLC && code == CBN_SELCHANGE) {
            ComboDLC_Change();
        } else if (id == kMnuRestore && lParam == 0) {
            RestoreSaves();
        }
        return 0;
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
            DrawListItem(*item);
            return TRUE;
        }
        break;
    }
    case WM_DROPFILES:
        FilesDropped(wParam);
        return 0;
    case WM_SETCURSOR:
        if (rules_.BatchRunning()) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_APPSTARTING));
            return TRUE;
        }
        break;
    case kCursorMoved: {
        std::vector<std::size_t> moves;
        {
            std::lock_guard lock(mutex_);
            moves.swap(cursorMoves_);
            progressPaced_ = progressPaced_ || !moves.empty();
        }
        if (!moves.empty()) {
            ::SetTimer(hwnd_, kProgressTimer, kProgressPaceMs, nullptr);
        }
        // Moves that piled up are never seen one by one: the list shows the last. Selecting
        // each of a hundred moves took a sixth of a second under Wine.
        HWND list = Control(kList);
        if (!moves.empty() &&
            moves.back() < static_cast<std::size_t>(::SendMessageW(list, LB_GETCOUNT, 0, 0))) {
            ::SendMessageW(list, LB_SETCURSEL, moves.back(), 0);
        }
        if (!moves.empty() && rules_.BatchRunning()) {
            ShowProgress(moves.back());
        }
        return 0;
    }
    case WM_TIMER:
        if (wParam == kProgressTimer) {
            ::KillTimer(hwnd_, kProgressTimer);
            bool pending = false;
            {
                std::lock_guard lock(mutex_);
                progressPaced_ = false;
                pending = !cursorMoves_.empty();
            }
            if (pending) {
                Handle(kCursorMoved, 0, 0);
            }
            return 0;
        }
        break;
    case kVersionsRead:
        VersionsRead();
        return 0;
    case kBatchDone:
        BatchEnded();
        return 0;
    case kRestoreDone:
        RestoreEnded();
        return 0;
    case WM_CLOSE:
        switch (rules_.RequestClose()) {
        case ostrapel::CloseStep::CloseNow:
            Close();
            break;
        case ostrapel::CloseStep::AskToCancel:
            // On yes the batch is cancelled; the window closes once its report has been seen.
            if (askClose_ && askClose_(hwnd_)) {
                rules_.CancelAndClose();
                CancelBatch();
            }
            break;
        case ostrapel::CloseStep::Wait:
            break;
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
    if (auto value = rules_.ChooseVersion(Utf8(label))) {
        ::SetWindowTextW(Control(kTxt), Wide(*value).c_str());
    }
    ShowControlStates();
}

void frmMain::LoadFolderSave() {
    if (!rules_.MayLoadFolder()) {
        return;
    }
    ClearList();
    mdlSHBrowseForFolder::BrowseForFolder(hwnd_, *chooser_);
    ListSelectedFolder();
}

void frmMain::OpenFolder(const std::string& folder) {
    if (!rules_.MayLoadFolder()) {
        return;
    }
    ClearList();
    mdlSHBrowseForFolder::SelectFolder(folder);
    ListSelectedFolder();
}

void frmMain::ClearList() {
    reader_.Stop();
    ::SendMessageW(Control(kList), LB_RESETCONTENT, 0, 0);
    names_.clear();
    versions_.clear();
    if (!appDir_.empty()) {
        (void)ostrapel::SetCurrentDirectory(appDir_);
    }
}

void frmMain::ListSelectedFolder() {
    const std::string& folder = mdlSHBrowseForFolder::SelectedFolder();
    if (folder.empty()) {
        return;
    }
    HWND list = Control(kList);
    // Drawn once when all are in: redrawn after each, a few hundred names took a third of a
    // second under Wine.
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    for (std::string& name : ostrapel::ListSaveFolder(folder)) {
        const LRESULT at =
            ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(name).c_str()));
        if (at != LB_ERR && at != LB_ERRSPACE) {
            names_.push_back(std::move(name));
        }
    }
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
    versions_.assign(names_.size(), std::wstring());
    if (!names_.empty()) {
        ::SendMessageW(list, LB_SETCURSEL, 0, 0);
    }
    StartReadingVersions();
}

void frmMain::StartReadingVersions() {
    reader_.Stop();
    if (appDir_.empty() || names_.empty() ||
        ostrapel::KindOf(ostrapel::CipherToolOf(appDir_)) != ostrapel::EntryKind::File) {
        return;
    }
    ostrapel::BatchRequest request;
    request.saveFolder = mdlSHBrowseForFolder::SelectedFolder();
    request.appDir = appDir_;
    request.names = names_;
    reader_.Start(std::move(request), hwnd_, kVersionsRead);
}

void frmMain::VersionsRead() {
    for (const auto& [index, outcome] : reader_.Take().read) {
        ShowVersion(index, ostrapel::ReadVersionText(outcome));
    }
}

void frmMain::ShowVersion(std::size_t row, const std::string& version) {
    if (row >= versions_.size()) {
        return;
    }
    versions_[row] = Wide(version);
    RECT item{};
    HWND list = Control(kList);
    if (::SendMessageW(list, LB_GETITEMRECT, row, reinterpret_cast<LPARAM>(&item)) != LB_ERR) {
        ::InvalidateRect(list, &item, TRUE);
    }
}

std::wstring frmMain::VersionShown(std::size_t row) const {
    return row < versions_.size() ? versions_[row] : std::wstring();
}

void frmMain::DrawListItem(const DRAWITEMSTRUCT& item) {
    if (item.itemAction == ODA_FOCUS) {
        ::DrawFocusRect(item.hDC, &item.rcItem);
        return;
    }
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    ::FillRect(item.hDC, &item.rcItem,
               ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    if (item.itemID < names_.size()) {
        const std::wstring name = Wide(names_[item.itemID]);
        const std::wstring& version = versions_[item.itemID];
        HGDIOBJ oldFont = ::SelectObject(item.hDC, uiFont_);
        const int oldMode = ::SetBkMode(item.hDC, TRANSPARENT);
        const COLORREF oldColour = ::SetTextColor(
            item.hDC, ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        constexpr UINT kLine = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS;
        // The version stays in view at the right; the name gives way first.
        RECT text = item.rcItem;
        text.left += Scale(2);
        text.right -= Scale(2);
        RECT nameRect = text;
        if (!version.empty()) {
            SIZE extent{};
            ::GetTextExtentPoint32W(item.hDC, version.c_str(), static_cast<int>(version.size()),
                                    &extent);
            ::DrawTextW(item.hDC, version.c_str(), static_cast<int>(version.size()), &text,
                        kLine | DT_RIGHT);
            nameRect.right = std::max(text.left, text.right - extent.cx - Scale(6));
        }
        ::DrawTextW(item.hDC, name.c_str(), static_cast<int>(name.size()), &nameRect,
                    kLine | DT_LEFT);
        ::SetTextColor(item.hDC, oldColour);
        ::SetBkMode(item.hDC, oldMode);
        ::SelectObject(item.hDC, oldFont);
    }
    if ((item.itemState & ODS_FOCUS) != 0) {
        ::DrawFocusRect(item.hDC, &item.rcItem);
    }
}

void frmMain::ShowProgress(std::optional<std::size_t> index) {
    if (!index || *index >= names_.size()) {
        ::SetWindowTextW(GroupBox2_, L"File List");
        return;
    }
    const std::string count = ostrapel::ProgressCount(*index, names_.size());
    const std::string& name = names_[*index];
    // The count always shows; a name too long for the caption is cut short in the middle.
    RECT frame{};
    ::GetClientRect(GroupBox2_, &frame);
    const int room = frame.right - Scale(16);
    HDC dc = ::GetDC(GroupBox2_);
    HGDIOBJ old = ::SelectObject(dc, uiFont_);
    const auto fits = [&](const std::wstring& caption) {
        SIZE extent{};
        ::GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
        return extent.cx <= room;
    };
    std::wstring caption = Wide(count + name);
    for (std::size_t length = ostrapel::CharacterCount(name); !fits(caption) && length > 1;) {
        caption = Wide(count + ostrapel::ShortenedInTheMiddle(name, --length));
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(GroupBox2_, dc);
    ::SetWindowTextW(GroupBox2_, caption.c_str());
}

void frmMain::FilesDropped(WPARAM drop) {
    auto* files = reinterpret_cast<HDROP>(drop);
    std::wstring path;
    if (::DragQueryFileW(files, 0xFFFFFFFF, nullptr, 0) > 0) {
        path.resize(::DragQueryFileW(files, 0, nullptr, 0) + 1);
        path.resize(::DragQueryFileW(files, 0, path.data(), static_cast<UINT>(path.size())));
    }
    ::DragFinish(files);
    if (path.empty() || !rules_.MayLoadFolder()) {
        return;
    }
    const std::string dropped = Utf8(path);
    switch (ostrapel::KindOf(dropped)) {
    case ostrapel::EntryKind::Directory:
        OpenFolder(dropped);
        break;
    case ostrapel::EntryKind::File:
        OpenFolder(ostrapel::ParentOf(dropped));
        break;
    default:
        break; // gone meanwhile, or nothing a folder can be told from
    }
}

void frmMain::ConvertSaves() {
    if (rules_.BatchRunning()) {
        return;
    }
    ostrapel::BatchRequest request;
    request.saveFolder = mdlSHBrowseForFolder::SelectedFolder();
    request.appDir = appDir_;
    request.valueText = Utf8(TextOf(Control(kTxt)));
    request.names = names_;
    if (!process_) {
        process_ = std::make_unique<ostrapel::Scn_Process>();
    }
    if (batch_.joinable()) {
        batch_.join();
    }
    // The reading holds the work folder; the batch needs it.
    reader_.Stop();
    cancel_ = std::make_unique<ostrapel::CancelFlag>();
    request.cancel = cancel_.get();
    HWND focus = ::GetFocus();
    const bool focusInside = focus != nullptr && ::IsChild(hwnd_, focus);
    rules_.StartBatch();
    ShowControlStates();
    // Keys go on reaching the window, Esc among them, when the focused control was locked.
    focus = ::GetFocus();
    if (focusInside && (focus == nullptr || !::IsWindowEnabled(focus))) {
        ::SetFocus(Control(kCmdSave));
    }
    {
        std::lock_guard lock(mutex_);
        cursorMoves_.clear();
        progressPaced_ = false;
        result_.reset();
    }
    batch_ = std::thread([this, request = std::move(request)] {
        PostingObserver observer(*this);
        ostrapel::BatchResult result = ostrapel::ConvertSaves(request, *process_, &observer);
        std::lock_guard lock(mutex_);
        result_ = std::move(result);
        ::PostMessageW(hwnd_, kBatchDone, 0, 0);
    });
}

void frmMain::BatchEnded() {
    if (batch_.joinable()) {
        batch_.join();
    }
    Handle(kCursorMoved, 0, 0); // progress posted before the end
    ::KillTimer(hwnd_, kProgressTimer);
    ShowProgress(std::nullopt);
    std::optional<ostrapel::BatchResult> result;
    {
        std::lock_guard lock(mutex_);
        result.swap(result_);
    }
    if (result) {
        for (std::size_t i = 0; i < result->files.size(); ++i) {
            if (auto version = ostrapel::VersionAfterBatch(result->files[i])) {
                ShowVersion(i, *version);
            }
        }
    }
    if (result && presentReport_) {
        // The first line and the entries not changed grouped by reason: bounded, so the box
        // fits the screen whatever the folder held. The full list goes to the details.
        const ostrapel::BoxReport report = ostrapel::ComposeBoxReport(*result);
        presentReport_(hwnd_, Wide(report.text), Wide(report.details), result->allChanged());
    }
    ClearWorkFolder();
    const bool close = rules_.EndBatch();
    ShowControlStates();
    if (close) {
        Close();
    }
}

void frmMain::ShowReportBox(HWND owner, const std::wstring& text, const std::wstring& details,
                            bool allChanged) {
    mdlReportBox::Show(owner, text, details, allChanged);
}

frmMain::Menu frmMain::CreateFileListMenu() const {
    Menu menu(::CreatePopupMenu());
    const ostrapel::RestoreMenuItem item = rules_.RestoreItem(
        ostrapel::BackupFolderFor(appDir_), mdlSHBrowseForFolder::SelectedFolder());
    ::AppendMenuW(menu.get(), item.enabled ? MF_STRING : MF_STRING | MF_GRAYED, kMnuRestore,
                  Wide(item.text).c_str());
    return menu;
}

void frmMain::List_ContextMenu(LPARAM at) {
    HWND list = Control(kList);
    POINT point{GET_X_LPARAM(at), GET_Y_LPARAM(at)};
    if (point.x == -1 && point.y == -1) {
        // From the keyboard: below the selected entry when it shows, else at the list's corner.
        RECT client{};
        ::GetClientRect(list, &client);
        point = {client.left, client.top};
        const LRESULT selected = ::SendMessageW(list, LB_GETCURSEL, 0, 0);
        RECT entry{};
        if (selected != LB_ERR &&
            ::SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(selected),
                           reinterpret_cast<LPARAM>(&entry)) != LB_ERR &&
            entry.bottom > client.top && entry.bottom <= client.bottom) {
            point = {entry.left, entry.bottom};
        }
        ::ClientToScreen(list, &point);
    }
    const Menu menu = CreateFileListMenu();
    // The choice comes back as WM_COMMAND with kMnuRestore.
    ::TrackPopupMenu(menu.get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, point.x, point.y,
                     0, hwnd_, nullptr);
}

void frmMain::RestoreSaves() {
    const std::string folder = mdlSHBrowseForFolder::SelectedFolder();
    if (folder.empty() || !rules_.StartBatch(false)) {
        return;
    }
    reader_.Stop();
    ShowControlStates();
    // A restore runs to its end; the flag is there only so that whatever cancels the running
    // work finds one.
    cancel_ = std::make_unique<ostrapel::CancelFlag>();
    if (restore_.joinable()) {
        restore_.join();
    }
    {
        std::lock_guard lock(mutex_);
        restoreResult_.reset();
    }
    restore_ =
        std::thread([this, window = hwnd_, backups = ostrapel::BackupFolderFor(appDir_), folder] {
            ostrapel::RestoreResult result = ostrapel::RestoreLastConversion(backups, folder);
            std::lock_guard lock(mutex_);
            restoreResult_ = std::make_unique<ostrapel::RestoreResult>(std::move(result));
            ::PostMessageW(window, kRestoreDone, 0, 0);
        });
}

void frmMain::RestoreEnded() {
    if (restore_.joinable()) {
        restore_.join();
    }
    std::unique_ptr<ostrapel::RestoreResult> result;
    {
        std::lock_guard lock(mutex_);
        result.swap(restoreResult_);
    }
    if (result && presentRestore_) {
        // "Restored N files" and the saves not restored grouped by reason, bounded as the
        // batch's report is; every one of them in the details.
        const ostrapel::BoxReport report = ostrapel::ComposeRestoreBoxReport(*result);
        presentRestore_(hwnd_, Wide(report.text), Wide(report.details), result->allRestored());
    }
    const bool close = rules_.EndBatch();
    ShowControlStates();
    if (close) {
        Close();
        return;
    }
    StartReadingVersions(); // the saves put back hold their old versions again
}

void frmMain::ShowRestoreBox(HWND owner, const std::wstring& text, const std::wstring& details,
                             bool allRestored) {
    mdlReportBox::Show(owner, text, details, allRestored);
}

bool frmMain::AskCancelAndClose(HWND owner) {
    return ::MessageBoxW(owner,
                         L"A conversion is running. Cancel it and close the window?\n\n"
                         L"Saves not yet replaced stay as they were.",
                         L"Ostrapel", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void frmMain::CancelBatch() {
    if (rules_.BatchRunning() && cancel_) {
        cancel_->raise();
    }
}

void frmMain::ShowControlStates() {
    const ostrapel::ControlStates& states = rules_.Controls();
    ::EnableWindow(Control(kCmdOpen), states.open);
    ::EnableWindow(Control(kComboDLC), states.combo);
    ::EnableWindow(Control(kCmdSave), states.save);
    ::SetWindowTextW(Control(kCmdSave), states.saveCancels ? L"Cancel" : L"Apply and Save");
}

void frmMain::ClearWorkFolder() {
    if (!appDir_.empty()) {
        (void)ostrapel::ClearWorkFolder(appDir_);
    }
}

void frmMain::Close() {
    reader_.Stop();
    ClearWorkFolder();
    ::DestroyWindow(hwnd_);
}
