#include "GuiTestSupport.h"
#include "Pictures.h"
#include "RestoreChoices.h"
#include "conversion/DlcVersion.h"
#include "system/FileSystem.h"
#include "system/Wine.h"

#include <QAccessible>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <initializer_list>
#include <utility>
#include <vector>

using guitest::Control;
using testsupport::Exists;
using testsupport::MakeDir;
using testsupport::WriteFile;

namespace {

QString Canonical(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).canonicalFilePath();
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void startUpState() {
        guitest::WindowFixture fixture;
        WriteFile(fixture.work + "left-over.sav", "stale");
        WriteFile(fixture.work + "left-over.sav.backup", "stale");
        MakeDir(fixture.work + "kept");
        WriteFile(fixture.work + "kept/inner", "x");
        QDir::setCurrent(QDir::rootPath());

        frmMain& window = fixture.open();

        QCOMPARE(window.windowTitle(), QStringLiteral("Ostrapel by Penmorrow"));
        auto* combo = Control<QComboBox>(window, "ComboDLC");
        QVERIFY(combo != nullptr);
        QStringList labels;
        for (int i = 0; i < combo->count(); ++i) {
            labels << combo->itemText(i);
        }
        QCOMPARE(labels, QStringList({"0.00", "1.00", "2.00", "3.00", "4.00"}));
        QCOMPARE(combo->currentText(), QString());
        QCOMPARE(combo->currentIndex(), -1);
        QVERIFY(!combo->isEditable());
        QCOMPARE(Control<QLineEdit>(window, "txt")->text(), QStringLiteral("400"));
        QVERIFY(!Control<QPushButton>(window, "cmdSave")->isEnabled());
        QVERIFY(Control<QPushButton>(window, "cmdOpen")->isEnabled());
        QCOMPARE(Control<QListWidget>(window, "List")->count(), 0);

        QVERIFY(!Exists(fixture.work + "left-over.sav"));
        QVERIFY(!Exists(fixture.work + "left-over.sav.backup"));
        QVERIFY(Exists(fixture.work + "kept/inner"));
        QCOMPARE(QDir::current().canonicalPath(), Canonical(fixture.appDir));
    }

    void layoutAndAccessibility() {
        guitest::WindowFixture fixture;
        frmMain& window = fixture.open();
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        QCOMPARE(window.size(), QSize(542, 180));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));

        // Twips at 15 to the pixel, relative to each control's container.
        QCOMPARE(Control<QGroupBox>(window, "GroupBox1")->geometry(), QRect(8, 8, 529, 169));
        QCOMPARE(Control<QGroupBox>(window, "GroupBox2")->geometry(), QRect(200, 16, 121, 145));
        QCOMPARE(Control<QListWidget>(window, "List")->geometry(), QRect(8, 16, 105, 121));
        QCOMPARE(Control<QComboBox>(window, "ComboDLC")->geometry(), QRect(8, 96, 177, 21));
        QCOMPARE(Control<QPushButton>(window, "cmdSave")->geometry(), QRect(8, 136, 177, 25));
        QCOMPARE(Control<QPushButton>(window, "cmdOpen")->geometry(), QRect(8, 24, 41, 33));
        QCOMPARE(Control<QLabel>(window, "Image1")->geometry(), QRect(328, 16, 196, 140));
        QCOMPARE(Control<QPushButton>(window, "cmdSave")->text(),
                 QStringLiteral("&Apply and Save"));
        QCOMPARE(Control<QGroupBox>(window, "GroupBox1")->title(),
                 QStringLiteral("Open Folder save"));
        QCOMPARE(Control<QGroupBox>(window, "GroupBox2")->title(), QStringLiteral("&File List"));
        QCOMPARE(Control<QGroupBox>(window, "EP")->title(), QStringLiteral("EditPanel"));

        const QList<QLabel*> labels = window.findChildren<QLabel*>(QStringLiteral("lbl"));
        QCOMPARE(labels.size(), 2);
        for (QLabel* label : labels) {
            const bool first = label->property("index").toInt() == 0;
            QCOMPARE(label->text(), first ? QStringLiteral("&Open Your save Folder")
                                          : QStringLiteral("Select DLC &Version :"));
            QVERIFY(label->font().bold());
            QCOMPARE(label->font().pointSizeF(), 8.25);
            QVERIFY2(label->width() >= label->sizeHint().width(), "caption clipped");
            QCOMPARE(label->pos(), first ? QPoint(56, 24) : QPoint(8, 72));
            QVERIFY(label->geometry().right() < Control<QGroupBox>(window, "GroupBox2")->x());
        }

        auto* ep = Control<QGroupBox>(window, "EP");
        auto* txt = Control<QLineEdit>(window, "txt");
        QVERIFY(ep->geometry().top() >= window.height());
        QVERIFY(!ep->isVisible() && !txt->isVisible());
        QCOMPARE(txt->focusPolicy(), Qt::NoFocus);

        auto* open = Control<QPushButton>(window, "cmdOpen");
        QVERIFY(open->text().isEmpty());
        QVERIFY(!open->icon().isNull());
        QCOMPARE(open->accessibleName(), QStringLiteral("Open Your save Folder"));
        QCOMPARE(open->toolTip(), QStringLiteral("Open Your save Folder"));

        // Tab walks the four controls a user works with, and never into txt.
        fixture.listSaves();
        Control<QComboBox>(window, "ComboDLC")->setCurrentIndex(1);
        open->setFocus();
        QStringList visited;
        for (int i = 0; i < 4; ++i) {
            visited << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(visited, QStringList({"cmdOpen", "ComboDLC", "List", "cmdSave"}));
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("cmdOpen"));
    }

    // Enter presses the focused button; the access keys reach their controls; Shift+F10 and the
    // Menu key open the list's menu; the control with the focus shows it.
    void keyboard() {
        guitest::WindowFixture fixture;
        frmMain& window = fixture.open();
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto* open = Control<QPushButton>(window, "cmdOpen");
        auto* combo = Control<QComboBox>(window, "ComboDLC");
        auto* list = Control<QListWidget>(window, "List");
        auto* save = Control<QPushButton>(window, "cmdSave");

        fixture.chooser->willAnswer(std::nullopt);
        fixture.chooser->willAnswer(fixture.saves); // Apply needs a folder listed
        open->setFocus();
        QTest::keyClick(open, Qt::Key_Return);
        QTRY_COMPARE(fixture.chooser->calls, 1);
        QTest::keyClick(&window, Qt::Key_O, Qt::AltModifier);
        QTRY_COMPARE(fixture.chooser->calls, 2);
        QTest::keyClick(&window, Qt::Key_V, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), combo);
        QTest::keyClick(&window, Qt::Key_F, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), list);

        QStringList menus;
        for (const auto& [key, modifiers] :
             {std::pair{Qt::Key_F10, Qt::ShiftModifier}, std::pair{Qt::Key_Menu, Qt::NoModifier}}) {
            QTimer::singleShot(50, [&menus] {
                if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                    // As a screen reader has it: a pop-up menu with its item.
                    QAccessibleInterface* read = QAccessible::queryAccessibleInterface(menu);
                    if (read->role() == QAccessible::PopupMenu && read->childCount() == 1) {
                        menus << read->child(0)->text(QAccessible::Name);
                    }
                    menu->close();
                }
            });
            QTest::keyClick(list, key, modifiers);
        }
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus[0], QString::fromUtf8(ostrapel::kNothingToRestore));

        // Focused or not, as drawn: the cue in the highlight colour at the control's edge.
        combo->setCurrentIndex(1);
        const QColor cue = window.palette().color(QPalette::Active, QPalette::Highlight);
        for (QWidget* control : std::initializer_list<QWidget*>{open, combo, list, save}) {
            const auto edge = [control] {
                return control->grab().toImage().pixelColor(1, control->height() / 2);
            };
            control->setFocus();
            QCOMPARE(edge(), cue);
            window.setFocus();
            QVERIFY2(edge() != cue, qPrintable(control->objectName()));
        }

        QSignalSpy ended(&window, &frmMain::batchFinished);
        QTest::keyClick(&window, Qt::Key_A, Qt::AltModifier);
        QVERIFY(ended.wait(testsupport::ScaledMs(60000)));
    }

    // White, as drawn: around the frames, inside them and in their title rows.
    // On a dark theme (light text) the window keeps the theme's background rather than paint
    // white behind light words.
    void aDarkThemeKeepsItsBackground() {
        const QPalette before = QApplication::palette();
        QPalette dark = before;
        dark.setColor(QPalette::Window, QColor(32, 35, 38));
        dark.setColor(QPalette::WindowText, QColor(252, 252, 252));
        QApplication::setPalette(dark);
        {
            guitest::WindowFixture fixture;
            frmMain& window = fixture.open();
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            const QImage picture = window.grab().toImage();
            QCOMPARE(picture.pixelColor(QPoint(2, 2) * picture.devicePixelRatio()),
                     QColor(32, 35, 38));
            for (const char* frame : {"GroupBox1", "GroupBox2"}) {
                const QPalette& palette = Control<QGroupBox>(window, frame)->palette();
                QVERIFY2(palette.color(QPalette::Window) != QColor(Qt::white), frame);
            }
        }
        QApplication::setPalette(before);
    }

    void whiteBackground() {
        guitest::WindowFixture fixture;
        frmMain& window = fixture.open();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QImage picture = window.grab().toImage();
        const qreal ratio = picture.devicePixelRatio();
        const auto colourAt = [&](QWidget* widget, QPoint local) {
            const QPoint at = widget->mapTo(&window, local) * ratio;
            return picture.pixelColor(at);
        };
        auto* box1 = Control<QGroupBox>(window, "GroupBox1");
        auto* box2 = Control<QGroupBox>(window, "GroupBox2");
        auto* list = Control<QListWidget>(window, "List");
        const auto middleRight = [](QWidget* outer, QWidget* inner) {
            return QPoint((inner->geometry().right() + outer->width()) / 2, inner->y() + 40);
        };
        const std::vector<std::pair<QString, QColor>> seen = {
            {"window, top left", colourAt(&window, QPoint(2, 2))},
            {"window, bottom right",
             colourAt(&window, QPoint(window.width() - 2, window.height() - 2))},
            {"Open Folder save, title row", colourAt(box1, QPoint(box2->x() + 40, 3))},
            {"Open Folder save, between the version list and the save button",
             colourAt(box1, QPoint(100, 126))},
            {"File List, title row", colourAt(box2, QPoint(box2->width() - 20, 3))},
            {"File List, right of the list", colourAt(box2, middleRight(box2, list))},
        };
        for (const auto& [where, colour] : seen) {
            QVERIFY2(colour == QColor(Qt::white),
                     qPrintable(where + QStringLiteral(": ") + colour.name()));
        }
        // The frames are still drawn.
        bool frameSeen = false;
        for (int y = 0; y < box2->height() / 2; ++y) {
            frameSeen = frameSeen || colourAt(box2, QPoint(box2->width() - 20, y)).value() < 230;
        }
        QVERIFY(frameSeen);
        for (QWidget* white : std::initializer_list<QWidget*>{&window, box1, box2}) {
            QCOMPARE(white->palette().color(QPalette::Window), QColor(Qt::white));
            QVERIFY(white->autoFillBackground());
        }
    }

    void centredOnTheScreenAtStart() {
        guitest::WindowFixture fixture;
        frmMain& window = fixture.open();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QRect screen = window.screen()->availableGeometry();
        const QPoint offCentre = window.frameGeometry().center() - screen.center();
        QVERIFY2(
            std::abs(offCentre.x()) <= 1 && std::abs(offCentre.y()) <= 1,
            qPrintable(
                QStringLiteral("%1, %2 off the centre").arg(offCentre.x()).arg(offCentre.y())));
    }

    void pictures() {
        const QIcon icon = pictures::WindowIcon();
        for (int side : {16, 32, 48}) {
            QVERIFY2(icon.availableSizes().contains(QSize(side, side)),
                     qPrintable(QString::number(side)));
        }
        const QImage folder = pictures::OpenFolder().toImage();
        QCOMPARE(folder.size() / folder.devicePixelRatio(), QSize(32, 32));
        QCOMPARE(folder.pixelColor(0, 0).alpha(), 0); // transparent background
        QCOMPARE(pictures::Logo().size() / pictures::Logo().devicePixelRatio(), QSize(180, 180));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("missing.svg"));
        QVERIFY(pictures::Render(QStringLiteral(":/ostrapel/missing.svg"), QSize(8, 8)).isNull());
    }

    void versionSelection() {
        guitest::WindowFixture fixture;
        frmMain& window = fixture.open();
        auto* combo = Control<QComboBox>(window, "ComboDLC");
        auto* txt = Control<QLineEdit>(window, "txt");
        auto* save = Control<QPushButton>(window, "cmdSave");

        combo->setCurrentIndex(2);
        QCOMPARE(txt->text(), QStringLiteral("200"));
        QVERIFY(!save->isEnabled()); // no folder listed yet
        combo->setCurrentIndex(0);
        QCOMPARE(txt->text(), QStringLiteral("0"));

        // An empty text matches nothing: txt keeps its value.
        combo->setCurrentIndex(-1);
        QCOMPARE(txt->text(), QStringLiteral("0"));
    }

    void pickingFromTheListRunsTheSelection() {
        guitest::WindowFixture fixture;
        frmMain& window = fixture.open();
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto* combo = Control<QComboBox>(window, "ComboDLC");
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);
        QVERIFY(!combo->currentText().isEmpty());
        const auto value = ostrapel::DlcVersionTable::LookUp(combo->currentText().toStdString());
        QVERIFY(value.has_value());
        QCOMPARE(Control<QLineEdit>(window, "txt")->text(), QString::number(*value));
    }

    void closingClearsTheWorkFolder() {
        guitest::WindowFixture fixture;
        frmMain& window = fixture.open();
        window.show();
        WriteFile(fixture.work + "a.sav", "work copy");
        MakeDir(fixture.work + "kept");
        QVERIFY(window.close());
        QVERIFY(!Exists(fixture.work + "a.sav"));
        QVERIFY(Exists(fixture.work + "kept"));
        QVERIFY(fixture.log.reports.empty());
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
