#include "GuiTestSupport.h"
#include "conversion/Backups.h"
#include "system/UserFolders.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

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
        QVERIFY2(report.text.startsWith(QStringLiteral("Restored 2 files\n\nNot restored:\nb.sav: "
                                                       "changed since the conversion")),
                 qPrintable(report.text));
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
