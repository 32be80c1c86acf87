#pragma once

#include "BatchRunner.h"
#include "RestoreRunner.h"
#include "VersionReader.h"
#include "WindowRules.h"
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

namespace ostrapel {
class Scn_Process;
struct BatchResult;
} // namespace ostrapel

// The program's one window: open a save folder, pick a DLC version, apply it to every save.
class frmMain : public QWidget {
    Q_OBJECT

public:
    // Shows the report at the end of a batch and returns once the user has dismissed it.
    using ReportPresenter =
        std::function<void(QWidget* owner, const ostrapel::BatchResult& result)>;
    // Shows the report of a restore and returns once the user has dismissed it.
    using RestorePresenter =
        std::function<void(QWidget* owner, const ostrapel::RestoreResult& result)>;
    // Asked when the window is closed during a batch; true cancels the batch and closes the
    // window once it has ended, false keeps both.
    using CloseQuestion = std::function<bool(QWidget* owner)>;

    // Item data role holding an entry name's bytes exactly as the folder listing gave them.
    static constexpr int kNameRole = Qt::UserRole + 1;
    // Item data role holding the save's current version as shown ("2.00", "250", "not read"),
    // or nothing before it has been read.
    static constexpr int kVersionRole = Qt::UserRole + 2;
    // The file list frame's caption when no batch runs.
    static constexpr const char* kListCaption = "File List";

    // Start-up: clears the work folder of appDir, makes appDir current and fills the versions.
    explicit frmMain(std::string appDir = ostrapel::ProgramFolder(),
                     std::shared_ptr<mdlSHBrowseForFolder::FolderChooser> chooser =
                         mdlSHBrowseForFolder::DefaultChooser(),
                     QWidget* parent = nullptr);
    ~frmMain() override;

    const std::string& AppDir() const { return appDir_; }

    // What the user must know before choosing a folder: where the missing cipher tool goes, or
    // that Wine is needed to run it. Empty when the tool can run.
    QString StartupNotice() const;

    // Empties the file list, lets the user choose a save folder and lists its entries.
    void LoadFolderSave();

    // Starts the batch over the listed entries off the window's thread; the open button, the
    // version list and the save button are locked until it has ended.
    void ConvertSaves();

    bool batchRunning() const { return rules_.BatchRunning(); }
    // Whether the listed saves' versions are being read.
    bool readingVersions() const { return versions_.running(); }

    // Asks the running batch to stop; the save button and Esc do the same.
    void CancelBatch();

    // Lists folder as if it had been chosen in the folder dialog; nothing during a batch.
    void OpenFolder(const std::string& folder);

    void setReportPresenter(ReportPresenter presenter) { presentReport_ = std::move(presenter); }
    void setRestorePresenter(RestorePresenter presenter) { presentRestore_ = std::move(presenter); }

    // The file list's right-click menu: "Restore saves as they were before <date time>" for
    // the listed folder, disabled when there is nothing to undo or while a batch runs.
    std::unique_ptr<QMenu> CreateFileListMenu();

    // Undoes the newest conversion of the listed folder off the window's thread, the controls
    // locked meanwhile; its report shows in a box titled "Ostrapel" too.
    void RestoreSaves();

    // The box titled "Ostrapel" with a restore's report, fitted to the screen as the report of
    // a batch is: information icon when every save was restored; its text "Restored N files" and
    // the saves not restored grouped by reason, its details every one of them.
    static void ShowRestoreBox(QWidget* owner, const ostrapel::RestoreResult& result);
    void setCloseQuestion(CloseQuestion question) { askClose_ = std::move(question); }
    // A question box offering to cancel the running batch and close.
    static bool AskCancelAndClose(QWidget* owner);

    // The message box titled "Ostrapel": information icon when every entry changed. Its text
    // is the first line and the entries not changed grouped by reason, its details every entry
    // not changed; the grouping is cut shorter until the box, details shown, fits the screen.
    static void ShowReportBox(QWidget* owner, const ostrapel::BatchResult& result);
    // The "Show Details..." button of a message box, if it has one.
    static QAbstractButton* DetailsButton(const QMessageBox& box);

signals:
    // After the report of a batch has been dismissed and the work folder cleared.
    void batchFinished();
    // After the report of a restore has been dismissed.
    void restoreFinished();
    // When every listed save's version has been read or could not be.
    void versionsRead();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    void ComboDLC_Change();
    void cmdSave_Click();
    void List_CursorMoved(int index);
    void BatchEnded(const ostrapel::BatchResult& result);
    void ClearWorkFolder();
    void ShowControlStates();
    void List_ContextMenu(const QPoint& at);
    void RestoreEnded(const ostrapel::RestoreResult& result);
    // Lists SelectedFolder into the empty list and starts reading the versions.
    void ListSelectedFolder();
    void StartReadingVersions();
    void Version_Read(int index, const ostrapel::FileOutcome& outcome);
    void ShowVersion(int row, const QString& version);
    // The batch's progress in the file list's caption; index < 0 restores the caption.
    void ShowProgress(int index);

    std::string appDir_;
    std::shared_ptr<mdlSHBrowseForFolder::FolderChooser> chooser_;
    ReportPresenter presentReport_ = &frmMain::ShowReportBox;
    RestorePresenter presentRestore_ = &frmMain::ShowRestoreBox;
    CloseQuestion askClose_ = &frmMain::AskCancelAndClose;
    std::unique_ptr<ostrapel::Scn_Process> process_;
    BatchRunner batch_;
    RestoreRunner restore_;
    VersionReader versions_;
    ostrapel::WindowRules rules_;

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
};
