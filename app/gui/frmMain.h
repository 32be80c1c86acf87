#pragma once

#include "BatchRunner.h"
#include "RestoreRunner.h"
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

    // Item data role holding an entry name's bytes exactly as the folder listing gave them.
    static constexpr int kNameRole = Qt::UserRole + 1;

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

    void setReportPresenter(ReportPresenter presenter) { presentReport_ = std::move(presenter); }
    void setRestorePresenter(RestorePresenter presenter) { presentRestore_ = std::move(presenter); }

    // The file list's right-click menu: "Restore saves as they were before <date time>" for
    // the listed folder, disabled when there is nothing to undo or while a batch runs.
    std::unique_ptr<QMenu> CreateFileListMenu();

    // Undoes the newest conversion of the listed folder off the window's thread, the controls
    // locked meanwhile; its report shows in a box titled "Ostrapel" too.
    void RestoreSaves();

    // The box titled "Ostrapel" with a restore's report: information icon when every save was
    // restored.
    static void ShowRestoreBox(QWidget* owner, const ostrapel::RestoreResult& result);

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

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void ComboDLC_Change();
    void List_CursorMoved(int index);
    void BatchEnded(const ostrapel::BatchResult& result);
    void ClearWorkFolder();
    void ShowControlStates();
    void List_ContextMenu(const QPoint& at);
    void RestoreEnded(const ostrapel::RestoreResult& result);

    std::string appDir_;
    std::shared_ptr<mdlSHBrowseForFolder::FolderChooser> chooser_;
    ReportPresenter presentReport_ = &frmMain::ShowReportBox;
    RestorePresenter presentRestore_ = &frmMain::ShowRestoreBox;
    std::unique_ptr<ostrapel::Scn_Process> process_;
    BatchRunner batch_;
    RestoreRunner restore_;
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
