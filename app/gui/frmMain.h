#pragma once

#include "Drawing.h"
#include "WindowModel.h"
#include "WindowView.h"
#include "mdlReportBox.h"
#include "mdlSHBrowseForFolder.h"
#include "system/Paths.h"

#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>

class QAbstractButton;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMessageBox;
class QPushButton;

// The program's one window in Qt: it builds the controls, draws what the window model
// (WindowModel) says and hands it what the user does.
class QShortcut;

class frmMain : public QWidget, private ostrapel::WindowView {
    Q_OBJECT

public:
    // Shows the report at the end of a batch and returns once the user has dismissed it.
    using ReportPresenter =
        std::function<void(QWidget* owner, const ostrapel::BatchResult& result)>;
    // Shows the report of a restore and returns once the user has dismissed it.
    using RestorePresenter =
        std::function<void(QWidget* owner, const ostrapel::RestoreResult& result)>;
    // Asks a yes/no question (closing during a batch, restoring a backup set); true for yes.
    using QuestionPresenter =
        std::function<bool(QWidget* owner, const ostrapel::Question& question)>;

    // The list's item data roles (listrole in Drawing.h).
    static constexpr int kNameRole = listrole::kName;
    static constexpr int kVersionRole = listrole::kVersion;
    static constexpr int kShownRole = listrole::kShown;

    // Start-up: clears the work folder of appDir, makes appDir current and fills the versions.
    explicit frmMain(std::string appDir = ostrapel::ProgramFolder(),
                     std::shared_ptr<mdlSHBrowseForFolder::FolderChooser> chooser =
                         mdlSHBrowseForFolder::DefaultChooser(),
                     QWidget* parent = nullptr);
    ~frmMain() override;

    const std::string& AppDir() const { return model_->AppDir(); }
    // What the user must know before choosing a folder; empty when the tool can run.
    QString StartupNotice() const;

    // cmdOpen: lets the user choose a save folder and lists its entries.
    void LoadFolderSave();
    // Lists folder as if it had been chosen in the folder dialog; nothing during a batch.
    void OpenFolder(const std::string& folder);
    // Starts the batch over the listed entries; nothing while one runs.
    void ConvertSaves();
    // Asks the running batch to stop; the save button and Esc do the same.
    void CancelBatch();
    // Undoes the newest conversion of the listed folder (the file list menu's item).
    void RestoreSaves();

    // Whether a batch or a restore runs.
    bool batchRunning() const { return model_->BatchRunning() || model_->RestoreRunning(); }
    bool readingVersions() const { return model_->ReadingVersions(); }

    void setReportPresenter(ReportPresenter presenter) { presentReport_ = std::move(presenter); }
    void setRestorePresenter(RestorePresenter presenter) { presentRestore_ = std::move(presenter); }
    void setQuestionPresenter(QuestionPresenter presenter) { ask_ = std::move(presenter); }

    // The file list's right-click menu with its one item, mnuRestore.
    std::unique_ptr<QMenu> CreateFileListMenu();

    // The message box titled "Ostrapel" with a batch's or a restore's report: the longest
    // summary whose box, details shown, fits the screen.
    static void ShowReportBox(QWidget* owner, const ostrapel::BatchResult& result);
    static void ShowRestoreBox(QWidget* owner, const ostrapel::RestoreResult& result);
    static void ShowBox(QWidget* owner, const ostrapel::ReportBox& box);
    // The "Show Details..." button of a message box, if it has one.
    static QAbstractButton* DetailsButton(const QMessageBox& box) {
        return mdlReportBox::DetailsButton(box);
    }

signals:
    // After the report of a batch has been dismissed.
    void batchFinished();
    // After the report of a restore has been dismissed.
    void restoreFinished();
    // When every listed save's version has been read or could not be.
    void versionsRead();

protected:
    // Enter on a focused button presses it; Shift+F10 and the Menu key open the list's menu.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    // The list's menu at a point of its viewport; opened by a key, it starts on its first item.
    void List_ContextMenu(const QPoint& at, bool byKey = false);
    // The workers' wake-up, queued by name: no functor crosses threads.
    Q_INVOKABLE void WorkPosted();

    // WindowView
    void ShowRows(const std::vector<ostrapel::ListRow>& rows) override;
    // Tells the model which rows the list shows, so that their versions are read first.
    void TellRowsInView();
    // Tells the model the list's font and the room its rows and its frame's caption have.
    void MeasureText();
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
    void Ended(Work work) override;

    std::shared_ptr<mdlSHBrowseForFolder::FolderChooser> chooser_;
    ReportPresenter presentReport_ = &frmMain::ShowReportBox;
    RestorePresenter presentRestore_ = &frmMain::ShowRestoreBox;
    QuestionPresenter ask_;

    QGroupBox* EP = nullptr;
    QLineEdit* txt = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QPushButton* cmdSave = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QListWidget* List = nullptr;
    QComboBox* ComboDLC = nullptr;
    QPushButton* cmdOpen = nullptr;
    QLabel* Image1 = nullptr;
    std::array<QLabel*, 2> lbl{};
    // The file list's access key while its caption shows no label to carry it (the folder's
    // name alone, or the batch's progress).
    QShortcut* listKey_ = nullptr;

    // Last: its workers are stopped before the controls go.
    std::unique_ptr<ostrapel::WindowModel> model_;
};
