// frmMain's controls: built, placed where the window's layout puts them, named and painted.

#include "Drawing.h"
#include "Pictures.h"
#include "QtText.h"
#include "WindowAccessible.h"
#include "frmMain.h"

#include <QAccessible>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <algorithm>
#include <array>

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int kLabelGap = 2;

QRect Twips(int left, int top, int width, int height) {
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                 height / kTwipsPerPixel);
}

} // namespace

void frmMain::CreateControls() {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(WindowAccessibleFactory);
        return true;
    }();
    (void)factoryInstalled;
    setObjectName(QStringLiteral("frmMain"));
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

    QStyle* frames = NewGroupBoxStyle(this);
    QStyle* focusCue = NewFocusCueStyle(this);

    GroupBox1 = new QGroupBox(Words(ostrapel::kFrameTitle), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(Twips(120, 120, 7935, 2535));
    GroupBox1->setStyle(frames);
    GroupBox1->setAccessibleName(GroupBox1->title());
    PaintWhite(GroupBox1);

    cmdSave = new QPushButton(Words(ostrapel::kApplyText), GroupBox1);
    cmdSave->setObjectName(QStringLiteral("cmdSave"));
    cmdSave->setStyle(focusCue);
    cmdSave->setGeometry(Twips(120, 2040, 2655, 375));
    cmdSave->setEnabled(false);

    GroupBox2 = new QGroupBox(Words(ostrapel::kListTitle), GroupBox1);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(Twips(3000, 240, 1815, 2175));
    GroupBox2->setStyle(frames);
    PaintWhite(GroupBox2);

    List = new QListWidget(GroupBox2);
    List->setObjectName(QStringLiteral("List"));
    List->setGeometry(Twips(120, 240, 1575, 1815));
    List->setSelectionMode(QAbstractItemView::SingleSelection);
    List->setAccessibleName(Plain(ostrapel::kListTitle));
    List->setStyle(focusCue);
    List->setItemDelegate(NewVersionDelegate(List));
    // Rows as wide as the list, names cut short with the full name in the tooltip: a long
    // list lays out at once, however often versions arrive.
    List->setUniformItemSizes(true);
    // The window model fits the frame's caption and the rows with one measure, the list's font:
    // the caption is drawn in it too, whatever fonts the desktop gives frames and lists.
    GroupBox2->setFont(List->font());

    ComboDLC = new QComboBox(GroupBox1);
    ComboDLC->setObjectName(QStringLiteral("ComboDLC"));
    ComboDLC->setGeometry(Twips(120, 1440, 2655, 315));
    ComboDLC->setEditable(false);
    // TRANSLATORS: what a screen reader calls the version list: its label without the colon.
    const QString versionListName = Words(N_("Select DLC Version"));
    ComboDLC->setAccessibleName(versionListName);
    ComboDLC->setStyle(focusCue);
    ComboDLC->view()->setAccessibleName(versionListName);

    cmdOpen = new QPushButton(GroupBox1);
    cmdOpen->setObjectName(QStringLiteral("cmdOpen"));
    cmdOpen->setGeometry(Twips(120, 360, 615, 495));
    cmdOpen->setIcon(QIcon(pictures::OpenFolder()));
    cmdOpen->setIconSize(QSize(32, 32));
    cmdOpen->setAccessibleName(Plain(ostrapel::kOpenLabel));
    cmdOpen->setToolTip(Plain(ostrapel::kOpenLabel));
    // Not the tooltip again, which a screen reader would say after the name.
    cmdOpen->setAccessibleDescription(Words(N_("Choose the folder your saves are in")));
    cmdOpen->setStyle(focusCue);

    Image1 = new QLabel(GroupBox1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(Twips(4920, 240, 2940, 2100));
    Image1->setPixmap(pictures::Logo());
    Image1->setScaledContents(true);
    Image1->setAccessibleName(Words(N_("Ostrapel logo")));

    const QFont labelFont = LabelFont();
    const std::array<std::pair<QString, QRect>, 2> labels{{
        {Words(ostrapel::kOpenLabel), Twips(840, 360, 1965, 195)},
        {Words(ostrapel::kVersionLabel), Twips(120, 1080, 1785, 195)},
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
    // The labels' access keys: Alt+O presses the open button, Alt+V goes to the versions.
    lbl[0]->setBuddy(cmdOpen);
    lbl[1]->setBuddy(ComboDLC);
    // The open button says its label's words itself: the label is not read out again.
    lbl[0]->setProperty(kSaidByItsControl, true);

    setTabOrder(cmdOpen, ComboDLC);
    setTabOrder(ComboDLC, List);
    setTabOrder(List, cmdSave);

    setFixedSize(Twips(0, 0, 8130, 2700).size());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));
    }
}
