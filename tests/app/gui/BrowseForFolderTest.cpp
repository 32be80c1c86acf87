#include "GuiTestSupport.h"

#include <QDir>
#include <QFileDialog>
#include <QTest>
#include <QWidget>

using mdlSHBrowseForFolder::BrowseForFolder;
using mdlSHBrowseForFolder::DialogFolderChooser;
using mdlSHBrowseForFolder::NormalisedFolder;
using mdlSHBrowseForFolder::SelectedFolder;

class BrowseForFolderTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A desktop theme's own dialog cannot be driven from a test; Qt's dialog is the one
        // used where there is none.
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }

    void asksTheOwnerWindowWithTheTitle() {
        QWidget owner;
        guitest::ScriptedChooser chooser;
        chooser.willAnswer("/srv/saves");
        BrowseForFolder(&owner, chooser);
        QCOMPARE(chooser.calls, 1);
        QCOMPARE(chooser.lastOwner, &owner);
        QCOMPARE(chooser.lastTitle, QStringLiteral("C:\\"));
        QCOMPARE(SelectedFolder(), std::string("/srv/saves"));
    }

    void cancelEmptiesAnEarlierChoice() {
        guitest::ScriptedChooser chooser;
        chooser.willAnswer("/srv/saves");
        chooser.willAnswer(std::nullopt);
        BrowseForFolder(nullptr, chooser);
        QCOMPARE(SelectedFolder(), std::string("/srv/saves"));
        BrowseForFolder(nullptr, chooser);
        QVERIFY(SelectedFolder().empty());
    }

    // The platform's dialog itself: modal to its owner, titled, starting at the top of the file
    // system, listing folders only; the folder the user confirms comes back whole.
    void theFolderDialogIsModalToItsOwnerAndShowsFoldersOnly() {
        testsupport::TempDir root;
        const std::string saves = root / "saves";
        testsupport::MakeDir(saves);
        testsupport::MakeDir(saves + "/slots");
        testsupport::MakeDir(saves + "/more saves");
        testsupport::WriteFile(saves + "/slot1.sav", "save");
        testsupport::WriteFile(saves + "/notes.txt", "text");
        QWidget owner;
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        guitest::FolderDialogDriver driver(QString::fromStdString(saves), QStringLiteral("slots"));
        DialogFolderChooser chooser;

        BrowseForFolder(&owner, chooser);

        const guitest::FolderDialogSeen& seen = driver.seen;
        QVERIFY(seen.appeared);
        QCOMPARE(seen.title, QStringLiteral("C:\\"));
        QCOMPARE(seen.owner, &owner);
        QVERIFY(seen.modal);
        QVERIFY(seen.ownerBlocked);
        QCOMPARE(seen.fileMode, QFileDialog::Directory);
        QVERIFY(seen.foldersOnly);
        QCOMPARE(seen.startFolder, QDir::rootPath());
        QCOMPARE(seen.shown, QStringList({"more saves", "slots"}));
        QCOMPARE(SelectedFolder(), saves + "/slots");
    }

    void cancellingTheFolderDialogChoosesNothing() {
        guitest::ScriptedChooser scripted;
        scripted.willAnswer("/srv/saves");
        BrowseForFolder(nullptr, scripted);
        testsupport::TempDir root;
        QWidget owner;
        owner.show();
        guitest::FolderDialogDriver driver(QString::fromStdString(root.path()), QString());
        DialogFolderChooser chooser;

        BrowseForFolder(&owner, chooser);

        QVERIFY(driver.seen.appeared);
        QVERIFY(SelectedFolder().empty());
    }

    void pathsComeBackFullWithoutTrailingSeparator_data() {
        QTest::addColumn<QByteArray>("chosen");
        QTest::addColumn<QByteArray>("selected");
        QTest::newRow("plain") << QByteArray("/home/u/saves") << QByteArray("/home/u/saves");
        QTest::newRow("trailing") << QByteArray("/home/u/saves//") << QByteArray("/home/u/saves");
        QTest::newRow("root") << QByteArray("/") << QByteArray("/");
        QTest::newRow("root doubled") << QByteArray("//") << QByteArray("/");
        QTest::newRow("no file-system path") << QByteArray("") << QByteArray("");
        QTest::newRow("relative") << QByteArray("saves") << QByteArray("");
        QTest::newRow("non-UTF-8 kept") << QByteArray("/srv/caf\xe9") << QByteArray("/srv/caf\xe9");
    }

    void pathsComeBackFullWithoutTrailingSeparator() {
        QFETCH(QByteArray, chosen);
        QFETCH(QByteArray, selected);
        guitest::ScriptedChooser chooser;
        chooser.willAnswer(chosen.toStdString());
        BrowseForFolder(nullptr, chooser);
        QCOMPARE(QByteArray::fromStdString(SelectedFolder()), selected);
        QCOMPARE(QByteArray::fromStdString(NormalisedFolder(chosen.toStdString())), selected);
    }
};

QTEST_MAIN(BrowseForFolderTest)
#include "BrowseForFolderTest.moc"
