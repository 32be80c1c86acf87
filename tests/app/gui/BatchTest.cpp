#include "GuiTestSupport.h"
#include "conversion/ConvertSaves.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>

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

bool Converted(const guitest::WindowFixture& fixture, int index, int value) {
    const std::string name(1, static_cast<char>('a' + index));
    return ReadFile(fixture.saves + "/" + name + ".sav") ==
           ConvertedSave(900 + 37 * static_cast<std::size_t>(index), static_cast<unsigned>(index),
                         value);
}

bool WorkFolderEmpty(const guitest::WindowFixture& fixture) {
    return std::filesystem::is_empty(fixture.work);
}

// Lists the saves, picks a version and presses the save button.
void StartBatch(guitest::WindowFixture& fixture, int versionIndex) {
    fixture.listSaves();
    Control<QComboBox>(*fixture.window, "ComboDLC")->setCurrentIndex(versionIndex);
    Control<QPushButton>(*fixture.window, "cmdSave")->click();
}

} // namespace

class BatchTest : public QObject {
    Q_OBJECT

private slots:
    void convertsEverySaveAndReports() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture);
        frmMain& window = fixture.open();
        QSignalSpy ended(&window, &frmMain::batchFinished);
        auto* list = Control<QListWidget>(window, "List");
        QSignalSpy rows(list, &QListWidget::currentRowChanged);

        StartBatch(fixture, 2);
        rows.clear(); // the listing's own selection
        QVERIFY(ended.wait(kBatchTimeoutMs));

        for (int i = 0; i < 3; ++i) {
            QVERIFY2(Converted(fixture, i, 200), qPrintable(QString::number(i)));
        }
        QCOMPARE(fixture.log.reports.size(), std::size_t{1});
        QCOMPARE(fixture.log.reports[0].text, QStringLiteral("Changed versions DLC in 3 files"));
        QVERIFY(fixture.log.reports[0].allChanged);
        QVERIFY(WorkFolderEmpty(fixture));

        // The cursor walks down the list once per pass.
        QList<int> walked;
        for (const QList<QVariant>& row : rows) {
            walked << row.at(0).toInt();
        }
        QCOMPARE(walked, QList<int>({1, 2, 0, 1, 2, 0, 1, 2}));
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
        QVERIFY2(report.text.startsWith(QStringLiteral("Changed versions DLC in 2 files")),
                 qPrintable(report.text));
        QVERIFY(report.text.contains(QStringLiteral("b.sav")));
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
        QCOMPARE(seen[0].text, QStringLiteral("Changed versions DLC in 1 files"));
        QCOMPARE(seen[0].icon, QMessageBox::Information);

        // A refused batch: the program folder has lost its cipher tool.
        std::filesystem::remove(fixture.appDir + "Decrypt/decrypt.exe");
        Control<QPushButton>(window, "cmdSave")->click();
        QVERIFY(ended.wait(kBatchTimeoutMs));
        QCOMPARE(seen.size(), std::size_t{2});
        QCOMPARE(seen[1].icon, QMessageBox::Warning);
        QVERIFY(seen[1].text.startsWith(QStringLiteral("Changed versions DLC in 0 files")));
    }
};

QTEST_MAIN(BatchTest)
#include "BatchTest.moc"
