#include "GuiTestSupport.h"
#include "conversion/Backups.h"
#include "system/Paths.h"
#include "system/UserFolders.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>

Q_DECLARE_METATYPE(ostrapel::RestoreResult)

using guitest::Control;
using testsupport::EncipheredSave;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::WriteFile;

namespace {

constexpr int kTimeoutMs = testsupport::ScaledMs(60000);

std::string Original(int index) {
    return EncipheredSave(900 + 37 * static_cast<std::size_t>(index), static_cast<unsigned>(index));
}

void WriteSaves(const guitest::WindowFixture& fixture) {
    for (int i = 0; i < 3; ++i) {
        WriteFile(fixture.saves + "/" + std::string(1, static_cast<char>('a' + i)) + ".sav",
                  Original(i));
    }
}

bool AllOriginal(const guitest::WindowFixture& fixture) {
    for (int i = 0; i < 3; ++i) {
        if (ReadFile(fixture.saves + "/" + std::string(1, static_cast<char>('a' + i)) + ".sav") !=
            Original(i)) {
            return false;
        }
    }
    return true;
}

// A restore's result with count saves left alone, their originals in the set folder, and two
// restored.
ostrapel::RestoreResult LeftAlone(int count, const std::string& set,
                                  const std::function<std::string(int)>& name,
                                  const std::function<std::string(int)>& reason) {
    ostrapel::RestoreResult result;
    result.setFolder = set;
    for (int i = 0; i < count; ++i) {
        result.files.push_back(
            {name(i), false, reason(i), set + "/original-" + std::to_string(i + 1), {}});
    }
    for (const char* restored : {"profile.sav", "slot1.sav"}) {
        result.files.push_back({restored, true, {}, {}, {}});
    }
    result.restoredCount = 2;
    FullReport(result) = ostrapel::ComposeRestoreReport(result.files);
    return result;
}

QAction* RestoreAction(QMenu& menu) {
    return menu.findChild<QAction*>(QStringLiteral("mnuRestore"));
}

// Lists the saves and converts them to the version at versionIndex, waiting for the end.
bool ConvertAll(guitest::WindowFixture& fixture, int versionIndex) {
    QSignalSpy ended(fixture.window.get(), &frmMain::batchFinished);
    fixture.listSaves();
    Control<QComboBox>(*fixture.window, "ComboDLC")->setCurrentIndex(versionIndex);
    Control<QPushButton>(*fixture.window, "cmdSave")->click();
    return ended.wait(kTimeoutMs);
}

} // namespace

class RestoreTest : public QObject {
    Q_OBJECT

private slots:
    void restoreBoxFitsTheScreen_data() {
        QTest::addColumn<ostrapel::RestoreResult>("result");
        const std::string set = "/home/player/" + std::string(180, 'd') + "/backups/5d2c/7";
        const auto numbered = [](int i) { return "slot" + std::to_string(i) + ".sav"; };
        const auto longName = [](int i) {
            std::string name = std::to_string(i) + "-";
            while (name.size() + 2 <= 255) {
                name += "\xC3\xA9"; // é
            }
            return name;
        };
        const auto writtenSince = [](int) { return std::string("changed since the conversion"); };
        const auto putBackFailed = [](int i) {
            return i % 3 == 0 ? "could not be put back: line " + std::to_string(i) + " " +
                                    std::string(300, 'x')
                              : std::string("changed since the conversion");
        };
        QTest::newRow("1,000 saves written since, their originals at long paths")
            << LeftAlone(1000, set, numbered, writtenSince);
        QTest::newRow("1,000 names of 255 bytes, 300 long reasons")
            << LeftAlone(1000, set, longName, putBackFailed);
    }

    // Whatever the saves left alone, the box and its OK button stay on the screen, with its
    // details shown as well; the text keeps its first line, the details list every save left
    // alone.
    void restoreBoxFitsTheScreen() {
        QFETCH(ostrapel::RestoreResult, result);
        guitest::WindowFixture fixture;
        frmMain& window = fixture.open();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        guitest::BoxWatch watch;
        frmMain::ShowRestoreBox(&window, result);
        const std::optional<guitest::BoxSeen>& seen = watch.seen;

        QVERIFY(seen.has_value());
        QCOMPARE(seen->format, Qt::PlainText);
        QCOMPARE(seen->icon, QMessageBox::Warning);
        QVERIFY2(seen->text.startsWith(QStringLiteral("Restored 2 files\n\nNot restored:\n")),
                 qPrintable(seen->text.left(200)));
        QCOMPARE(seen->details, QString::fromStdString(ostrapel::NotRestoredLines(result.files)));
        QCOMPARE(seen->details.split(QLatin1Char('\n')).size(), 1000);
        QVERIFY2(seen->misfit().isEmpty(), qPrintable(seen->misfit()));
    }

    void theRestoreBoxHasTheInformationIconWhenAllWereRestored() {
        guitest::WindowFixture fixture;
        frmMain& window = fixture.open();
        window.show();
        ostrapel::RestoreResult all;
        all.files = {{"a.sav", true, {}, {}, {}}, {"b.sav", true, {}, {}, {}}};
        all.restoredCount = 2;
        FullReport(all) = ostrapel::ComposeRestoreReport(all.files);

        guitest::BoxWatch watch;
        frmMain::ShowRestoreBox(&window, all);
        QVERIFY(watch.seen.has_value());
        QCOMPARE(watch.seen->text, QStringLiteral("Restored 2 files"));
        QCOMPARE(watch.seen->icon, QMessageBox::Information);
        QVERIFY(!watch.seen->detailsButton);
    }

    // A close that waited for a restore closes as the user's close does: the work folder is
    // emptied of what was left in it.
    void closingDuringARestoreEmptiesTheWorkFolder() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture);
        frmMain& window = fixture.open();
        window.show();
        QVERIFY(ConvertAll(fixture, 1));
        WriteFile(fixture.work + "left.sav", "left");
        QSignalSpy ended(&window, &frmMain::restoreFinished);
        fixture.closing.answer = true;
        RestoreAction(*window.CreateFileListMenu())->trigger();
        QVERIFY(!window.close()); // it waits for the restore
        QVERIFY(ended.wait(kTimeoutMs));
        QTRY_VERIFY(!window.isVisible());
        QVERIFY(testsupport::LeftInWorkFolder(fixture.work).empty());
        QVERIFY(AllOriginal(fixture));
    }

    // The menu's item reaches the window model: the saves get their originals back.
    void rightClickOnTheFileListOpensTheMenu() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture);
        frmMain& window = fixture.open();
        window.show();
        QVERIFY(ConvertAll(fixture, 1));
        QString seen;
        bool enabled = false;
        bool active = false;
        const auto look = [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* menu = qobject_cast<QMenu*>(widget);
                if (menu != nullptr && menu->isVisible()) {
                    seen = RestoreAction(*menu)->text();
                    enabled = RestoreAction(*menu)->isEnabled();
                    active = menu->activeAction() == RestoreAction(*menu);
                    menu->close();
                }
            }
        };
        auto* list = Control<QListWidget>(window, "List");
        // Opened by a key, the newest item has the cursor: a screen reader announces it.
        QTimer::singleShot(50, look);
        QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
        QVERIFY(active);
        QTimer::singleShot(50, look);
        emit list->customContextMenuRequested(QPoint(5, 5));
        QVERIFY(!active);
        QVERIFY2(seen.startsWith(QStringLiteral("&1 Back to ")), qPrintable(seen));
        QVERIFY(enabled);
        QCOMPARE(list->contextMenuPolicy(), Qt::CustomContextMenu);

        QSignalSpy ended(&window, &frmMain::restoreFinished);
        fixture.closing.answer = true;
        RestoreAction(*window.CreateFileListMenu())->trigger();
        QCOMPARE(fixture.closing.asked, 1);
        QVERIFY(window.batchRunning());
        QVERIFY(ended.wait(kTimeoutMs));
        QVERIFY(fixture.log.reports.back().text.startsWith(
            QStringLiteral("Restored 3 files as they were before 2")));
        QVERIFY(AllOriginal(fixture));
    }
};

QTEST_MAIN(RestoreTest)
#include "RestoreTest.moc"
