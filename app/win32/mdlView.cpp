// frmMain as the model's view: it shows what the model says, the rows, captions, controls and
// reports, and asks the user what the model asks.

#include "frmMain.h"
#include "mdlFileList.h"
#include "mdlReportBox.h"
#include "system/windows/WindowsText.h"

#include <commctrl.h>
#include <shobjidl.h>

namespace {

using ostrapel::win::Wide;

} // namespace

void frmMain::ShowStartupNotice() {
    const std::string notice = model_->StartupNotice();
    if (!notice.empty()) {
        const mdlReportBox::CentredBoxes centred(hwnd_);
        ::MessageBoxW(hwnd_, Wide(notice).c_str(), L"Ostrapel", MB_OK | MB_ICONWARNING);
    }
}

void frmMain::ShowRows(const std::vector<ostrapel::ListRow>& rows) {
    rows_ = rows;
    hovered_ = -1;
    mdlFileList::Fill(FileList_, rows_);
    TellRowsInView();
}

void frmMain::ShowRow(std::size_t index, const ostrapel::ListRow& row) {
    if (index >= rows_.size()) {
        return;
    }
    rows_[index] = row;
    mdlFileList::RedrawRow(FileList_, index);
    if (static_cast<int>(index) == hovered_) {
        RefreshTip();
    }
}

void frmMain::Select(std::size_t index) {
    ::SendMessageW(FileList_, LB_SETCURSEL, index, 0);
}

void frmMain::RefreshTip() {
    // The list's tip asks for its text again (TTN_GETDISPINFO), and a tip showing is redrawn.
    TTTOOLINFOW tip{};
    tip.cbSize = sizeof tip;
    tip.hwnd = hwnd_;
    tip.uId = reinterpret_cast<UINT_PTR>(FileList_);
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
    FitListCaption();
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
