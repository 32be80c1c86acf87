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
#include <functional>

Q_DECLARE_METATYPE(ostrapel::RestoreResult)

using guitest::Control;
using testsupport::EncipheredSave;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::WriteFile;

namespace {

constexpr int kTimeoutMs = 60000;

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
            {name(i), false, reason(i), set + "/original-" + std::to_string(i + 1)});
    }
    for (const char* restored : {"profile.sav", "slot1.sav"}) {
        result.files.push_back({restored, true, {}, {}});
    }
    result.restoredCount = 2;
    result.report = ostrapel::ComposeRestoreReport(result.files);
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
    void nothingToUndoLeavesTheMenuDisabled() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture);
        frmMain& window = fixture.open();
        std::unique_ptr<QMenu> menu = window.CreateFileListMenu();
        QVERIFY(!RestoreAction(*menu)->isEnabled());
        fixture.listSaves();
        menu = window.CreateFileListMenu();
        QVERIFY(!RestoreAction(*menu)->isEnabled());
        QCOMPARE(RestoreAction(*menu)->text(),
                 QStringLiteral("Restore saves as they were before the last conversion"));
        // Asked anyway: says so, with the warning icon, and touches nothing.
        QSignalSpy ended(&window, &frmMain::restoreFinished);
        window.RestoreSaves();
        QVERIFY(ended.wait(kTimeoutMs));
        QCOMPARE(fixture.log.reports.size(), std::size_t{1});
        QCOMPARE(fixture.log.reports[0].text,
                 QString::fromStdString("No conversion of " + fixture.saves + " to undo"));
        QVERIFY(!fixture.log.reports[0].allChanged);
        QVERIFY(AllOriginal(fixture));
    }

    void undoesTheLastBatchWithTheControlsLocked() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture);
        frmMain& window = fixture.open();
        QVERIFY(ConvertAll(fixture, 2));
        QVERIFY(ConvertAll(fixture, 4));
        fixture.log.reports.clear();

        const ostrapel::BackupSetListing listing =
            ostrapel::ListBackupSets(fixture.backups, fixture.saves);
        QCOMPARE(listing.sets.size(), std::size_t{2});
        std::unique_ptr<QMenu> menu = window.CreateFileListMenu();
        QAction* restore = RestoreAction(*menu);
        QVERIFY(restore->isEnabled());
        QCOMPARE(restore->text(), QStringLiteral("Restore saves as they were before ") +
                                      QString::fromStdString(
                                          ostrapel::LocalTimeText(listing.sets[0].manifest.time)));

        QSignalSpy ended(&window, &frmMain::restoreFinished);
        restore->trigger();
        // Locked until the report has been seen: no batch, no reload, no second restore.
        QVERIFY(window.batchRunning());
        QVERIFY(!Control<QPushButton>(window, "cmdOpen")->isEnabled());
        QVERIFY(!Control<QComboBox>(window, "ComboDLC")->isEnabled());
        QVERIFY(!Control<QPushButton>(window, "cmdSave")->isEnabled());
        QCOMPARE(window.cursor().shape(), Qt::BusyCursor);
        QVERIFY(!RestoreAction(*window.CreateFileListMenu())->isEnabled());
        window.RestoreSaves();
        window.ConvertSaves();
        QVERIFY(ended.wait(kTimeoutMs));
        QCOMPARE(ended.size(), 1);
        QVERIFY(!window.batchRunning());
        QVERIFY(Control<QPushButton>(window, "cmdOpen")->isEnabled());
        QVERIFY(Control<QPushButton>(window, "cmdSave")->isEnabled());
        QCOMPARE(fixture.log.reports.size(), std::size_t{1});
        QCOMPARE(fixture.log.reports[0].text, QStringLiteral("Restored 3 files"));
        QVERIFY(fixture.log.reports[0].allChanged);

        // The next restore goes back to the originals; then there is nothing left.
        RestoreAction(*window.CreateFileListMenu())->trigger();
        QVERIFY(ended.wait(kTimeoutMs));
        QVERIFY(AllOriginal(fixture));
        QVERIFY(!RestoreAction(*window.CreateFileListMenu())->isEnabled());
    }

    void aSaveWrittenSinceGivesAWarning() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture);
        frmMain& window = fixture.open();
        QVERIFY(ConvertAll(fixture, 1));
        WriteFile(fixture.saves + "/b.sav", "saved by the game");
        QSignalSpy ended(&window, &frmMain::restoreFinished);
        RestoreAction(*window.CreateFileListMenu())->trigger();
        QVERIFY(ended.wait(kTimeoutMs));
        const guitest::Report& report = fixture.log.reports.back();
        QVERIFY(!report.allChanged);
        const std::string set =
            ostrapel::ListBackupSets(fixture.backups, fixture.saves).sets[0].folder;
        QCOMPARE(report.text,
                 QString::fromStdString("Restored 2 files\n\nNot restored:\n"
                                        "1 file: changed since the conversion: b.sav\n\n"
                                        "The originals of the saves not restored are kept in " +
                                        set));
        QCOMPARE(
            report.details,
            QString::fromStdString("b.sav: changed since the conversion; its original is kept at " +
                                   ostrapel::JoinPath(set, "original-2")));
    }

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
        all.files = {{"a.sav", true, {}, {}}, {"b.sav", true, {}, {}}};
        all.restoredCount = 2;
        all.report = ostrapel::ComposeRestoreReport(all.files);

        guitest::BoxWatch watch;
        frmMain::ShowRestoreBox(&window, all);
        QVERIFY(watch.seen.has_value());
        QCOMPARE(watch.seen->text, QStringLiteral("Restored 2 files"));
        QCOMPARE(watch.seen->icon, QMessageBox::Information);
        QVERIFY(!watch.seen->detailsButton);
    }

    void theMenuIsLockedDuringABatch() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture);
        frmMain& window = fixture.open();
        QVERIFY(ConvertAll(fixture, 1));
        ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "any:sleep=100:*");
        QSignalSpy ended(&window, &frmMain::batchFinished);
        Control<QComboBox>(window, "ComboDLC")->setCurrentIndex(3);
        Control<QPushButton>(window, "cmdSave")->click();
        QVERIFY(window.batchRunning());
        QVERIFY(!RestoreAction(*window.CreateFileListMenu())->isEnabled());
        window.RestoreSaves();
        QVERIFY(ended.wait(kTimeoutMs));
        QVERIFY(RestoreAction(*window.CreateFileListMenu())->isEnabled());
    }

    // A restore cannot be cancelled: closing during one asks nothing; the window closes once
    // the report has been seen.
    void closingDuringARestoreClosesOnceItHasEnded() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture);
        frmMain& window = fixture.open();
        window.show();
        QVERIFY(ConvertAll(fixture, 1));
        QSignalSpy ended(&window, &frmMain::restoreFinished);
        window.RestoreSaves();
        QVERIFY(window.batchRunning());
        QVERIFY(!window.close());
        QCOMPARE(fixture.closing.asked, 0);
        QVERIFY(window.isVisible());
        QVERIFY(ended.wait(kTimeoutMs));
        QVERIFY(!window.isVisible());
        QCOMPARE(fixture.log.reports.back().text, QStringLiteral("Restored 3 files"));
        QVERIFY(AllOriginal(fixture));
    }

    void rightClickOnTheFileListOpensTheMenu() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture);
        frmMain& window = fixture.open();
        window.show();
        QVERIFY(ConvertAll(fixture, 1));
        QString seen;
        bool enabled = false;
        QTimer::singleShot(50, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* menu = qobject_cast<QMenu*>(widget);
                if (menu != nullptr && menu->isVisible()) {
                    seen = RestoreAction(*menu)->text();
                    enabled = RestoreAction(*menu)->isEnabled();
                    menu->close();
                }
            }
        });
        auto* list = Control<QListWidget>(window, "List");
        emit list->customContextMenuRequested(QPoint(5, 5));
        QVERIFY2(seen.startsWith(QStringLiteral("Restore saves as they were before 2")),
                 qPrintable(seen));
        QVERIFY(enabled);
        QCOMPARE(list->contextMenuPolicy(), Qt::CustomContextMenu);
    }
};

QTEST_MAIN(RestoreTest)
#include "RestoreTest.moc"
