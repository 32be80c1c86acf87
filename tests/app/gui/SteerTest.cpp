// Seeing and steering from the window: versions beside the names, progress, cancel by button,
// Esc or closing, drag and drop, and the report with old -> new.

#include "GuiTestSupport.h"
#include "conversion/ConvertSaves.h"

#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QGroupBox>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <sys/stat.h>

using guitest::Control;
using guitest::Items;
using testsupport::ConvertedSave;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::WriteFile;

namespace {

constexpr int kTimeoutMs = 60000;
constexpr std::size_t kSize = 1000;

void WriteSave(const guitest::WindowFixture& fixture, const std::string& name, int value) {
    WriteFile(fixture.saves + "/" + name,
              ConvertedSave(kSize, static_cast<unsigned>(name[0]), value));
}

bool Holds(const guitest::WindowFixture& fixture, const std::string& name, int value) {
    return ReadFile(fixture.saves + "/" + name) ==
           ConvertedSave(kSize, static_cast<unsigned>(name[0]), value);
}

// Each listed row's version as the window shows it, by name.
QMap<QString, QString> Versions(QListWidget* list) {
    QMap<QString, QString> versions;
    for (int row = 0; row < list->count(); ++row) {
        const QListWidgetItem* item = list->item(row);
        versions[QString::fromUtf8(item->data(frmMain::kNameRole).toByteArray())] =
            item->data(frmMain::kVersionRole).toString();
    }
    return versions;
}

std::int64_t ModifiedNs(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
}

// Drags path over the window and drops it; whether the window took the drag and the drop.
std::pair<bool, bool> DragAndDrop(QWidget& window, const QString& path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    const QPoint at = window.rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    return {enter.isAccepted(), drop.isAccepted()};
}

// Lists the save folder and waits until its versions have been read.
void ListAndRead(guitest::WindowFixture& fixture) {
    QSignalSpy read(fixture.window.get(), &frmMain::versionsRead);
    fixture.listSaves();
    QVERIFY(read.wait(kTimeoutMs));
}

// Whether the stand-in tool has logged a run.
bool Ran(const std::string& log, const std::string& run) {
    const std::vector<std::string> runs = testsupport::ReadLines(log);
    return std::find(runs.begin(), runs.end(), run) != runs.end();
}

void StartBatch(guitest::WindowFixture& fixture, int versionIndex) {
    Control<QComboBox>(*fixture.window, "ComboDLC")->setCurrentIndex(versionIndex);
    Control<QPushButton>(*fixture.window, "cmdSave")->click();
}

} // namespace

class SteerTest : public QObject {
    Q_OBJECT

private slots:
    void versionsAreShownBesideTheNames() {
        guitest::WindowFixture fixture;
        WriteSave(fixture, "zero.sav", 0);
        WriteSave(fixture, "one.sav", 100);
        WriteSave(fixture, "three.sav", 300);
        WriteSave(fixture, "odd.sav", 250);
        WriteFile(fixture.saves + "/plain.sav", "not enciphered");
        const std::int64_t before = ModifiedNs(fixture.saves + "/one.sav");
        frmMain& window = fixture.open();
        QSignalSpy read(&window, &frmMain::versionsRead);

        fixture.listSaves();
        QVERIFY(read.wait(kTimeoutMs));

        auto* list = Control<QListWidget>(window, "List");
        const QMap<QString, QString> expected{{"zero.sav", "0.00"},
                                              {"one.sav", "1.00"},
                                              {"three.sav", "3.00"},
                                              {"odd.sav", "250"},
                                              {"plain.sav", "?"}};
        QCOMPARE(Versions(list), expected);
        for (int row = 0; row < list->count(); ++row) {
            const QListWidgetItem* item = list->item(row);
            const QString name = QString::fromUtf8(item->data(frmMain::kNameRole).toByteArray());
            QCOMPARE(item->text(), name + "   " + expected[name]);
        }
        QVERIFY(Holds(fixture, "one.sav", 100));
        QCOMPARE(ModifiedNs(fixture.saves + "/one.sav"), before);
        QVERIFY(std::filesystem::is_empty(fixture.work));
        QVERIFY(!window.readingVersions());
    }

    void nothingIsReadWithoutTheCipherTool() {
        guitest::WindowFixture fixture(false);
        WriteSave(fixture, "a.sav", 100);
        frmMain& window = fixture.open();
        fixture.listSaves();
        QVERIFY(!window.readingVersions());
        QTest::qWait(50);
        QCOMPARE(Control<QListWidget>(window, "List")->item(0)->text(), QStringLiteral("a.sav"));
    }

    // Another folder stops the reading of the first; a batch stops it and still gets the
    // work folder.
    void readingStopsForAnotherFolderAndForABatch() {
        guitest::WindowFixture fixture;
        WriteSave(fixture, "a.sav", 100);
        WriteSave(fixture, "b.sav", 100);
        const std::string other = fixture.root / "other";
        testsupport::MakeDir(other);
        WriteFile(other + "/c.sav", ConvertedSave(kSize, 'c', 300));
        ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "decrypt:hang=20000:a.sav");
        const std::string log = fixture.root / "tool.log";
        ScopedEnv logged("STAND_IN_CIPHER_LOG", log);
        frmMain& window = fixture.open();
        QSignalSpy read(&window, &frmMain::versionsRead);
        QSignalSpy ended(&window, &frmMain::batchFinished);
        auto* list = Control<QListWidget>(window, "List");

        fixture.listSaves();
        QTRY_VERIFY(Ran(log, "decrypt a.sav"));
        QVERIFY(window.readingVersions());
        window.OpenFolder(other);
        QCOMPARE(Items(list), QStringList({"c.sav"}));
        QVERIFY(read.wait(kTimeoutMs));
        QCOMPARE(Versions(list), (QMap<QString, QString>{{"c.sav", "3.00"}}));

        WriteFile(log, "");
        fixture.listSaves();
        QTRY_VERIFY(Ran(log, "decrypt a.sav"));
        qputenv("STAND_IN_CIPHER_FAULTS", "");
        StartBatch(fixture, 2);
        QVERIFY(!window.readingVersions());
        QVERIFY(ended.wait(kTimeoutMs));
        QCOMPARE(fixture.log.reports.size(), std::size_t{1});
        QVERIFY(fixture.log.reports[0].text.startsWith(
            QStringLiteral("Changed versions DLC in 2 files\n\nThe originals are kept in ")));
        // The batch refreshes the versions it changed.
        QCOMPARE(Versions(list), (QMap<QString, QString>{{"a.sav", "2.00"}, {"b.sav", "2.00"}}));
    }

    // The save button and Esc cancel in the decipher pass and in the encipher pass: the
    // tool run is ended and every save stays as it was.
    void cancelByButtonOrEscInEitherPass() {
        struct Case {
            const char* fault;
            bool escape;
        };
        for (const Case& c :
             {Case{"decrypt:hang=20000:b.sav", false}, Case{"encrypt:hang=20000:b.sav", true},
              Case{"decrypt:hang=20000:b.sav", true}, Case{"encrypt:hang=20000:b.sav", false}}) {
            guitest::WindowFixture fixture;
            WriteSave(fixture, "a.sav", 100);
            WriteSave(fixture, "b.sav", 100);
            WriteSave(fixture, "c.sav", 100);
            frmMain& window = fixture.open();
            window.show();
            QSignalSpy ended(&window, &frmMain::batchFinished);
            auto* save = Control<QPushButton>(window, "cmdSave");
            auto* frame = Control<QGroupBox>(window, "GroupBox2");
            ListAndRead(fixture);
            const std::string log = fixture.root / "tool.log";
            ScopedEnv logged("STAND_IN_CIPHER_LOG", log);
            // c.sav hangs too: with several jobs its run starts beside b.sav's.
            const std::string faults =
                c.fault + (";" + std::string(c.fault, 7) + ":hang=20000:c.sav");
            ScopedEnv hang("STAND_IN_CIPHER_FAULTS", faults);

            StartBatch(fixture, 3);
            QCOMPARE(save->text(), QStringLiteral("Cancel"));
            QVERIFY(save->isEnabled());
            // The hanging tool run on b.sav is under way, and the caption says so.
            const std::string hanging = std::string(c.fault).substr(0, 7) + " b.sav";
            QTRY_VERIFY_WITH_TIMEOUT(Ran(log, hanging), kTimeoutMs);
            QTRY_VERIFY(frame->title() == QStringLiteral("2 of 3: b.sav") ||
                        frame->title() == QStringLiteral("3 of 3: c.sav"));
            if (c.escape) {
                QTest::keyClick(&window, Qt::Key_Escape);
            } else {
                save->click();
            }
            QVERIFY(ended.wait(kTimeoutMs));

            QCOMPARE(fixture.log.reports.size(), std::size_t{1});
            const QString report = fixture.log.reports[0].text;
            QVERIFY2(report.startsWith(QStringLiteral("Changed versions DLC in 0 files")),
                     qPrintable(report));
            QVERIFY2(report.contains(QStringLiteral("\nCancelled")), qPrintable(report));
            QVERIFY2(report.contains(QStringLiteral("files: cancelled: a.sav, b.sav, c.sav")),
                     qPrintable(report));
            QVERIFY(!fixture.log.reports[0].allChanged);
            for (const char* name : {"a.sav", "b.sav", "c.sav"}) {
                QVERIFY2(Holds(fixture, name, 100), name);
            }
            QVERIFY(std::filesystem::is_empty(fixture.work));
            QCOMPARE(frame->title(), QStringLiteral("File List"));
            QCOMPARE(save->text(), QStringLiteral("Apply and Save"));
        }
    }

    void closingDuringABatchAndAcceptingCancelsAndCloses() {
        guitest::WindowFixture fixture;
        WriteSave(fixture, "a.sav", 100);
        WriteSave(fixture, "b.sav", 100);
        frmMain& window = fixture.open();
        window.show();
        QSignalSpy ended(&window, &frmMain::batchFinished);
        ListAndRead(fixture);
        const std::string log = fixture.root / "tool.log";
        ScopedEnv logged("STAND_IN_CIPHER_LOG", log);
        ScopedEnv hang("STAND_IN_CIPHER_FAULTS", "encrypt:hang=20000:a.sav");
        StartBatch(fixture, 2);
        QTRY_VERIFY_WITH_TIMEOUT(Ran(log, "encrypt a.sav"), kTimeoutMs);

        fixture.closing.answer = true;
        QVERIFY(!window.close());
        QCOMPARE(fixture.closing.asked, 1);
        QVERIFY(ended.wait(kTimeoutMs));
        QTRY_VERIFY(!window.isVisible());
        QCOMPARE(fixture.log.reports.size(), std::size_t{1});
        QVERIFY(fixture.log.reports[0].text.contains(QStringLiteral("\nCancelled")));
        QVERIFY(Holds(fixture, "a.sav", 100) && Holds(fixture, "b.sav", 100));
        QVERIFY(std::filesystem::is_empty(fixture.work));
    }

    void droppingAFolderOrAFileInItListsTheFolder() {
        guitest::WindowFixture fixture;
        WriteSave(fixture, "a.sav", 400);
        const std::string other = fixture.root / "other";
        testsupport::MakeDir(other);
        WriteFile(other + "/c.sav", ConvertedSave(kSize, 'c', 300));
        frmMain& window = fixture.open();
        QSignalSpy read(&window, &frmMain::versionsRead);
        auto* list = Control<QListWidget>(window, "List");

        QCOMPARE(DragAndDrop(window, QString::fromStdString(fixture.saves + "/a.sav")),
                 std::make_pair(true, true));
        QCOMPARE(Items(list), QStringList({"a.sav"}));
        QCOMPARE(list->currentRow(), 0);
        QCOMPARE(mdlSHBrowseForFolder::SelectedFolder(), fixture.saves);
        QVERIFY(read.wait(kTimeoutMs));
        QCOMPARE(Versions(list), (QMap<QString, QString>{{"a.sav", "4.00"}}));
        QCOMPARE(fixture.chooser->calls, 0);

        QCOMPARE(DragAndDrop(window, QString::fromStdString(other + "/")),
                 std::make_pair(true, true));
        QCOMPARE(Items(list), QStringList({"c.sav"}));
        QCOMPARE(mdlSHBrowseForFolder::SelectedFolder(), other);
        QVERIFY(read.wait(kTimeoutMs));

        // Nothing that is not there is taken.
        QCOMPARE(DragAndDrop(window, QString::fromStdString(fixture.root / "missing")),
                 std::make_pair(false, false));
        QCOMPARE(Items(list), QStringList({"c.sav"}));

        // During a batch a drop is refused and the list stays.
        QSignalSpy ended(&window, &frmMain::batchFinished);
        ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "any:sleep=100:*");
        StartBatch(fixture, 1);
        QCOMPARE(DragAndDrop(window, QString::fromStdString(fixture.saves)),
                 std::make_pair(false, false));
        QCOMPARE(Items(list), QStringList({"c.sav"}));
        QCOMPARE(mdlSHBrowseForFolder::SelectedFolder(), other);
        QVERIFY(ended.wait(kTimeoutMs));
        QVERIFY(ReadFile(other + "/c.sav") == ConvertedSave(kSize, 'c', 100));
    }

    // Not wholly successful: the report lists what was changed, from which version.
    void reportSaysOldToNewWhenNotAllChanged() {
        guitest::WindowFixture fixture;
        WriteSave(fixture, "a.sav", 100);
        WriteSave(fixture, "b.sav", 250);
        WriteSave(fixture, "c.sav", 300);
        WriteSave(fixture, "d.sav", 200);
        frmMain& window = fixture.open();
        QSignalSpy ended(&window, &frmMain::batchFinished);
        ListAndRead(fixture);
        ScopedEnv faults("STAND_IN_CIPHER_FAULTS", "encrypt:exit=3:c.sav");
        StartBatch(fixture, 2);
        QVERIFY(ended.wait(kTimeoutMs));

        QCOMPARE(fixture.log.reports.size(), std::size_t{1});
        const QString report = fixture.log.reports[0].text;
        QVERIFY2(report.startsWith(
                     QStringLiteral("Changed versions DLC in 2 files\nAlready at 2.00: 1 files\n")),
                 qPrintable(report));
        QVERIFY2(report.contains(QStringLiteral("1 file: cipher tool failed")), qPrintable(report));
        QVERIFY2(report.contains(QStringLiteral(": c.sav\n\nChanged:")), qPrintable(report));
        QVERIFY2(
            report.contains(QStringLiteral(
                "Changed:\na.sav: 1.00 -> 2.00\nb.sav: 250 -> 2.00\n\nThe originals are kept in ")),
            qPrintable(report));
        QVERIFY(Holds(fixture, "d.sav", 200) && Holds(fixture, "c.sav", 300));

        // Wholly successful: the counts, then only where the originals are kept.
        qputenv("STAND_IN_CIPHER_FAULTS", "");
        Control<QPushButton>(window, "cmdSave")->click();
        QVERIFY(ended.wait(kTimeoutMs));
        QVERIFY2(fixture.log.reports.at(1).text.startsWith(
                     QStringLiteral("Changed versions DLC in 1 files\nAlready at 2.00: 3 files\n\n"
                                    "The originals are kept in ")),
                 qPrintable(fixture.log.reports.at(1).text));
        QVERIFY(fixture.log.reports[1].allChanged);
    }
};

QTEST_MAIN(SteerTest)
#include "SteerTest.moc"
