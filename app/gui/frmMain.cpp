// frmMain: the window set up, and what the user does (clicks, keys, the menu, drops, closing)
// handed to the window model.

#include "frmMain.h"

#include "QtText.h"
#include "Report.h"
#include "WindowTexts.h"
#include "Words.h"
#include "conversion/Backups.h"
#include "mdlReportBox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>

frmMain::frmMain(std::string appDir, std::shared_ptr<mdlSHBrowseForFolder::FolderChooser> chooser,
                 QWidget* parent)
    : QWidget(parent),
      chooser_(chooser ? std::move(chooser) : mdlSHBrowseForFolder::DefaultChooser()) {
    ostrapel::WindowOptions options;
    options.appDir = std::move(appDir);
    // The workers' wake-up, queued to the window's thread; dropped once the window is gone.
    model_ = std::make_unique<ostrapel::WindowModel>(
        static_cast<ostrapel::WindowView&>(*this),
        [this] { QMetaObject::invokeMethod(this, "WorkPosted", Qt::QueuedConnection); },
        std::move(options));
    CreateControls();
    for (const std::string& label : ostrapel::WindowModel::VersionLabels()) {
        ComboDLC->addItem(FromBytes(label));
    }
    // A list-only combo box selects its first item by itself; the version starts unchosen.
    ComboDLC->setCurrentIndex(-1);
    MeasureText();
    model_->Show();

    const auto chosen = [this] {
        model_->VersionChosen(ToBytes(ComboDLC->currentText().toUtf8()));
    };
    connect(cmdOpen, &QPushButton::clicked, this, &frmMain::LoadFolderSave);
    connect(cmdSave, &QPushButton::clicked, this, [this] { model_->SaveClicked(); });
    connect(ComboDLC, &QComboBox::activated, this, chosen);
    connect(ComboDLC, &QComboBox::currentTextChanged, this, chosen);
    List->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(List, &QListWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { List_ContextMenu(at); });
    connect(List->verticalScrollBar(), &QScrollBar::valueChanged, this, &frmMain::TellRowsInView);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &frmMain::CancelBatch);
    listKey_ =
        new QShortcut(QKeySequence::mnemonic(FromBytes(ostrapel::Tr(ostrapel::kListTitle))), this);
    listKey_->setEnabled(QKeySequence::mnemonic(GroupBox2->title()).isEmpty());
    connect(listKey_, &QShortcut::activated, this,
            [this] { List->setFocus(Qt::ShortcutFocusReason); });
    for (QWidget* control : {static_cast<QWidget*>(cmdOpen), static_cast<QWidget*>(cmdSave),
                             static_cast<QWidget*>(List), List->viewport()}) {
        control->installEventFilter(this);
    }
    // The focus cue follows the focus at once.
    connect(qApp, &QApplication::focusChanged, this, [](QWidget* old, QWidget* now) {
        for (QWidget* widget : {old, now}) {
            if (widget != nullptr) {
                widget->update();
            }
        }
    });
    setAcceptDrops(true);
}

frmMain::~frmMain() = default;

QString frmMain::StartupNotice() const {
    return FromBytes(model_->StartupNotice());
}

void frmMain::LoadFolderSave() {
    model_->OpenClicked();
}

void frmMain::OpenFolder(const std::string& folder) {
    (void)model_->OpenFolder(folder);
}

void frmMain::ConvertSaves() {
    if (!model_->BatchRunning()) {
        model_->SaveClicked();
    }
}

void frmMain::CancelBatch() {
    model_->CancelPressed();
}

void frmMain::RestoreSaves() {
    model_->RestoreChosen();
}

std::unique_ptr<QMenu> frmMain::CreateFileListMenu() {
    auto menu = std::make_unique<QMenu>(this);
    menu->setObjectName(QStringLiteral("mnuFileList"));
    menu->setAccessibleName(Words(N_("Restore saves")));
    const std::vector<ostrapel::RestoreMenuItem> items = model_->RestoreMenu();
    for (std::size_t i = 0; i < items.size(); ++i) {
        QAction* restore = menu->addAction(FromBytes(items[i].text));
        restore->setObjectName(i == 0 ? QStringLiteral("mnuRestore")
                                      : QStringLiteral("mnuRestore%1").arg(i));
        restore->setEnabled(items[i].enabled);
        connect(restore, &QAction::triggered, this, [this, i] { model_->RestoreChosen(i); });
    }
    return menu;
}

void frmMain::List_ContextMenu(const QPoint& at, bool byKey) {
    std::unique_ptr<QMenu> menu = CreateFileListMenu();
    if (byKey) {
        // Once it shows: the item taking the cursor is what a screen reader announces, as the
        // pop-up itself is no child of the application in the accessibility tree.
        QTimer::singleShot(0, menu.get(), [menu = menu.get()] {
            menu->setActiveAction(menu->actions().value(0));
        });
    }
    menu->exec(List->viewport()->mapToGlobal(at));
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == List->viewport() && event->type() == QEvent::Resize) {
        MeasureText(); // a scroll bar came or went
    }
    // The list's current row, which a screen reader calls focused, is the selected row while
    // the list has the focus, and none while another control has it.
    if (watched == List && event->type() == QEvent::FocusOut) {
        List->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
    if (watched == List && event->type() == QEvent::FocusIn && !List->currentIndex().isValid() &&
        !List->selectionModel()->selectedIndexes().isEmpty()) {
        List->selectionModel()->setCurrentIndex(List->selectionModel()->selectedIndexes().first(),
                                                QItemSelectionModel::NoUpdate);
    }
    if (event->type() != QEvent::KeyPress) {
        return QWidget::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (auto* button = qobject_cast<QPushButton*>(watched);
        button != nullptr && enter && key->modifiers() == Qt::NoModifier) {
        // Enter presses the focused button, as Space does.
        button->animateClick();
        return true;
    }
    const bool menuKey = key->key() == Qt::Key_Menu ||
                         (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier);
    if (watched == List && menuKey) {
        // The menu opens at the current row, or at the list's top left.
        const QRect row = List->visualItemRect(List->currentItem());
        List_ContextMenu(row.isValid() ? row.center() : QPoint(4, 4), true);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::ShowReportBox(QWidget* owner, const ostrapel::BatchResult& result) {
    ShowBox(owner, {.kind = ostrapel::ReportBox::Kind::Batch,
                    .warning = ostrapel::BoxWarns(result),
                    .batch = &result});
}

void frmMain::ShowRestoreBox(QWidget* owner, const ostrapel::RestoreResult& result) {
    ShowBox(owner, {.kind = ostrapel::ReportBox::Kind::Restore,
                    .warning = !result.allRestored(),
                    .restore = &result});
}

void frmMain::ShowBox(QWidget* owner, const ostrapel::ReportBox& box) {
    mdlReportBox::Show(owner, box);
}

void frmMain::closeEvent(QCloseEvent* event) {
    event->setAccepted(model_->CloseRequested());
}

namespace {

// The local path a drop names, when it exists.
std::string DroppedPath(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().isEmpty() ||
        !data->urls().first().isLocalFile()) {
        return {};
    }
    const QFileInfo info(data->urls().first().toLocalFile());
    return info.exists() ? ToBytes(QFile::encodeName(info.absoluteFilePath())) : std::string();
}

} // namespace

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (model_->Controls().folders && !DroppedPath(event->mimeData()).empty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void frmMain::dropEvent(QDropEvent* event) {
    if (model_->FolderDropped(DroppedPath(event->mimeData()))) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}
