#pragma once

#include "WindowModel.h"
#include "WindowView.h"
#include "mdlAccessibility.h"
#include "mdlSHBrowseForFolder.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>
#include <windows.h>

// The program's one window on Windows, a plain Win32 window: it draws what its WindowModel
// says and hands the user's actions to it. The same controls, texts and geometry as the Qt
// window.
class frmMain final : public ostrapel::WindowView {
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
        kMnuRestore = 200, // the file list menu's first restore item; the others follow
        kMnuRestoreItems = 20,
    };

    // Shows the report of a batch or a restore; returns once the user has dismissed it.
    using ReportPresenter = std::function<void(HWND owner, const ostrapel::ReportBox& box)>;
    // Shows on the taskbar button how far the work has gone: TBPF_NOPROGRESS, TBPF_INDETERMINATE
    // or TBPF_NORMAL with done of total.
    using TaskbarPresenter =
        std::function<void(HWND window, int state, std::size_t done, std::size_t total)>;
    // Asks a yes/no question; true for yes.
    using QuestionPresenter = std::function<bool(HWND owner, const ostrapel::Question& question)>;
    // Whether the system's high contrast is on (SPI_GETHIGHCONTRAST, which Wine never reports).
    using ContrastProbe = std::function<bool()>;
    static bool SystemHighContrast();

    // Start-up: the model clears the work folder of appDir and makes appDir current; creates
    // the window, not yet shown. quitOnClose: the message loop ends with it.
    frmMain(HINSTANCE instance, std::string appDir,
            std::shared_ptr<mdlSHBrowseForFolder::FolderChooser> chooser, bool quitOnClose,
            ostrapel::WindowOptions options = {});
    ~frmMain() override;
    frmMain(const frmMain&) = delete;
    frmMain& operator=(const frmMain&) = delete;

    HWND Handle() const { return hwnd_; }
    HWND Control(int id) const { return ::GetDlgItem(ParentOf(id), id); }
    ostrapel::WindowModel& Model() { return *model_; }
    const ostrapel::WindowModel& Model() const { return *model_; }
    void setReportPresenter(ReportPresenter presenter) { presentReport_ = std::move(presenter); }
    void setQuestionPresenter(QuestionPresenter presenter) { ask_ = std::move(presenter); }
    void setTaskbarPresenter(TaskbarPresenter presenter) { taskbar_ = std::move(presenter); }
    // Takes what probe says of high contrast from now on, the window's colours at once.
    void setContrastProbe(ContrastProbe probe) {
        contrastProbe_ = std::move(probe);
        FollowSystemColours();
    }
    // The model's start-up notice (a missing cipher tool) in a warning box, when there is one.
    void ShowStartupNotice();
    // A key the message loop takes before the dialog manager: Alt and the file list's access
    // key while its frame's caption shows no label to carry it (the folder's name alone, or the
    // batch's progress). True when taken.
    bool TakeAccessKey(const MSG& message);

    struct MenuDeleter {
        void operator()(HMENU menu) const { ::DestroyMenu(menu); }
    };
    using Menu = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDeleter>;
    // The file list's right-click menu: its items (kMnuRestore on) as the model gives them.
    Menu CreateFileListMenu() const;

    // Where a control whose words must fit (FittedTexts) draws them as laid out now: its font,
    // DrawText's format as the control draws with it, and the room the words have. A label wraps
    // at words up to the file list's frame and the control below it; the others keep to one line
    // (room.cy 0: one line's height).
    struct TextRoom {
        HWND control = nullptr;
        HFONT font = nullptr;
        UINT format = 0;
        SIZE room{};
    };
    TextRoom RoomFor(ostrapel::FittedControl control) const;

    // The report box (mdlReportBox) titled "Ostrapel", the details behind a button.
    static void ShowReportBox(HWND owner, const ostrapel::ReportBox& box);

    // Client-area pixels at 96 DPI, as the twips of the layout give them.
    static constexpr int kClientWidth = 8130 / 15;
    static constexpr int kClientHeight = 2700 / 15;

    // --- WindowView ---
    void ShowRows(const std::vector<ostrapel::ListRow>& rows) override;
    void ShowRow(std::size_t index, const ostrapel::ListRow& row) override;
    void Select(std::size_t index) override;
    void ShowControls(const ostrapel::WindowControls& controls) override;
    void ShowCaption(const std::string& caption) override;
    void ShowListCaption(const ostrapel::ListCaption& caption) override;
    void ShowValue(const std::string& value) override;
    void ShowReport(const ostrapel::ReportBox& box) override;
    bool Ask(const ostrapel::Question& question) override;
    std::optional<std::string> ChooseFolder() override;
    void RememberFolder(const std::string& folder) override;
    void StartPaceTimer(std::chrono::milliseconds delay) override;
    void Close() override;

private:
    static constexpr UINT kPosted = WM_APP + 1; // the model's wake-up
    static constexpr UINT_PTR kPaceTimer = 1;

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // The frames' and the file list's window procedure, put before their own.
    static LRESULT CALLBACK ContainerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    void CreateControls();
    // Takes the colours anew (at start and when the system's change): white, or in high
    // contrast the scheme's window colours; repaints everything.
    void FollowSystemColours();
    // The background of the window and its frames, and the colour of their captions.
    HBRUSH Background() const { return highContrast_ ? ::GetSysColorBrush(COLOR_WINDOW) : white_; }
    COLORREF BackgroundColour() const {
        return highContrast_ ? ::GetSysColor(COLOR_WINDOW) : RGB(255, 255, 255);
    }
    // The text and background colours of a static control or a button, set into dc; the brush
    // to paint its background with.
    HBRUSH ColourControl(HDC dc, HWND control) const;
    // Draws an owner-drawn control (the logo, a row of the file list); false for another.
    bool DrawItem(const DRAWITEMSTRUCT& item) const;
    // A container's background, as a group box paints none of its own.
    void EraseContainer(HWND container, HDC dc) const;
    // Places every control and makes the fonts and pictures for dpi_.
    void LayOut();
    HWND ParentOf(int id) const;
    // The file list's frame shows listCaption_ fitted to its width; the label alone marks its
    // access key.
    void FitListCaption();
    int Scale(int pixels) const { return ::MulDiv(pixels, dpi_, 96); }
    void ListMouseMoved(LPARAM at);
    // Tells the model which rows the list shows, whose versions it reads first.
    void TellRowsInView();
    // Tells the model the list's font and the room its rows and its frame's caption have.
    void MeasureText();
    void RefreshTip();
    void FilesDropped(WPARAM drop);
    void ComboDLC_Change();
    void List_ContextMenu(LPARAM at);

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    std::shared_ptr<mdlSHBrowseForFolder::FolderChooser> chooser_;
    bool quitOnClose_;
    ReportPresenter presentReport_ = &frmMain::ShowReportBox;
    QuestionPresenter ask_;
    TaskbarPresenter taskbar_;
    ContrastProbe contrastProbe_ = &frmMain::SystemHighContrast;
    std::unique_ptr<ostrapel::WindowModel> model_;
    std::unique_ptr<mdlAccessibility::ListAnnotation> listAnnotation_;
    std::vector<ostrapel::ListRow> rows_; // as the list draws them
    ostrapel::ListCaption listCaption_;
    bool busy_ = false;
    int dpi_ = 96;
    int hovered_ = -1; // the list's row under the mouse, whose tooltip shows

    HWND EP_ = nullptr;
    HWND GroupBox1_ = nullptr;
    HWND GroupBox2_ = nullptr;
    HWND FileList_ = nullptr;
    HWND tips_ = nullptr;
    // Each container's own window procedure, which ContainerProc passes on to.
    std::vector<std::pair<HWND, WNDPROC>> containerProcs_;
    HFONT labelFont_ = nullptr;
    HFONT uiFont_ = nullptr;
    HBRUSH white_ = nullptr;
    bool highContrast_ = false; // the system's high contrast is on
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HICON openFolder_ = nullptr;
    HICON logo_ = nullptr;
    std::wstring tipText_; // what the tooltip asked for last
};
