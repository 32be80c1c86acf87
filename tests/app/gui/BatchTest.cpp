#include "GuiTestSupport.h"
#include "conversion/ConvertSaves.h"
#include "conversion/DlcVersion.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>

Q_DECLARE_METATYPE(ostrapel::BatchResult)

using guitest::Control;
using testsupport::ConvertedSave;
using testsupport::EncipheredSave;
using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::WriteFile;

namespace {

constexpr int kBatchTimeoutMs = 60000;

// Saves a.sav, b.sav, c.sav of different sizes and seeds.
void WriteSaves(const guitest::WindowFixture& fixture, int count = 3) {
    for (int i = 0; i < count; ++i) {
        const std::string name(1, static_cast<char>('a' + i));
        WriteFile(fixture.saves + "/" + name + ".sav",
                  EncipheredSave(900 + 37 * static_cast<std::size_t>(i), static_cast<unsigned>(i)));
    }
}

// The field of the plain save a.sav, b.sav or c.sav, as the report writes it.
QString OldValue(int index) {
    const std::string plain = testsupport::PlainSave(900 + 37 * static_cast<std::size_t>(index),
                                                     static_cast<unsigned>(index));
    const auto low = static_cast<unsigned char>(plain[788]);
    const auto high = static_cast<unsigned char>(plain[789]);
    return QString::fromStdString(ostrapel::DlcValueText(
        static_cast<std::int16_t>(static_cast<std::uint16_t>(low | high << 8))));
}

bool Converted(const guitest::WindowFixture& fixture, int index, int value) {
    const std::string name(1, static_cast<char>('a' + index));
    return ReadFile(fixture.saves + "/" + name + ".sav") ==
           ConvertedSave(900 + 37 * static_cast<std::size_t>(index), static_cast<unsigned>(index),
                         value);
}

// A batch's result with count entries not changed and a few changed.
ostrapel::BatchResult FailedResult(int count, const std::function<std::string(int)>& name,
                                   const std::function<std::string(int)>& reason) {
    ostrapel::BatchResult result;
    for (int i = 0; i < count; ++i) {
        result.files.push_back({name(i), false, reason(i)});
    }
    for (const char* changed : {"profile.sav", "slot1.sav"}) {
        result.files.push_back({changed, true, {}});
    }
    result.changedCount = 2;
    result.report = ostrapel::ComposeReport(result.files);
    return result;
}

bool WorkFolderEmpty(const guitest::WindowFixture& fixture) {
    return std::filesystem::is_empty(fixture.work);
}

// Lists the saves, picks a version and presses the save button.
// Lists the saves and lets their versions be read (one decipher each), so the batch's tool
// runs follow a known beginning.
void StartBatch(guitest::WindowFixture& fixture, int versionIndex) {
    QSignalSpy read(fixture.window.get(), &frmMain::versionsRead);
    fixture.listSaves();
    if (fixture.window->readingVersions()) {
        QVERIFY(read.wait(kBatchTimeoutMs));
    }
    Control<QComboBox>(*fixture.window, "ComboDLC")->setCurrentIndex(versionIndex);
    Control<QPushButton>(*fixture.window, "cmdSave")->click();
}

} // namespace

class BatchTest : public QObject {
    Q_OBJECT

private slots:
    // The first use of a Wine prefix takes a while: the window says so while it is busy.
    void showsThatWineIsSettingUpOnTheFirstUseOfAPrefix() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture, 1);
        std::string pe(256, '\0');
        pe.replace(0, 2, "MZ");
        pe[0x3C] = 0x40;
        pe.replace(0x40, 4, std::string("PE\0\0", 4));
        WriteFile(fixture.appDir + "Decrypt/decrypt.exe", pe);
        // A Wine that takes its time and then starts nothing.
        WriteFile(fixture.root / "wine", "#!/bin/sh\nsleep 0.3\nexit 1\n");
        std::filesystem::permissions(fixture.root / "wine", std::filesystem::perms::owner_all);
        ScopedEnv wine("WINE", fixture.root / "wine");
        ScopedEnv prefix("WINEPREFIX", fixture.root / "new prefix");
        frmMain& window = fixture.open();
        QSignalSpy ended(&window, &frmMain::batchFinished);

        StartBatch(fixture, 1);
        QVERIFY(window.windowTitle().contains(QStringLiteral("Wine is setting up")));
        QCOMPARE(window.cursor().shape(), Qt::BusyCursor);
        QVERIFY(ended.wait(kBatchTimeoutMs));
        QCOMPARE(window.windowTitle(), QStringLiteral("Ostrapel by Penmorrow"));
        QCOMPARE(fixture.log.reports.size(), std::size_t{1});
        QVERIFY2(fixture.log.reports[0].text.contains(
                     QStringLiteral("cipher tool could not be started")),
                 qPrintable(fixture.log.reports[0].text));
        QVERIFY(!fixture.log.reports[0].allChanged);
    }

    void convertsEverySaveAndReports() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture);
        frmMain& window = fixture.open();
        QSignalSpy ended(&window, &frmMain::batchFinished);

        StartBatch(fixture, 2);
        QVERIFY(ended.wait(kBatchTimeoutMs));

        for (int i = 0; i < 3; ++i) {
            QVERIFY2(Converted(fixture, i, 200), qPrintable(QString::number(i)));
        }
        QCOMPARE(fixture.log.reports.size(), std::size_t{1});
        const QString report = fixture.log.reports[0].text;
        QVERIFY2(report.startsWith(QStringLiteral("Changed versions DLC in 3 files\n\nThe "
                                                  "originals are kept in ")),
                 qPrintable(report));
        QVERIFY(
            report.endsWith(QStringLiteral(" --restore ") + QString::fromStdString(fixture.saves)));
        QVERIFY(fixture.log.reports[0].allChanged);
        QVERIFY(WorkFolderEmpty(fixture));
    }

    void walksTheListInNameOrder() {
        guitest::WindowFixture fixture;
        const std::vector<std::string> names = {"Slot1.sav", "slot2.sav", "slot10.sav"};
        for (const std::string& name : {names[2], names[0], names[1]}) {
            WriteFile(fixture.saves + "/" + name,
                      EncipheredSave(800, static_cast<unsigned>(std::hash<std::string>{}(name))));
        }
        const std::string log = fixture.root / "tool.log";
        ScopedEnv logEnv("STAND_IN_CIPHER_LOG", log);
        frmMain& window = fixture.open();
        QSignalSpy ended(&window, &frmMain::batchFinished);

        StartBatch(fixture, 1);
        QVERIFY(ended.wait(kBatchTimeoutMs));

        // The versions read, then per save the encipher and the decipher that checks it: the
        // saves deciphered by the reading are not deciphered again. With several jobs the runs
        // of a phase may come in any order.
        std::vector<std::string> runs = testsupport::ReadLines(log);
        QCOMPARE(runs.size(), std::size_t{9});
        std::sort(runs.begin(), runs.begin() + 3);
        std::sort(runs.begin() + 3, runs.end());
        std::vector<std::string> expected;
        for (const std::string& name : {names[0], names[2], names[1]}) { // sorted bytewise
            expected.push_back("decrypt " + name);
        }
        for (const std::string& name : {names[0], names[2], names[1]}) {
            expected.push_back("decrypt " + name);
        }
        for (const std::string& name : {names[0], names[2], names[1]}) {
            expected.push_back("encrypt " + name);
        }
        QCOMPARE(runs, expected);
        QVERIFY(fixture.log.reports.at(0).allChanged);
    }

    // The window makes its program folder current at start-up and on every folder load; the
    // cipher tool inherits it.
    void theCipherToolRunsInTheProgramFolder() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture, 2);
        const std::string folders = fixture.root / "folders.log";
        ScopedEnv logEnv("STAND_IN_CIPHER_FOLDER_LOG", folders);
        frmMain& window = fixture.open();
        QSignalSpy ended(&window, &frmMain::batchFinished);
        QSignalSpy read(&window, &frmMain::versionsRead);
        QDir::setCurrent(QDir::rootPath());

        fixture.listSaves();
        QVERIFY(read.wait(kBatchTimeoutMs)); // the versions read: one run per save
        Control<QComboBox>(window, "ComboDLC")->setCurrentIndex(1);
        Control<QPushButton>(window, "cmdSave")->click();
        QVERIFY(ended.wait(kBatchTimeoutMs));

        const std::vector<std::string> lines = testsupport::ReadLines(folders);
        QCOMPARE(lines.size(), std::size_t{2 + 4}); // the batch deciphers no save again
        const QString appDir =
            QFileInfo(QString::fromStdString(fixture.appDir)).canonicalFilePath();
        for (const std::string& line : lines) {
            QCOMPARE(QFileInfo(QString::fromStdString(line)).canonicalFilePath(), appDir);
        }
    }

    void controlsLockedDuringTheRunAndRestoredAfter() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture, 2);
        ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "any:sleep=150:*");
        frmMain& window = fixture.open();
        window.show();
        QSignalSpy ended(&window, &frmMain::batchFinished);
        auto* open = Control<QPushButton>(window, "cmdOpen");
        auto* combo = Control<QComboBox>(window, "ComboDLC");
        auto* save = Control<QPushButton>(window, "cmdSave");
        auto* list = Control<QListWidget>(window, "List");

        StartBatch(fixture, 3);
        QVERIFY(window.batchRunning());
        QVERIFY(!open->isEnabled() && !combo->isEnabled());
        // The save button stays enabled to cancel with.
        QVERIFY(save->isEnabled());
        QCOMPARE(save->text(), QStringLiteral("Cancel"));
        QCOMPARE(window.cursor().shape(), Qt::BusyCursor);

        // Nothing reaches the running batch: no reload, no other value, no second batch.
        const int chooserCalls = fixture.chooser->calls;
        open->click();
        window.LoadFolderSave();
        combo->setCurrentIndex(0);
        window.ConvertSaves();
        QCOMPARE(fixture.chooser->calls, chooserCalls);
        QCOMPARE(list->count(), 2);
        QCOMPARE(Control<QLineEdit>(window, "txt")->text(), QStringLiteral("300"));

        QVERIFY(ended.wait(kBatchTimeoutMs));
        QVERIFY(!window.batchRunning());
        QVERIFY(open->isEnabled() && combo->isEnabled() && save->isEnabled());
        QCOMPARE(save->text(), QStringLiteral("Apply and Save"));
        QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(fixture.log.reports.size(), std::size_t{1});
        QVERIFY(Converted(fixture, 0, 300) && Converted(fixture, 1, 300));
    }

    void failureGivesAWarningAndLeavesTheSave() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture);
        ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "encrypt:exit=3:b.sav");
        fixture.open();
        QSignalSpy ended(fixture.window.get(), &frmMain::batchFinished);

        StartBatch(fixture, 1);
        QVERIFY(ended.wait(kBatchTimeoutMs));

        QVERIFY(Converted(fixture, 0, 100) && Converted(fixture, 2, 100));
        QCOMPARE(ReadFile(fixture.saves + "/b.sav"), EncipheredSave(937, 1));
        QCOMPARE(fixture.log.reports.size(), std::size_t{1});
        const guitest::Report& report = fixture.log.reports[0];
        QVERIFY(!report.allChanged);
        // The first line, then the entries not changed by reason; each of them in the details.
        const QString reason =
            QStringLiteral("cipher tool failed (exit code 3): stand-in: encrypt of b.sav failed "
                           "on purpose");
        // Then the saves changed, from their old versions, and where their originals are kept.
        QVERIFY2(report.text.startsWith(
                     QStringLiteral("Changed versions DLC in 2 files\n\nNot changed:\n"
                                    "1 file: %1: b.sav\n\nChanged:\na.sav: %2 -> 1.00\n"
                                    "c.sav: %3 -> 1.00\n\nThe originals are kept in ")
                         .arg(reason)
                         .arg(OldValue(0))
                         .arg(OldValue(2))),
                 qPrintable(report.text));
        QCOMPARE(report.details, QStringLiteral("b.sav: ") + reason);
        QVERIFY(WorkFolderEmpty(fixture));
    }

    void nonUtf8NameConverts() {
        guitest::WindowFixture fixture;
        const std::string name = "caf\xe9.sav";
        WriteFile(fixture.saves + "/" + name, EncipheredSave(1000, 9));
        fixture.open();
        QSignalSpy ended(fixture.window.get(), &frmMain::batchFinished);

        StartBatch(fixture, 4);
        QVERIFY(ended.wait(kBatchTimeoutMs));

        QCOMPARE(ReadFile(fixture.saves + "/" + name), ConvertedSave(1000, 9, 400));
        QVERIFY(fixture.log.reports.at(0).allChanged);
    }

    void emptyListReportsNoFiles() {
        guitest::WindowFixture fixture;
        frmMain& window = fixture.open();
        QSignalSpy ended(&window, &frmMain::batchFinished);
        StartBatch(fixture, 0);
        QVERIFY(ended.wait(kBatchTimeoutMs));
        QCOMPARE(fixture.log.reports.at(0).text, QStringLiteral("Changed versions DLC in 0 files"));
    }

    // Without a known program folder nothing may run relative to wherever the window was
    // started, and no work folder there may be emptied.
    void noProgramFolderRefusesTheBatch() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture);
        const std::string keep = fixture.work + "keep.sav";
        WriteFile(keep, "someone else's");
        ScopedEnv log("STAND_IN_CIPHER_LOG", fixture.root / "tool.log");
        const std::string before = QDir::currentPath().toStdString();
        QDir::setCurrent(QString::fromStdString(fixture.appDir));
        fixture.window = std::make_unique<frmMain>(std::string(), fixture.chooser);
        fixture.window->setReportPresenter(fixture.log.presenter());
        QSignalSpy ended(fixture.window.get(), &frmMain::batchFinished);
        StartBatch(fixture, 2);
        QVERIFY(ended.wait(kBatchTimeoutMs));
        QDir::setCurrent(QString::fromStdString(before));

        QCOMPARE(fixture.log.reports.size(), std::size_t{1});
        QVERIFY(
            fixture.log.reports[0].text.contains(QString::fromLatin1(ostrapel::kNoProgramFolder)));
        QVERIFY(!fixture.log.reports[0].allChanged);
        QVERIFY(!Exists(fixture.root / "tool.log"));
        QCOMPARE(ReadFile(keep), std::string("someone else's"));
        for (int i = 0; i < 3; ++i) {
            QVERIFY(!Converted(fixture, i, 200));
        }
    }

    // Declining to cancel keeps the window and lets the batch finish.
    void closingDuringABatchAndDecliningKeepsBoth() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture, 2);
        ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "any:sleep=200:*");
        frmMain& window = fixture.open();
        window.show();
        QSignalSpy ended(&window, &frmMain::batchFinished);

        StartBatch(fixture, 2);
        QTRY_VERIFY_WITH_TIMEOUT(Exists(fixture.work + "a.sav"), kBatchTimeoutMs);
        fixture.closing.answer = false;
        QVERIFY(!window.close());
        QCOMPARE(fixture.closing.asked, 1);
        QVERIFY(window.isVisible());
        QVERIFY(Exists(fixture.work + "a.sav")); // not cleared under the batch

        QVERIFY(ended.wait(kBatchTimeoutMs));
        QTest::qWait(50);
        QVERIFY(window.isVisible());
        QVERIFY(Converted(fixture, 0, 200) && Converted(fixture, 1, 200));
        QCOMPARE(fixture.log.reports.size(), std::size_t{1});
        QVERIFY(WorkFolderEmpty(fixture));
    }

    void reportBoxTitleAndIcon() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture, 1);
        frmMain& window = fixture.open();
        window.setReportPresenter(&frmMain::ShowReportBox);
        window.show();
        QSignalSpy ended(&window, &frmMain::batchFinished);

        struct Seen {
            QString title;
            QString text;
            QMessageBox::Icon icon = QMessageBox::NoIcon;
        };
        std::vector<Seen> seen;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&seen] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen.push_back({box->windowTitle(), box->text(), box->icon()});
                box->accept();
            }
        });
        closer.start(10);

        StartBatch(fixture, 2);
        QVERIFY(ended.wait(kBatchTimeoutMs));
        QCOMPARE(seen.size(), std::size_t{1});
        QCOMPARE(seen[0].title, QStringLiteral("Ostrapel"));
        QVERIFY(seen[0].text.startsWith(QStringLiteral("Changed versions DLC in 1 files\n\n")));
        QCOMPARE(seen[0].icon, QMessageBox::Information);

        // A refused batch: the program folder has lost its cipher tool.
        std::filesystem::remove(fixture.appDir + "Decrypt/decrypt.exe");
        Control<QPushButton>(window, "cmdSave")->click();
        QVERIFY(ended.wait(kBatchTimeoutMs));
        QCOMPARE(seen.size(), std::size_t{2});
        QCOMPARE(seen[1].icon, QMessageBox::Warning);
        QVERIFY(seen[1].text.startsWith(QStringLiteral("Changed versions DLC in 0 files")));
    }

    void reportBoxFitsTheScreen_data() {
        QTest::addColumn<ostrapel::BatchResult>("result");
        const auto numbered = [](const char* stem) {
            return [stem](int i) { return stem + std::to_string(i + 1) + ".png"; };
        };
        const auto same = [](const char* reason) {
            return [reason](int) { return std::string(reason); };
        };
        const auto toolSaid = [](int i) {
            return "cipher tool failed (exit code 1): line " + std::to_string(i) + " " +
                   std::string(300, 'x');
        };
        const auto longName = [](int i) {
            std::string name = std::to_string(i) + "-";
            while (name.size() + 2 <= 255) {
                name += "\xC3\xA9"; // é
            }
            return name;
        };
        QTest::newRow("60 screenshots")
            << FailedResult(60, numbered("screenshot_"), same("cipher tool failed (exit code 3)"));
        QTest::newRow("1,000 failures for one reason")
            << FailedResult(1000, numbered("shot_"), same("cipher tool failed (exit code 3)"));
        QTest::newRow("1,000 failures for 1,000 long reasons")
            << FailedResult(1000, numbered("shot_"), toolSaid);
        QTest::newRow("a 255-character name") << FailedResult(
            1, [](int) { return std::string(255, 'n'); }, toolSaid);
        QTest::newRow("1,000 names of 255 bytes") << FailedResult(1000, longName, toolSaid);
        ostrapel::BatchResult farBackups =
            FailedResult(60, numbered("screenshot_"), same("cipher tool failed (exit code 3)"));
        farBackups.saveFolder = "/home/player/" + std::string(200, 's');
        farBackups.backupSet = "/home/player/" + std::string(200, 'b') + "/0000000001";
        QTest::newRow("originals kept in a folder of 224 characters") << farBackups;
    }

    // Whatever the entries not changed, the box and its OK button stay on the screen, with its
    // details shown as well; the details list every one of them.
    void reportBoxFitsTheScreen() {
        QFETCH(ostrapel::BatchResult, result);
        guitest::WindowFixture fixture;
        frmMain& window = fixture.open();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        guitest::BoxWatch watch;
        frmMain::ShowReportBox(&window, result);
        const std::optional<guitest::BoxSeen>& seen = watch.seen;

        QVERIFY(seen.has_value());
        QCOMPARE(seen->format, Qt::PlainText);
        QVERIFY(seen->text.startsWith(QStringLiteral("Changed versions DLC in 2 files\n")));
        const qsizetype notChanged = static_cast<qsizetype>(result.files.size()) - 2;
        QCOMPARE(seen->details.split(QLatin1Char('\n')).size(), notChanged);
        QVERIFY2(seen->misfit().isEmpty(), qPrintable(seen->misfit()));
    }
};

QTEST_MAIN(BatchTest)
#include "BatchTest.moc"
