#include "GuiTestSupport.h"
#include "Report.h"
#include "conversion/ConvertSaves.h"
#include "conversion/DlcVersion.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>

Q_DECLARE_METATYPE(ostrapel::BatchResult)

using guitest::Control;
using testsupport::ConvertedSave;
using testsupport::EncipheredSave;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::WriteFile;

namespace {

constexpr int kBatchTimeoutMs = testsupport::ScaledMs(60000);

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
    FullReport(result) = ostrapel::ComposeReport(result.files);
    return result;
}

bool WorkFolderEmpty(const guitest::WindowFixture& fixture) {
    return testsupport::LeftInWorkFolder(fixture.work).empty();
}

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
    // The controls reach the model and show what it says: the rows with their versions, the
    // locked controls and the busy cursor while the batch runs, and its report once the
    // controls are back.
    void aBatchThroughTheControls() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture, 2);
        frmMain& window = fixture.open();
        window.show();
        auto* open = Control<QPushButton>(window, "cmdOpen");
        auto* combo = Control<QComboBox>(window, "ComboDLC");
        auto* save = Control<QPushButton>(window, "cmdSave");
        auto* list = Control<QListWidget>(window, "List");
        auto* frame = Control<QGroupBox>(window, "GroupBox2");
        QStringList behindTheReport;
        window.setReportPresenter([&](QWidget*, const ostrapel::BatchResult& result) {
            behindTheReport << save->text() << QString::number(save->isEnabled())
                            << QString::number(open->isEnabled() && combo->isEnabled())
                            << frame->title() << window.windowTitle();
            fixture.log.presenter()(&window, result);
        });
        QSignalSpy ended(&window, &frmMain::batchFinished);
        // Long enough for the caption to show a save before the batch ends.
        ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "encrypt:sleep=3000:b.sav");

        StartBatch(fixture, 3);
        QCOMPARE(Control<QLineEdit>(window, "txt")->text(), QStringLiteral("300"));
        QCOMPARE(list->item(0)->text(), QStringLiteral("a.sav   ") + OldValue(0));
        QCOMPARE(list->item(0)->toolTip(), QStringLiteral("a.sav: ") + OldValue(0));
        QCOMPARE(list->item(0)->data(frmMain::kNameRole).toByteArray(), QByteArray("a.sav"));
        QVERIFY(window.batchRunning());
        QVERIFY(!open->isEnabled() && !combo->isEnabled() && save->isEnabled());
        QCOMPARE(save->text(), QStringLiteral("&Cancel")); // Alt+C, as in the Win32 window
        QCOMPARE(window.cursor().shape(), Qt::BusyCursor);
        // One count over the four passes; the whole name read out.
        QTRY_VERIFY_WITH_TIMEOUT(frame->title().startsWith(QStringLiteral("Converting ")),
                                 kBatchTimeoutMs);
        QVERIFY(frame->title().contains(QStringLiteral(" of 8")));
        QVERIFY(frame->toolTip().endsWith(QStringLiteral(".sav")));
        QVERIFY(frame->accessibleName().contains(QStringLiteral(" of 8: ")));

        QVERIFY(ended.wait(kBatchTimeoutMs));
        QCOMPARE(
            behindTheReport,
            QStringList({"&Apply and Save", "1", "1",
                         "&File List: " + QDir(QString::fromStdString(fixture.saves)).dirName(),
                         "Ostrapel by Penmorrow"}));
        QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(list->item(1)->data(frmMain::kVersionRole).toString(), QStringLiteral("3.00"));
        QVERIFY(Converted(fixture, 0, 300) && Converted(fixture, 1, 300));
        QVERIFY(fixture.log.reports.at(0).allChanged);
    }

    // Esc cancels; closing asks, and on yes closes once the batch has ended.
    void escAndClosingReachTheBatch() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture, 2);
        frmMain& window = fixture.open();
        window.show();
        QSignalSpy ended(&window, &frmMain::batchFinished);
        const std::string log = fixture.root / "tool.log";
        ScopedEnv logged("STAND_IN_CIPHER_LOG", log);
        ScopedEnv hang("STAND_IN_CIPHER_FAULTS", "encrypt:hang=20000:a.sav");
        const auto hanging = [&] {
            const std::vector<std::string> runs = testsupport::ReadLines(log);
            return std::find(runs.begin(), runs.end(), "encrypt a.sav") != runs.end();
        };

        StartBatch(fixture, 2);
        QTRY_VERIFY_WITH_TIMEOUT(hanging(), kBatchTimeoutMs);
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(ended.wait(kBatchTimeoutMs));
        QVERIFY(fixture.log.reports.at(0).text.contains(QStringLiteral("\nCancelled")));

        WriteFile(log, "");
        Control<QPushButton>(window, "cmdSave")->click();
        QTRY_VERIFY_WITH_TIMEOUT(hanging(), kBatchTimeoutMs);
        fixture.closing.answer = true;
        QVERIFY(!window.close());
        QCOMPARE(fixture.closing.asked, 1);
        QVERIFY(ended.wait(kBatchTimeoutMs));
        QTRY_VERIFY(!window.isVisible());
        QCOMPARE(fixture.log.reports.size(), std::size_t{2});
        QVERIFY(!Converted(fixture, 0, 200) && !Converted(fixture, 1, 200));
        QVERIFY(WorkFolderEmpty(fixture));
    }

    // A folder, or a file in it, dropped on the window is listed; nothing is taken during a
    // batch.
    void dropsReachTheModel() {
        guitest::WindowFixture fixture;
        WriteSaves(fixture, 1);
        frmMain& window = fixture.open();
        auto* list = Control<QListWidget>(window, "List");
        const auto dragAndDrop = [&window](const std::string& path) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
            const QPoint at = window.rect().center();
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&window, &enter);
            QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&window, &drop);
            return std::make_pair(enter.isAccepted(), drop.isAccepted());
        };

        QSignalSpy read(&window, &frmMain::versionsRead);
        QCOMPARE(dragAndDrop(fixture.saves + "/a.sav"), std::make_pair(true, true));
        QCOMPARE(guitest::Items(list), QStringList({"a.sav"}));
        QCOMPARE(mdlSHBrowseForFolder::SelectedFolder(), fixture.saves);
        QCOMPARE(dragAndDrop(fixture.root / "missing"), std::make_pair(false, false));
        QVERIFY(read.wait(kBatchTimeoutMs)); // the environment changes only once it is read

        QSignalSpy ended(&window, &frmMain::batchFinished);
        ScopedEnv slow("STAND_IN_CIPHER_FAULTS", "any:sleep=100:*");
        StartBatch(fixture, 1);
        QCOMPARE(dragAndDrop(fixture.saves), std::make_pair(false, false));
        QVERIFY(ended.wait(kBatchTimeoutMs));
        QCOMPARE(fixture.chooser->calls, 1);
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

        // An empty folder: nothing changed, and the box warns as the model says.
        const std::string empty = fixture.root / "empty";
        testsupport::MakeDir(empty);
        fixture.chooser->willAnswer(empty);
        Control<QPushButton>(window, "cmdOpen")->click();
        Control<QPushButton>(window, "cmdSave")->click();
        QVERIFY(ended.wait(kBatchTimeoutMs));
        QCOMPARE(seen.size(), std::size_t{2});
        QCOMPARE(seen[1].icon, QMessageBox::Warning);
        QVERIFY(seen[1].text.contains(QStringLiteral("There are no files in")));

        // A refused batch: the program folder has lost its cipher tool.
        fixture.listSaves();
        std::filesystem::remove(fixture.appDir + "Decrypt/decrypt.exe");
        Control<QPushButton>(window, "cmdSave")->click();
        QVERIFY(ended.wait(kBatchTimeoutMs));
        QCOMPARE(seen.size(), std::size_t{3});
        QCOMPARE(seen[2].icon, QMessageBox::Warning);
        QVERIFY(seen[2].text.startsWith(QStringLiteral("Changed versions DLC in 0 files")));
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
        QCOMPARE(seen->copied, seen->text + QStringLiteral("\n\n") + seen->details);
        QVERIFY(seen->resizable);
        // Where the screen has room, the details show a dozen entries at once.
        if (seen->available.height() >= 600) {
            QVERIFY2(seen->detailsLines >= 12, qPrintable(QString::number(seen->detailsLines)));
        }
    }
};

QTEST_MAIN(BatchTest)
#include "BatchTest.moc"
