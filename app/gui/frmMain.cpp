#include "frmMain.h"

#include "Drawing.h"
#include "QtText.h"
#include "Report.h"
#include "WindowTexts.h"
#include "Words.h"
#include "conversion/Backups.h"
#include "mdlReportBox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>
#include <algorithm>
#include <cmath>

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

void frmMain::ShowRows(const std::vector<ostrapel::ListRow>& rows) {
    List->clear();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        List->addItem(new QListWidgetItem);
        ShowRow(i, rows[i]);
    }
    TellRowsInView();
}

void frmMain::TellRowsInView() {
    if (!model_ || List->count() == 0) {
        return;
    }
    const int first = std::max(List->indexAt(QPoint(0, 0)).row(), 0);
    const int rowHeight = std::max(List->sizeHintForRow(first), 1);
    const int count = List->viewport()->height() / rowHeight + 1;
    model_->RowsInView(static_cast<std::size_t>(first), static_cast<std::size_t>(count));
}

void frmMain::MeasureText() {
    if (!model_) {
        return;
    }
    // The list and its frame share the window's font. Widths are rounded up, as Qt elides by
    // the exact width: a name measured to fit must not be elided again when drawn.
    const QFontMetricsF metrics(List->font());
    model_->MeasureText({
        .width =
            [metrics](std::string_view text) {
                return static_cast<int>(std::ceil(metrics.horizontalAdvance(
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())))));
            },
        .listRoom = RowTextWidth(List),
        .versionGap = kVersionGap,
        .captionRoom = GroupBox2->width() - 16,
    });
}

void frmMain::ShowRow(std::size_t index, const ostrapel::ListRow& row) {
    QListWidgetItem* item = List->item(static_cast<int>(index));
    if (item == nullptr) {
        return;
    }
    const QString version = FromBytes(row.version);
    item->setData(kNameRole, QByteArray(row.name.data(), static_cast<qsizetype>(row.name.size())));
    item->setData(kShownRole, FromBytes(row.shown));
    item->setData(Qt::AccessibleTextRole, FromBytes(row.accessibleName));
    item->setData(Qt::AccessibleDescriptionRole, FromBytes(row.description));
    item->setData(kVersionRole, version.isEmpty() ? QVariant() : QVariant(version));
    item->setText(version.isEmpty() ? FromBytes(row.shown)
                                    : FromBytes(row.shown) + QStringLiteral("   ") + version);
    item->setToolTip(FromBytes(row.tooltip));
}

void frmMain::Select(std::size_t index) {
    if (List->hasFocus()) {
        List->setCurrentRow(static_cast<int>(index));
        return;
    }
    // Selected, not current: the row is not focused while the focus is elsewhere.
    const QModelIndex row = List->model()->index(static_cast<int>(index), 0);
    List->selectionModel()->select(row, QItemSelectionModel::ClearAndSelect);
    List->scrollTo(row);
}

void frmMain::ShowControls(const ostrapel::WindowControls& controls) {
    cmdOpen->setEnabled(controls.open);
    ComboDLC->setEnabled(controls.combo);
    cmdSave->setEnabled(controls.save);
    cmdSave->setText(FromBytes(controls.saveText));
    if (controls.busy) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

void frmMain::ShowCaption(const std::string& caption) {
    setWindowTitle(FromBytes(caption));
}

void frmMain::ShowListCaption(const ostrapel::ListCaption& caption) {
    const QString prefix = FromBytes(caption.prefix);
    // The model fitted the name to the room; a font that measures otherwise still cuts it.
    const QFontMetrics metrics(GroupBox2->font());
    const int room =
        GroupBox2->width() - 16 -
        metrics.horizontalAdvance(FromBytes(ostrapel::WithoutAccessKey(caption.prefix)));
    const QString name =
        metrics.elidedText(FromBytes(caption.name), Qt::ElideMiddle, std::max(room, 0));
    GroupBox2->setTitle(prefix + QString(name).replace(QLatin1Char('&'), QStringLiteral("&&")));
    // The title's own access key, or else the label's, reaches the list.
    if (listKey_ != nullptr) {
        listKey_->setEnabled(QKeySequence::mnemonic(prefix).isEmpty());
    }
    // Named by its own title with the whole name, not by the frame around it; the change tells
    // a screen reader of the batch's progress, as often as the model lets it.
    GroupBox2->setAccessibleName(FromBytes(caption.accessibleName));
    GroupBox2->setToolTip(FromBytes(caption.tooltip));
    List->setToolTip(FromBytes(caption.description));
    List->setAccessibleDescription(FromBytes(caption.description));
}

void frmMain::ShowValue(const std::string& value) {
    txt->setText(FromBytes(value));
}

void frmMain::ShowReport(const ostrapel::ReportBox& box) {
    if (box.batch != nullptr && presentReport_) {
        presentReport_(this, *box.batch);
    } else if (box.restore != nullptr && presentRestore_) {
        presentRestore_(this, *box.restore);
    }
}

bool frmMain::Ask(const ostrapel::Question& question) {
    if (ask_) {
        return ask_(this, question);
    }
    return QMessageBox::question(this, FromBytes(question.title), FromBytes(question.text),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

std::optional<std::string> frmMain::ChooseFolder() {
    mdlSHBrowseForFolder::BrowseForFolder(this, *chooser_);
    const std::string& folder = mdlSHBrowseForFolder::SelectedFolder();
    return folder.empty() ? std::nullopt : std::optional<std::string>(folder);
}

void frmMain::RememberFolder(const std::string& folder) {
    mdlSHBrowseForFolder::SelectFolder(folder);
    chooser_->Remember(folder);
}

void frmMain::StartPaceTimer(std::chrono::milliseconds delay) {
    QTimer::singleShot(delay, this, [this] { model_->PaceElapsed(); });
}

void frmMain::WorkPosted() {
    model_->Posted();
}

void frmMain::Close() {
    close();
}

void frmMain::Ended(Work work) {
    switch (work) {
    case Work::Reading:
        emit versionsRead();
        break;
    case Work::Batch:
        emit batchFinished();
        break;
    case Work::Restore:
        emit restoreFinished();
        break;
    }
}
