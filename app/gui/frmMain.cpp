#include "frmMain.h"

#include "Pictures.h"
#include "conversion/Backups.h"
#include "conversion/ConvertSaves.h"
#include "conversion/DlcVersion.h"
#include "conversion/SaveFolder.h"
#include "system/FileSystem.h"
#include "system/Process.h"
#include "system/UserFolders.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <algorithm>

namespace {

constexpr int kTwipsPerPixel = 15;
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
    connect(cmdSave, &QPushButton::clicked, this, &frmMain::ConvertSaves);
    connect(ComboDLC, &QComboBox::activated, this, &frmMain::ComboDLC_Change);
    connect(ComboDLC, &QComboBox::currentTextChanged, this, &frmMain::ComboDLC_Change);
    connect(&batch_, &BatchRunner::cursorMoved, this, &frmMain::List_CursorMoved);
    connect(&batch_, &BatchRunner::finished, this, &frmMain::BatchEnded);
    List->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(List, &QListWidget::customContextMenuRequested, this, &frmMain::List_ContextMenu);
    connect(&restore_, &RestoreRunner::finished, this, &frmMain::RestoreEnded);
}

frmMain::~frmMain() = default;

void frmMain::CreateControls() {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Ostrapel by Penmorrow"));
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

    GroupBox1 = new QGroupBox(QStringLiteral("Open Folder save"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(Twips(120, 120, 7935, 2535));
    PaintWhite(GroupBox1);

    cmdSave = new QPushButton(QStringLiteral("Apply and Save"), GroupBox1);
    cmdSave->setObjectName(QStringLiteral("cmdSave"));
    cmdSave->setGeometry(Twips(120, 2040, 2655, 375));
    cmdSave->setEnabled(false);

    GroupBox2 = new QGroupBox(QStringLiteral("File List"), GroupBox1);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(Twips(3000, 240, 1815, 2175));
    PaintWhite(GroupBox2);

    List = new QListWidget(GroupBox2);
    List->setObjectName(QStringLiteral("List"));
    List->setGeometry(Twips(120, 240, 1575, 1815));
    List->setSelectionMode(QAbstractItemView::SingleSelection);
    List->setAccessibleName(QStringLiteral("File List"));

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
    if (batchActive_) {
        return;
    }
    const QByteArray text = ComboDLC->currentText().toUtf8();
    if (auto value = ostrapel::DlcVersionTable::LookUp(
            std::string_view(text.constData(), static_cast<std::size_t>(text.size())))) {
        txt->setText(QString::number(*value));
    }
    cmdSave->setEnabled(true);
}

void frmMain::LoadFolderSave() {
    if (batchActive_) {
        return;
    }
    List->clear();
    if (!appDir_.empty()) {
        (void)ostrapel::SetCurrentDirectory(appDir_);
    }
    mdlSHBrowseForFolder::BrowseForFolder(this, *chooser_);
    const std::string& folder = mdlSHBrowseForFolder::SelectedFolder();
    if (folder.empty()) {
        return;
    }
    for (const std::string& name : ostrapel::ListSaveFolder(folder)) {
        auto* item = new QListWidgetItem(FromBytes(name));
        item->setData(kNameRole, QByteArray(name.data(), static_cast<qsizetype>(name.size())));
        List->addItem(item);
    }
    if (List->count() > 0) {
        List->setCurrentRow(0);
    }
}

void frmMain::ConvertSaves() {
    if (batchActive_) {
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
    if (!batch_.start(std::move(request), *process_)) {
        return;
    }
    batchActive_ = true;
    enabledBefore_ = {cmdOpen->isEnabled(), ComboDLC->isEnabled(), cmdSave->isEnabled()};
    cmdOpen->setEnabled(false);
    ComboDLC->setEnabled(false);
    cmdSave->setEnabled(false);
    setCursor(Qt::BusyCursor);
}

void frmMain::List_CursorMoved(int index) {
    if (index >= 0 && index < List->count()) {
        List->setCurrentRow(index);
    }
}

void frmMain::BatchEnded(const ostrapel::BatchResult& result) {
    unsetCursor();
    if (presentReport_) {
        presentReport_(this, FromBytes(result.report), result.allChanged());
    }
    ClearWorkFolder();
    cmdOpen->setEnabled(enabledBefore_.open);
    ComboDLC->setEnabled(enabledBefore_.combo);
    cmdSave->setEnabled(enabledBefore_.save);
    batchActive_ = false;
    emit batchFinished();
    if (closeWhenBatchEnds_) {
        closeWhenBatchEnds_ = false;
        close();
    }
}

std::unique_ptr<QMenu> frmMain::CreateFileListMenu() {
    auto menu = std::make_unique<QMenu>(this);
    const std::string& folder = mdlSHBrowseForFolder::SelectedFolder();
    const ostrapel::BackupSetListing listing =
        folder.empty() || batchActive_
            ? ostrapel::BackupSetListing{}
            : ostrapel::ListBackupSets(ostrapel::BackupFolderFor(appDir_), folder);
    const ostrapel::BackupSet* newest = ostrapel::NewestNotUndone(listing);
    const std::string when = newest != nullptr && newest->status
                                 ? ostrapel::LocalTimeText(newest->manifest.time)
                                 : std::string("the last conversion");
    QAction* restore =
        menu->addAction(QStringLiteral("Restore saves as they were before ") + FromBytes(when));
    restore->setObjectName(QStringLiteral("mnuRestore"));
    restore->setEnabled(newest != nullptr);
    connect(restore, &QAction::triggered, this, &frmMain::RestoreSaves);
    return menu;
}

void frmMain::List_ContextMenu(const QPoint& at) {
    std::unique_ptr<QMenu> menu = CreateFileListMenu();
    menu->exec(List->viewport()->mapToGlobal(at));
}

void frmMain::RestoreSaves() {
    const std::string folder = mdlSHBrowseForFolder::SelectedFolder();
    if (batchActive_ || folder.empty() ||
        !restore_.start(ostrapel::BackupFolderFor(appDir_), folder)) {
        return;
    }
    batchActive_ = true;
    enabledBefore_ = {cmdOpen->isEnabled(), ComboDLC->isEnabled(), cmdSave->isEnabled()};
    cmdOpen->setEnabled(false);
    ComboDLC->setEnabled(false);
    cmdSave->setEnabled(false);
    setCursor(Qt::BusyCursor);
}

void frmMain::RestoreEnded(const ostrapel::RestoreResult& result) {
    unsetCursor();
    if (presentReport_) {
        presentReport_(this, FromBytes(result.report), result.allRestored());
    }
    cmdOpen->setEnabled(enabledBefore_.open);
    ComboDLC->setEnabled(enabledBefore_.combo);
    cmdSave->setEnabled(enabledBefore_.save);
    batchActive_ = false;
    emit restoreFinished();
    if (closeWhenBatchEnds_) {
        closeWhenBatchEnds_ = false;
        close();
    }
}

void frmMain::ShowReportBox(QWidget* owner, const QString& text, bool allChanged) {
    QMessageBox box(allChanged ? QMessageBox::Information : QMessageBox::Warning,
                    QStringLiteral("Ostrapel"), text, QMessageBox::Ok, owner);
    box.exec();
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (batchActive_) {
        // The batch finishes first; the window closes once its report has been seen.
        closeWhenBatchEnds_ = true;
        event->ignore();
        return;
    }
    ClearWorkFolder();
    event->accept();
}

void frmMain::ClearWorkFolder() {
    if (!appDir_.empty()) {
        (void)ostrapel::ClearWorkFolder(appDir_);
    }
}
