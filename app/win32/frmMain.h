#pragma once

#include "VersionReader.h"
#include "WindowRules.h"
#include "conversion/ConvertSaves.h"
#include "mdlSHBrowseForFolder.h"
#include "system/Cancel.h"
#include "system/Process.h"

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>
#include <windows.h>

namespace ostrapel {
struct RestoreResult;
} // namespace ostrapel

// The program's one window on Windows, a plain Win32 window: open a save folder, pick a DLC
// version, apply it to every save. The same controls, texts, geometry and behaviour as the Qt
// window; the rules both follow are WindowRules.
class frmMain {
public:
    // Control identifiers; the labels are kLabelBase + their index.
    enum Id : int {
        kEP = 100,
        kTxt,
        kGroupBox1,
        kCmdSave,
        kGroupBox2,
        kList,
        kComboDLC,
        kCmdOpen,
        kImage1,
        kLabelBase = 120,
        kMnuRestore = 200, // the file list menu's restore item
    };

    // Shows the report of a batch and returns once the user has dismissed it. details: every
    // entry not changed, one a line; empty when every entry changed.
    using ReportPresenter = std::function<void(HWND owner, const std::wstring& text,
                                               const std::wstring& details, bool allChanged)>;
    // Shows the report of a restore and returns once the user has dismissed it. details: every
    // save not restored, one a line; empty when every save was restored.
    using RestorePresenter = std::function<void(HWND owner, const std::wstring& text,
                                                const std::wstring& details, bool allRestored)>;
    // Asked when the window is closed during a batch; true cancels the batch and closes the
    // window once it has ended, false keeps both.
    using CloseQuestion = std::function<bool(HWND owner)>;

    // Start-up: clears the work folder of appDir, makes appDir current, creates the window
    // (not yet shown) and fills the versions. quitOnClose: the message loop ends with it.
    frmMain(HINSTANCE instance, std::string appDir,
            std::shared_ptr<mdlSHBrowseForFolder::FolderChooser> chooser, bool quitOnClose);
    ~frmMain();
    frmMain(const frmMain&) = delete;
    frmMain& operator=(const frmMain&) = delete;

    HWND Handle() const { return hwnd_; }
    HWND Control(int id) const { return ::GetDlgItem(ParentOf(id), id); }
    const std::string& AppDir() const { return appDir_; }
    bool batchRunning() const { return rules_.BatchRunning(); }
    // Whether the listed saves' versions are being read.
    bool readingVersions() const { return reader_.Running(); }
    // The version shown beside the listed entry at row ("2.00", "250", "not read"); empty
    // before it has been read.
    std::wstring VersionShown(std::size_t row) const;
    void setReportPresenter(ReportPresenter presenter) { presentReport_ = std::move(presenter); }
    void setRestorePresenter(RestorePresenter presenter) { presentRestore_ = std::move(presenter); }
    void setCloseQuestion(CloseQuestion question) { askClose_ = std::move(question); }

    // Empties the file list, lets the user choose a save folder, lists its entries and starts
    // reading their versions.
    void LoadFolderSave();
    // Lists folder as if it had been chosen in the folder browser; nothing during a batch.
    void OpenFolder(const std::string& folder);
    void ConvertSaves();
    // Asks the running batch to stop; the save button and Esc do the same.
    void CancelBatch();

    struct MenuDeleter {
        void operator()(HMENU menu) const { ::DestroyMenu(menu); }
    };
    using Menu = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDeleter>;
    // The file list's right-click menu: "Restore saves as they were before <date time>"
    // (kMnuRestore) for the listed folder, disabled when there is nothing to undo or while a
    // batch or a restore runs.
    Menu CreateFileListMenu() const;
    // Undoes the newest conversion of the listed folder off the window's thread, the controls
    // locked meanwhile; its report shows in the report box. Nothing while a batch or a restore
    // runs, or when no folder is listed.
    void RestoreSaves();

    // The report box titled "Ostrapel" (mdlReportBox): information icon when every entry
    // changed, the details behind a button.
    static void ShowReportBox(HWND owner, const std::wstring& text, const std::wstring& details,
                              bool allChanged);
    // The report box (mdlReportBox) with a restore's report: information icon when every save
    // was restored, the saves not restored behind its details button.
    static void ShowRestoreBox(HWND owner, const std::wstring& text, const std::wstring& details,
                               bool allRestored);
    // A question box offering to cancel the running batch and close.
    static bool AskCancelAndClose(HWND owner);

    // Client-area pixels at 96 DPI, as the twips of the layout give them.
    static constexpr int kClientWidth = 8130 / 15;
    static constexpr int kClientHeight = 2700 / 15;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ContainerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR id, DWORD_PTR data);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    void CreateControls();
    HWND Create(const wchar_t* kind, const wchar_t* text, DWORD style, int id, HWND parent,
                int left, int top, int width, int height, DWORD exStyle = 0);
    HWND ParentOf(int id) const;
    int Scale(int pixels) const;
    void ComboDLC_Change();
    void ClearList();
    // Lists SelectedFolder into the empty list and starts reading the versions.
    void ListSelectedFolder();
    void StartReadingVersions();
    void VersionsRead();
    void ShowVersion(std::size_t row, const std::string& version);
    // The batch's progress in the file list's caption; none restores the caption.
    void ShowProgress(std::optional<std::size_t> index);
    void DrawListItem(const DRAWITEMSTRUCT& item);
    // WM_DROPFILES: lists the dropped folder, or the folder of a dropped file.
    void FilesDropped(WPARAM drop);
    void ShowControlStates();
    void BatchEnded();
    // The menu at a point of the screen, or under the list's selection when it was asked for
    // from the keyboard (both coordinates -1).
    void List_ContextMenu(LPARAM at);
    void RestoreEnded();
    void ClearWorkFolder();
    void Close();

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    std::string appDir_;
    std::shared_ptr<mdlSHBrowseForFolder::FolderChooser> chooser_;
    bool quitOnClose_;
    ReportPresenter presentReport_ = &frmMain::ShowReportBox;
    RestorePresenter presentRestore_ = &frmMain::ShowRestoreBox;
    CloseQuestion askClose_ = &frmMain::AskCancelAndClose;
    ostrapel::WindowRules rules_;
    std::unique_ptr<ostrapel::Scn_Process> process_;
    std::unique_ptr<ostrapel::CancelFlag> cancel_; // the running batch's
    std::vector<std::string> names_;               // the listed names as the listing gave them
    std::vector<std::wstring> versions_;           // shown beside names_, empty until read
    VersionReader reader_;
    int dpi_ = 96;

    // The batch's thread and what it hands over; WM_APP messages carry only the wake-up.
    std::thread batch_;
    std::mutex mutex_;
    std::vector<std::size_t> cursorMoves_;
    bool progressPaced_ = false; // moves wait for the progress timer rather than a message
    std::optional<ostrapel::BatchResult> result_;
    // The restore's thread and its result, handed over in the same way.
    std::thread restore_;
    std::unique_ptr<ostrapel::RestoreResult> restoreResult_;

    HWND EP_ = nullptr;
    HWND GroupBox1_ = nullptr;
    HWND GroupBox2_ = nullptr;
    HFONT labelFont_ = nullptr;
    HFONT uiFont_ = nullptr;
    HBRUSH white_ = nullptr;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HICON openFolder_ = nullptr;
    HICON logo_ = nullptr;

    friend class PostingObserver;
};
