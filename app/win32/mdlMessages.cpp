// frmMain's message handling: its window procedure, its containers' (which pass their
// children's notifications on) and what the user's actions ask of the model.

#include "Words.h"
#include "frmMain.h"
#include "mdlFileList.h"
#include "mdlKeys.h"
#include "system/windows/WindowsText.h"

#include <commctrl.h>
#include <shellapi.h>

namespace {

using ostrapel::win::Utf8;
using ostrapel::win::Wide;

} // namespace

LRESULT CALLBACK frmMain::ContainerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* window = reinterpret_cast<frmMain*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    WNDPROC own = nullptr;
    for (const auto& [container, proc] : window->containerProcs_) {
        own = container == hwnd ? proc : own;
    }
    const auto pass = [&] { return ::CallWindowProcW(own, hwnd, message, wParam, lParam); };
    if (hwnd == window->FileList_) {
        if (mdlFileList::ForTheTip(message)) {
            MSG relayed{hwnd, message, wParam, lParam, 0, {}};
            ::SendMessageW(window->tips_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
        }
        if (message == WM_MOUSEMOVE) {
            window->ListMouseMoved(lParam);
        }
        // The keyboard's state only for F10: a message to the list asks nothing of the server.
        switch (mdlFileList::MenuKey(message, wParam,
                                     wParam == VK_F10 && ::GetKeyState(VK_SHIFT) < 0)) {
        case mdlFileList::KeyStep::OpenMenu:
            window->List_ContextMenu(MAKELPARAM(-1, -1));
            return 0;
        case mdlFileList::KeyStep::Swallow:
            return 0;
        case mdlFileList::KeyStep::Pass:
            break;
        }
        const LRESULT result = pass();
        if (message == WM_SIZE) {
            window->MeasureText(); // a scroll bar came or went
        }
        if (mdlFileList::MayMoveTop(message)) {
            window->TellRowsInView();
        }
        return result;
    }
    switch (message) {
    case WM_ERASEBKGND:
        window->EraseContainer(hwnd, reinterpret_cast<HDC>(wParam));
        return TRUE;
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return window->Handle(message, wParam, lParam);
    case WM_CONTEXTMENU:
        // The file list's menu; the list box passes the request on to its frame.
        if (reinterpret_cast<HWND>(wParam) == window->FileList_) {
            return window->Handle(message, wParam, lParam);
        }
        return pass();
    default:
        return pass();
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
            tip->hdr.idFrom == reinterpret_cast<UINT_PTR>(FileList_)) {
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
        if (reinterpret_cast<HWND>(wParam) == FileList_) {
            List_ContextMenu(lParam);
            return 0;
        }
        break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return reinterpret_cast<LRESULT>(
            ColourControl(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_DRAWITEM:
        if (DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam))) {
            return TRUE;
        }
        break;
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

void frmMain::ListMouseMoved(LPARAM at) {
    const int row = mdlFileList::RowAt(FileList_, at);
    if (row != hovered_) {
        hovered_ = row;
        RefreshTip();
    }
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
    ::SetFocus(FileList_);
    return true;
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
    const POINT point = mdlFileList::MenuPoint(FileList_, at);
    const Menu menu = CreateFileListMenu();
    // The choice comes back as WM_COMMAND with kMnuRestore plus the item's index.
    ::TrackPopupMenu(menu.get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, point.x, point.y,
                     0, hwnd_, nullptr);
}
