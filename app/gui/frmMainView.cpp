// frmMain as the window model's view: it shows the rows, the controls' states and the captions the
// model gives, measures text for it and shows its questions and reports.

#include "Drawing.h"
#include "QtText.h"
#include "frmMain.h"

#include <QComboBox>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <algorithm>
#include <cmath>

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
    // The list and its frame's caption are drawn in the list's font. Widths are rounded up, as Qt
    // elides by the exact width: a name measured to fit must not be elided again when drawn.
    const QFontMetricsF metrics(List->font());
    model_->MeasureText({
        .width =
            [metrics](std::string_view text) {
                return static_cast<int>(std::ceil(metrics.horizontalAdvance(
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())))));
            },
        .listRoom = RowTextWidth(List),
        .versionGap = kVersionGap,
        .captionRoom = GroupBoxCaptionRoom(GroupBox2),
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
    const QFontMetricsF metrics(GroupBox2->font());
    const qreal room =
        GroupBoxCaptionRoom(GroupBox2) -
        metrics.horizontalAdvance(FromBytes(ostrapel::WithoutAccessKey(caption.prefix)));
    const QString name =
        metrics.elidedText(FromBytes(caption.name), Qt::ElideMiddle, std::max(room, qreal{0}));
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
