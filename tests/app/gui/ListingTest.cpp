#include "Drawing.h"
#include "GuiTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QScrollBar>
#include <QSet>
#include <QTest>

using guitest::Control;
using guitest::Items;
using mdlSHBrowseForFolder::SelectedFolder;
using testsupport::MakeDir;
using testsupport::WriteFile;

class ListingTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A desktop theme's own dialog cannot be driven from a test.
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }

    void listsQualifyingEntriesAndSelectsTheFirst() {
        guitest::WindowFixture fixture;
        for (const char* name : {"x", "ab", "abc", ".hidden.sav", "slot1.sav"}) {
            WriteFile(fixture.saves + "/" + name, "data");
        }
        MakeDir(fixture.saves + "/slots");
        MakeDir(fixture.saves + "/sd");
        frmMain& window = fixture.open();
        QDir::setCurrent(QDir::rootPath());

        fixture.listSaves();

        auto* list = Control<QListWidget>(window, "List");
        QCOMPARE(Items(list), QStringList({"abc", "slot1.sav", "slots"}));
        QCOMPARE(list->selectedItems(), QList<QListWidgetItem*>{list->item(0)});
        // Not focused, as the list has not the focus; the selected row once it has.
        QCOMPARE(list->currentRow(), -1);
        window.show();
        list->setFocus();
        QTRY_COMPARE(list->currentRow(), 0);
        list->clearFocus();
        QCOMPARE(list->currentRow(), -1);
        QCOMPARE(list->selectedItems(), QList<QListWidgetItem*>{list->item(0)});
        QCOMPARE(fixture.chooser->lastOwner, &window);
        QCOMPARE(fixture.chooser->lastTitle, QStringLiteral("C:\\"));
        QCOMPARE(SelectedFolder(), fixture.saves);
        QCOMPARE(QDir::current().canonicalPath(),
                 QFileInfo(QString::fromStdString(fixture.appDir)).canonicalFilePath());

        // The same folder again gives the same list, not twice the list.
        const QStringList first = Items(list);
        fixture.listSaves();
        QCOMPARE(Items(list), first);
    }

    void theOpenButtonListsTheFolderChosenInTheDialog() {
        guitest::WindowFixture fixture;
        WriteFile(fixture.saves + "/slot10.sav", "data");
        WriteFile(fixture.saves + "/slot2.sav", "data");
        frmMain window(fixture.appDir, nullptr);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        guitest::FolderDialogDriver driver(QString::fromStdString(fixture.root.path()),
                                           QStringLiteral("saves"));

        Control<QPushButton>(window, "cmdOpen")->click();

        QVERIFY(driver.seen.appeared);
        QCOMPARE(driver.seen.owner, &window);
        QVERIFY(driver.seen.modal);
        QCOMPARE(driver.seen.title, QStringLiteral("C:\\"));
        QCOMPARE(driver.seen.shown, QStringList({"app", "saves"}));
        QCOMPARE(SelectedFolder(), fixture.saves);
        QCOMPARE(Items(Control<QListWidget>(window, "List")),
                 QStringList({"slot2.sav", "slot10.sav"}));
    }

    void namesKeepTheirBytes() {
        guitest::WindowFixture fixture;
        const std::string latin1 = "caf\xe9.sav"; // not UTF-8
        const std::string utf8 = "\xc3\xa9t\xc3\xa9.sav";
        WriteFile(fixture.saves + "/" + latin1, "data");
        WriteFile(fixture.saves + "/" + utf8, "data");
        frmMain& window = fixture.open();
        fixture.listSaves();

        auto* list = Control<QListWidget>(window, "List");
        QCOMPARE(list->count(), 2);
        QStringList shown;
        std::vector<std::string> kept;
        for (int row = 0; row < list->count(); ++row) {
            shown << list->item(row)->text();
            kept.push_back(list->item(row)->data(frmMain::kNameRole).toByteArray().toStdString());
        }
        QVERIFY(shown.contains(QString::fromUtf8("\xc3\xa9t\xc3\xa9.sav")));
        QVERIFY(std::find(kept.begin(), kept.end(), latin1) != kept.end());
        QVERIFY(std::find(kept.begin(), kept.end(), utf8) != kept.end());
    }

    // 300 names sharing a long beginning (100 under the sanitizers): as many different rows,
    // each in the width the list has beside the scroll bar.
    void longNamesStayApartInTheListsWidth() {
        guitest::WindowFixture fixture;
        constexpr int kSaves = testsupport::kLighter ? 100 : 300;
        for (int n = 1; n <= kSaves; ++n) {
            WriteFile(fixture.saves + "/" +
                          QStringLiteral("Autosave_Chapter03_Checkpoint_%1.sav")
                              .arg(n, 3, 10, QLatin1Char('0'))
                              .toStdString(),
                      "data");
        }
        frmMain& window = fixture.open();
        window.show();
        fixture.listSaves();
        auto* list = Control<QListWidget>(window, "List");
        QCOMPARE(list->count(), kSaves);
        QTRY_VERIFY(list->verticalScrollBar()->isVisible());
        const auto apart = [list] {
            QSet<QString> shown;
            for (int row = 0; row < list->count(); ++row) {
                const QString name = list->item(row)->data(frmMain::kShownRole).toString();
                const QString version = list->item(row)->data(frmMain::kVersionRole).toString();
                const QFontMetrics metrics(list->font());
                const int room =
                    RowTextWidth(list) -
                    (version.isEmpty() ? 0 : metrics.horizontalAdvance(version) + kVersionGap);
                if (metrics.horizontalAdvance(name) > room) {
                    return false;
                }
                shown.insert(name);
            }
            return shown.size() == kSaves;
        };
        QTRY_VERIFY(apart());
        QVERIFY(
            list->item(0)->data(frmMain::kShownRole).toString().contains(QStringLiteral("001")));
        // Beside the versions, once read.
        QTRY_VERIFY_WITH_TIMEOUT(!window.readingVersions(), testsupport::ScaledMs(60000));
        QVERIFY(!list->item(0)->data(frmMain::kVersionRole).toString().isEmpty());
        QVERIFY(apart());
    }
};

QTEST_MAIN(ListingTest)
#include "ListingTest.moc"
