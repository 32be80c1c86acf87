#include "frmMain.h"

#include "Pictures.h"
#include "WindowTexts.h"
#include "conversion/Backups.h"
#include "conversion/ConvertSaves.h"
#include "conversion/DlcVersion.h"
#include "conversion/Report.h"
#include "conversion/SaveFolder.h"
#include "system/FileSystem.h"
#include "system/Process.h"
#include "system/Wine.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
#include <limits>

namespace {

constexpr int kTwipsPerPixel = 15;
const QString kTitle = QStringLiteral("Ostrapel by Penmorrow");
constexpr int kLabelGap = 2;

QRect Twips(int left, int top, int width, int height) {
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                 height / kTwipsPerPixel);
}

QString FromBytes(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToBytes(const QByteArray& bytes) {
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void PaintWhite(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, Qt::white);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// Draws a group box's frame as the base style does, without the faint fill some styles (Fusion)
// lay over its inside, so a white box stays white.
class FrameWithoutFillStyle final : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element != PE_FrameGroupBox || option->rect.isEmpty()) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const qreal ratio =
            painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1;
        QImage layer(option->rect.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(ratio);
        layer.fill(Qt::transparent);
        {
            QPainter layerPainter(&layer);
            layerPainter.translate(-option->rect.topLeft());
            QProxyStyle::drawPrimitive(element, option, &layerPainter, widget);
        }
        // The line is drawn well opaque; the fill is a tint of a few percent.
        constexpr int kFillAlpha = 32;
        for (int y = 0; y < layer.height(); ++y) {
            auto* pixels = reinterpret_cast<QRgb*>(layer.scanLine(y));
            for (int x = 0; x < layer.width(); ++x) {
                if (qAlpha(pixels[x]) < kFillAlpha) {
                    pixels[x] = 0;
                }
            }
        }
        painter->drawImage(option->rect.topLeft(), layer);
    }
};

// Ever shorter summaries for the report box, the last with the count of entries alone.
const std::array<ostrapel::SummaryLimits, 4> kReportSummaries{{
    {},
    {.groups = 3, .namesPerGroup = 2, .nameLength = 32, .reasonLength = 60, .folderLength = 96},
    {.groups = 1, .namesPerGroup = 1, .nameLength = 24, .reasonLength = 40, .folderLength = 64},
    {.groups = 0, .folderLength = 48},
}};

// Room left for the window frame the system draws around the box.
constexpr int kFrameAllowance = 48;

void FillReportBox(QMessageBox& box, const ostrapel::BoxReport& report, bool allChanged) {
    box.setIcon(allChanged ? QMessageBox::Information : QMessageBox::Warning);
    box.setWindowTitle(QStringLiteral("Ostrapel"));
    box.setTextFormat(Qt::PlainText);
    box.setText(FromBytes(report.text));
    box.setDetailedText(FromBytes(report.details));
    box.setStandardButtons(QMessageBox::Ok);
}

// Moves a window back onto its screen where it sticks out, its top left corner first.
void KeepOnScreen(QWidget& window) {
    if (window.screen() == nullptr) {
        return;
    }
    const QRect room = window.screen()->availableGeometry();
    const QRect frame = window.frameGeometry();
    QPoint shift(std::min(0, room.right() - frame.right()),
                 std::min(0, room.bottom() - frame.bottom()));
    shift.rx() = std::max(shift.x(), room.left() - frame.left());
    shift.ry() = std::max(shift.y(), room.top() - frame.top());
    if (!shift.isNull()) {
        window.move(window.pos() + shift);
    }
}

// The size of the box with its details shown, measured without showing it on the screen.
QSize ReportBoxSize(QWidget* owner, const ostrapel::BoxReport& report, bool allChanged) {
    QMessageBox probe(owner);
    probe.setAttribute(Qt::WA_DontShowOnScreen);
    FillReportBox(probe, report, allChanged);
    probe.show();
    if (QAbstractButton* details = frmMain::DetailsButton(probe)) {
        details->click();
    }
    const QSize size = probe.size();
    probe.hide();
    return size;
}

// Shows the report box with the longest summary compose gives that fits the screen, details
// shown, and returns once the user has dismissed it. A folder named whole can make the box wider
// than the screen: the shorter summaries shorten folders too.
void ShowFittingBox(
    QWidget* owner,
    const std::function<ostrapel::BoxReport(const ostrapel::SummaryLimits&)>& compose,
    bool allDone) {
    const QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
    const QSize room =
        screen != nullptr ? screen->availableGeometry().size().shrunkBy(
                                QMargins(0, 0, kFrameAllowance, kFrameAllowance))
                          : QSize(std::numeric_limits<int>::max(), std::numeric_limits<int>::max());
    ostrapel::BoxReport report;
    for (const ostrapel::SummaryLimits& limits : kReportSummaries) {
        report = compose(limits);
        const QSize size = ReportBoxSize(owner, report, allDone);
        if (size.width() <= room.width() && size.height() <= room.height()) {
            break;
        }
    }
    QMessageBox box(owner);
    FillReportBox(box, report, allDone);
    if (QAbstractButton* details = frmMain::DetailsButton(box)) {
        // Showing the details makes the box taller downwards; keep its bottom on the screen.
        QObject::connect(
            details, &QAbstractButton::clicked, &box, [&box] { KeepOnScreen(box); },
            Qt::QueuedConnection);
    }
    box.exec();
}

QFont LabelFont() {
    const QString classic = QStringLiteral("MS Sans Serif");
    QFont font = QFontDatabase::families().contains(classic)
                     ? QFont(classic)
                     : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setBold(true);
    return font;
}

// Draws a listed save's name with its version beside it, set apart on the right, in the
// list's narrow column; the name gives way first when both do not fit. Rows are no wider
// than the list.
class VersionDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QString version = index.data(frmMain::kVersionRole).toString();
        if (version.isEmpty()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QString name = FromBytes(ToBytes(index.data(frmMain::kNameRole).toByteArray()));
        item.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

        QRect text =
            style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget).adjusted(2, 0, -2, 0);
        // The version stays in view: the row is as wide as the list shows.
        if (const auto* view = qobject_cast<const QAbstractItemView*>(widget)) {
            text.setRight(std::min(text.right(), view->viewport()->width() - 3));
        }
        const QFontMetrics metrics(item.font);
        const int versionWidth = std::min(metrics.horizontalAdvance(version), text.width());
        const int nameWidth = std::max(0, text.width() - versionWidth - kVersionGap);
        painter->save();
        painter->setFont(item.font);
        painter->setPen(item.palette.color((item.state & QStyle::State_Selected) != 0
                                               ? QPalette::HighlightedText
                                               : QPalette::Text));
        painter->drawText(QRect(text.left(), text.top(), nameWidth, text.height()),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          metrics.elidedText(name, Qt::ElideRight, nameWidth));
        painter->drawText(text, Qt::AlignRight | Qt::AlignVCenter,
                          metrics.elidedText(version, Qt::ElideRight, text.width()));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
        if (view != nullptr) {
            size.setWidth(view->viewport()->width());
        }
        return size;
    }

private:
    static constexpr int kVersionGap = 6;
};

} // namespace

frmMain::frmMain(std::string appDir, std::shared_ptr<mdlSHBrowseForFolder::FolderChooser> chooser,
                 QWidget* parent)
    : QWidget(parent),
      appDir_(appDir.empty() ? std::string() : ostrapel::WithTrailingSeparator(appDir)),
      chooser_(chooser ? std::move(chooser) : mdlSHBrowseForFolder::DefaultChooser()) {
    ClearWorkFolder();
    if (!appDir_.empty()) {
        (void)ostrapel::SetCurrentDirectory(appDir_);
    }
    CreateControls();

    for (std::string_view label : ostrapel::DlcVersionTable::Labels()) {
        ComboDLC->addItem(QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size())));
    }
    // A list-only combo box selects its first item by itself; the version starts unchosen.
    ComboDLC->setCurrentIndex(-1);

    connect(cmdOpen, &QPushButton::clicked, this, &frmMain::LoadFolderSave);
    connect(cmdSave, &QPushButton::clicked, this, &frmMain::cmdSave_Click);
    connect(ComboDLC, &QComboBox::activated, this, &frmMain::ComboDLC_Change);
    connect(ComboDLC, &QComboBox::currentTextChanged, this, &frmMain::ComboDLC_Change);
    connect(&batch_, &BatchRunner::cursorMoved, this, &frmMain::List_CursorMoved);
    connect(&batch_, &BatchRunner::finished, this, &frmMain::BatchEnded);
    List->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(List, &QListWidget::customContextMenuRequested, this, &frmMain::List_ContextMenu);
    connect(&restore_, &RestoreRunner::finished, this, &frmMain::RestoreEnded);
    connect(&versions_, &VersionReader::versionRead, this, &frmMain::Version_Read);
    connect(&versions_, &VersionReader::finished, this, &frmMain::versionsRead);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &frmMain::CancelBatch);
    setAcceptDrops(true);
}

frmMain::~frmMain() = default;

void frmMain::CreateControls() {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kTitle);
    setWindowIcon(pictures::WindowIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    PaintWhite(this);

    // Lies below the client area's bottom edge; hidden as well, so it shows at no size.
    EP = new QGroupBox(QStringLiteral("EditPanel"), this);
    EP->setObjectName(QStringLiteral("EP"));
    EP->setGeometry(Twips(2520, 3960, 1935, 735));
    EP->setFocusPolicy(Qt::NoFocus);
    txt = new QLineEdit(QStringLiteral("400"), EP);
    txt->setObjectName(QStringLiteral("txt"));
    txt->setGeometry(Twips(120, 240, 1695, 255));
    txt->setFrame(false);
    txt->setFocusPolicy(Qt::NoFocus);
    EP->hide();

    auto* whiteFrames = new FrameWithoutFillStyle;
    whiteFrames->setParent(this);

    GroupBox1 = new QGroupBox(QStringLiteral("Open Folder save"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(Twips(120, 120, 7935, 2535));
    GroupBox1->setStyle(whiteFrames);
    PaintWhite(GroupBox1);

    cmdSave = new QPushButton(QStringLiteral("Apply and Save"), GroupBox1);
    cmdSave->setObjectName(QStringLiteral("cmdSave"));
    cmdSave->setGeometry(Twips(120, 2040, 2655, 375));
    cmdSave->setEnabled(false);

    GroupBox2 = new QGroupBox(QStringLiteral("File List"), GroupBox1);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(Twips(3000, 240, 1815, 2175));
    GroupBox2->setStyle(whiteFrames);
    PaintWhite(GroupBox2);

    List = new QListWidget(GroupBox2);
    List->setObjectName(QStringLiteral("List"));
    List->setGeometry(Twips(120, 240, 1575, 1815));
    List->setSelectionMode(QAbstractItemView::SingleSelection);
    List->setAccessibleName(QStringLiteral("File List"));
    List->setItemDelegate(new VersionDelegate(List));
    // Rows as wide as the list, names cut short with the full name in the tooltip: a long
    // list lays out at once, however often versions arrive.
    List->setUniformItemSizes(true);

    ComboDLC = new QComboBox(GroupBox1);
    ComboDLC->setObjectName(QStringLiteral("ComboDLC"));
    ComboDLC->setGeometry(Twips(120, 1440, 2655, 315));
    ComboDLC->setEditable(false);
    ComboDLC->setAccessibleName(QStringLiteral("Select DLC Version"));

    cmdOpen = new QPushButton(GroupBox1);
    cmdOpen->setObjectName(QStringLiteral("cmdOpen"));
    cmdOpen->setGeometry(Twips(120, 360, 615, 495));
    cmdOpen->setIcon(QIcon(pictures::OpenFolder()));
    cmdOpen->setIconSize(QSize(32, 32));
    cmdOpen->setAccessibleName(QStringLiteral("Open Your save Folder"));
    cmdOpen->setToolTip(QStringLiteral("Open Your save Folder"));

    Image1 = new QLabel(GroupBox1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(Twips(4920, 240, 2940, 2100));
    Image1->setPixmap(pictures::Logo());
    Image1->setScaledContents(true);

    const QFont labelFont = LabelFont();
    const std::array<std::pair<QString, QRect>, 2> labels{{
        {QStringLiteral("Open Your save Folder"), Twips(840, 360, 1965, 195)},
        {QStringLiteral("Select DLC Version :"), Twips(120, 1080, 1785, 195)},
    }};
    for (int index : {1, 0}) {
        const auto& [caption, geometry] = labels[static_cast<std::size_t>(index)];
        QLabel* label = new QLabel(caption, GroupBox1);
        label->setObjectName(QStringLiteral("lbl"));
        label->setProperty("index", index);
        label->setFont(labelFont);
        label->setGeometry(geometry);
        // Fonts wider than the classic one would clip the caption: grow into the free space
        // up to the file list's frame.
        const QSize wanted = label->sizeHint();
        const int room = GroupBox2->x() - kLabelGap - geometry.left();
        label->resize(
            std::clamp(wanted.width(), geometry.width(), std::max(room, geometry.width())),
            std::clamp(wanted.height(), geometry.height(), geometry.height() + kLabelGap));
        lbl[static_cast<std::size_t>(index)] = label;
    }
    lbl[1]->setBuddy(ComboDLC);

    setTabOrder(cmdOpen, ComboDLC);
    setTabOrder(ComboDLC, List);
    setTabOrder(List, cmdSave);

    setFixedSize(Twips(0, 0, 8130, 2700).size());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));
    }
}

void frmMain::ComboDLC_Change() {
    const QByteArray text = ComboDLC->currentText().toUtf8();
    if (auto value = rules_.ChooseVersion(
            std::string_view(text.constData(), static_cast<std::size_t>(text.size())))) {
        txt->setText(FromBytes(*value));
    }
    ShowControlStates();
}

void frmMain::LoadFolderSave() {
    if (!rules_.MayLoadFolder()) {
        return;
    }
    versions_.stop();
    List->clear();
    if (!appDir_.empty()) {
        (void)ostrapel::SetCurrentDirectory(appDir_);
    }
    mdlSHBrowseForFolder::BrowseForFolder(this, *chooser_);
    ListSelectedFolder();
}

void frmMain::ListSelectedFolder() {
    const std::string& folder = mdlSHBrowseForFolder::SelectedFolder();
    if (folder.empty()) {
        return;
    }
    for (const std::string& name : ostrapel::ListSaveFolder(folder)) {
        auto* item = new QListWidgetItem(FromBytes(name));
        item->setData(kNameRole, QByteArray(name.data(), static_cast<qsizetype>(name.size())));
        item->setToolTip(item->text());
        List->addItem(item);
    }
    if (List->count() > 0) {
        List->setCurrentRow(0);
    }
    StartReadingVersions();
}

void frmMain::ConvertSaves() {
    if (rules_.BatchRunning()) {
        return;
    }
    ostrapel::BatchRequest request;
    request.saveFolder = mdlSHBrowseForFolder::SelectedFolder();
    request.appDir = appDir_;
    request.valueText = ToBytes(txt->text().toUtf8());
    for (int row = 0; row < List->count(); ++row) {
        request.names.push_back(ToBytes(List->item(row)->data(kNameRole).toByteArray()));
    }
    if (!process_) {
        process_ = std::make_unique<ostrapel::Scn_Process>();
    }
    // The reading holds the work folder; the batch needs it.
    versions_.stop();
    if (!batch_.start(std::move(request), *process_)) {
        return;
    }
    rules_.StartBatch();
    ShowControlStates();
    setCursor(Qt::BusyCursor);
    const std::string tool = ostrapel::CipherToolOf(appDir_);
    if (!appDir_.empty() && ostrapel::RunsThroughWine(tool) &&
        !ostrapel::WinePrefixReady(ostrapel::WinePrefix())) {
        setWindowTitle(kTitle + QStringLiteral(" - Wine is setting up for its first use..."));
    }
}

QString frmMain::StartupNotice() const {
    if (appDir_.empty()) {
        return QString::fromUtf8(ostrapel::kNoProgramFolder);
    }
    const std::string tool = ostrapel::CipherToolOf(appDir_);
    if (ostrapel::KindOf(tool) != ostrapel::EntryKind::File) {
        return QStringLiteral("Cipher tool not found: ") + FromBytes(tool) +
               QStringLiteral("\n\nPut decrypt.exe there before converting saves.");
    }
    if (ostrapel::RunsThroughWine(tool) && ostrapel::FindWine().empty()) {
        return QString::fromUtf8(ostrapel::kWineMissing);
    }
    return {};
}

void frmMain::List_CursorMoved(int index) {
    if (index >= 0 && index < List->count()) {
        List->setCurrentRow(index);
        ShowProgress(index);
    }
}

void frmMain::BatchEnded(const ostrapel::BatchResult& result) {
    unsetCursor();
    setWindowTitle(kTitle);
    ShowProgress(-1);
    for (std::size_t i = 0; i < result.files.size() && i < static_cast<std::size_t>(List->count());
         ++i) {
        if (auto version = ostrapel::VersionAfterBatch(result.files[i])) {
            ShowVersion(static_cast<int>(i), FromBytes(*version));
        }
    }
    if (presentReport_) {
        presentReport_(this, result);
    }
    ClearWorkFolder();
    const bool close = rules_.EndBatch();
    ShowControlStates();
    emit batchFinished();
    if (close) {
        this->close();
    }
}

void frmMain::ShowReportBox(QWidget* owner, const ostrapel::BatchResult& result) {
    ShowFittingBox(
        owner,
        [&result](const ostrapel::SummaryLimits& limits) {
            return ostrapel::ComposeBoxReport(result, limits);
        },
        result.allChanged());
}

QAbstractButton* frmMain::DetailsButton(const QMessageBox& box) {
    for (QAbstractButton* button : box.buttons()) {
        if (box.buttonRole(button) == QMessageBox::ActionRole) {
            return button;
        }
    }
    return nullptr;
}

std::unique_ptr<QMenu> frmMain::CreateFileListMenu() {
    auto menu = std::make_unique<QMenu>(this);
    const ostrapel::RestoreMenuItem item = rules_.RestoreItem(
        ostrapel::BackupFolderFor(appDir_), mdlSHBrowseForFolder::SelectedFolder());
    QAction* restore = menu->addAction(FromBytes(item.text));
    restore->setObjectName(QStringLiteral("mnuRestore"));
    restore->setEnabled(item.enabled);
    connect(restore, &QAction::triggered, this, &frmMain::RestoreSaves);
    return menu;
}

void frmMain::List_ContextMenu(const QPoint& at) {
    std::unique_ptr<QMenu> menu = CreateFileListMenu();
    menu->exec(List->viewport()->mapToGlobal(at));
}

void frmMain::RestoreSaves() {
    const std::string folder = mdlSHBrowseForFolder::SelectedFolder();
    if (rules_.BatchRunning() || folder.empty() ||
        !restore_.start(ostrapel::BackupFolderFor(appDir_), folder)) {
        return;
    }
    versions_.stop();
    rules_.StartBatch(false);
    ShowControlStates();
    setCursor(Qt::BusyCursor);
}

void frmMain::RestoreEnded(const ostrapel::RestoreResult& result) {
    unsetCursor();
    if (presentRestore_) {
        presentRestore_(this, result);
    }
    const bool close = rules_.EndBatch();
    ShowControlStates();
    emit restoreFinished();
    if (close) {
        this->close();
        return;
    }
    StartReadingVersions(); // the saves put back hold their old versions again
}

void frmMain::ShowRestoreBox(QWidget* owner, const ostrapel::RestoreResult& result) {
    ShowFittingBox(
        owner,
        [&result](const ostrapel::SummaryLimits& limits) {
            return ostrapel::ComposeRestoreBoxReport(result, limits);
        },
        result.allRestored());
}

void frmMain::closeEvent(QCloseEvent* event) {
    switch (rules_.RequestClose()) {
    case ostrapel::CloseStep::CloseNow:
        versions_.stop();
        ClearWorkFolder();
        event->accept();
        return;
    case ostrapel::CloseStep::AskToCancel:
        event->ignore();
        if (askClose_ && askClose_(this)) {
            rules_.CancelAndClose();
            CancelBatch();
        }
        return;
    case ostrapel::CloseStep::Wait:
        // Cancelling already; the window closes once the batch has ended and its report has
        // been seen.
        event->ignore();
        return;
    }
}

bool frmMain::AskCancelAndClose(QWidget* owner) {
    return QMessageBox::question(
               owner, QStringLiteral("Ostrapel"),
               QStringLiteral("A conversion is running. Cancel it and close the window?\n\n"
                              "Saves not yet replaced stay as they were."),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void frmMain::cmdSave_Click() {
    if (rules_.BatchRunning()) {
        CancelBatch();
    } else {
        ConvertSaves();
    }
}

void frmMain::CancelBatch() {
    if (rules_.BatchRunning()) {
        batch_.cancel();
    }
}

void frmMain::StartReadingVersions() {
    versions_.stop();
    if (appDir_.empty() || List->count() == 0 ||
        ostrapel::KindOf(ostrapel::CipherToolOf(appDir_)) != ostrapel::EntryKind::File) {
        return;
    }
    ostrapel::BatchRequest request;
    request.saveFolder = mdlSHBrowseForFolder::SelectedFolder();
    request.appDir = appDir_;
    for (int row = 0; row < List->count(); ++row) {
        request.names.push_back(ToBytes(List->item(row)->data(kNameRole).toByteArray()));
    }
    versions_.start(std::move(request));
}

void frmMain::Version_Read(int index, const ostrapel::FileOutcome& outcome) {
    if (index < 0 || index >= List->count()) {
        return;
    }
    ShowVersion(index, FromBytes(ostrapel::ReadVersionText(outcome)));
}

void frmMain::ShowVersion(int row, const QString& version) {
    QListWidgetItem* item = List->item(row);
    const QString name = FromBytes(ToBytes(item->data(kNameRole).toByteArray()));
    item->setData(kVersionRole, version);
    item->setText(name + QStringLiteral("   ") + version);
    item->setToolTip(name + QStringLiteral(": ") + version);
}

void frmMain::ShowProgress(int index) {
    if (index < 0) {
        GroupBox2->setTitle(QString::fromLatin1(kListCaption));
        GroupBox2->setToolTip(QString());
        return;
    }
    const QString name = FromBytes(ToBytes(List->item(index)->data(kNameRole).toByteArray()));
    const QString count = FromBytes(ostrapel::ProgressCount(
        static_cast<std::size_t>(index), static_cast<std::size_t>(List->count())));
    // The count always shows; a name too long for the caption is cut short.
    const QFontMetrics metrics(GroupBox2->font());
    const int room = GroupBox2->width() - 16 - metrics.horizontalAdvance(count);
    GroupBox2->setTitle(count + metrics.elidedText(name, Qt::ElideMiddle, std::max(room, 0)));
    GroupBox2->setToolTip(count + name);
}

namespace {

// The folder a drop names: a folder itself, or the folder holding a dropped file.
std::string DroppedFolder(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().isEmpty()) {
        return {};
    }
    const QUrl url = data->urls().first();
    if (!url.isLocalFile()) {
        return {};
    }
    const QFileInfo info(url.toLocalFile());
    if (!info.exists()) {
        return {};
    }
    const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    return mdlSHBrowseForFolder::NormalisedFolder(ToBytes(QFile::encodeName(folder)));
}

} // namespace

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (rules_.MayLoadFolder() && !DroppedFolder(event->mimeData()).empty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void frmMain::dropEvent(QDropEvent* event) {
    const std::string folder =
        !rules_.MayLoadFolder() ? std::string() : DroppedFolder(event->mimeData());
    if (folder.empty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    OpenFolder(folder);
}

void frmMain::OpenFolder(const std::string& folder) {
    if (rules_.BatchRunning()) {
        return;
    }
    versions_.stop();
    List->clear();
    if (!appDir_.empty()) {
        (void)ostrapel::SetCurrentDirectory(appDir_);
    }
    mdlSHBrowseForFolder::SelectFolder(folder);
    chooser_->Remember(mdlSHBrowseForFolder::SelectedFolder());
    ListSelectedFolder();
}

void frmMain::ShowControlStates() {
    const ostrapel::ControlStates& states = rules_.Controls();
    cmdOpen->setEnabled(states.open);
    ComboDLC->setEnabled(states.combo);
    cmdSave->setEnabled(states.save);
    cmdSave->setText(states.saveCancels ? QStringLiteral("Cancel")
                                        : QStringLiteral("Apply and Save"));
}

void frmMain::ClearWorkFolder() {
    if (!appDir_.empty()) {
        (void)ostrapel::ClearWorkFolder(appDir_);
    }
}
