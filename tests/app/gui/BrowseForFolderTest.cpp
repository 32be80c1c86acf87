#include "GuiTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QSettings>
#include <QTest>
#include <QTimer>
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

    // The platform's dialog itself: modal to its owner, titled, starting at home when no folder
    // was chosen before, listing folders only; the folder the user confirms comes back whole.
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
        DialogFolderChooser chooser(QString::fromStdString(root / "settings.ini"));

        BrowseForFolder(&owner, chooser);

        const guitest::FolderDialogSeen& seen = driver.seen;
        QVERIFY(seen.appeared);
        QCOMPARE(seen.title, QStringLiteral("C:\\"));
        QCOMPARE(seen.owner, &owner);
        QVERIFY(seen.modal);
        QVERIFY(seen.ownerBlocked);
        QCOMPARE(seen.fileMode, QFileDialog::Directory);
        QVERIFY(seen.foldersOnly);
        QCOMPARE(seen.startFolder, QDir::homePath());
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
        DialogFolderChooser chooser(QString::fromStdString(root / "settings.ini"));

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

    // The dialog opens at the folder last chosen, kept in a settings file across runs, or at
    // home when there is none or it has gone; choosing a folder remembers it.
    void dialogStartsWhereTheUserWas() {
        testsupport::TempDir root;
        const QString settings = QString::fromStdString(root / "settings.ini");
        const std::string saves = root / "saves";
        testsupport::MakeDir(saves);
        const std::string other = root / "other";
        testsupport::MakeDir(other);

        mdlSHBrowseForFolder::DialogFolderChooser fresh(settings);
        QCOMPARE(fresh.StartFolder(), QDir::homePath());

        // Each dialog shown says where it opened, then chooses what it was told to, or cancels.
        QStringList openedAt;
        QString choose;
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                openedAt << dialog->directory().absolutePath();
                if (choose.isEmpty()) {
                    dialog->reject();
                } else {
                    dialog->setDirectory(choose);
                    QMetaObject::invokeMethod(dialog, "accept");
                }
            }
        });
        answer.start(20);

        QCOMPARE(fresh.ChooseFolder(nullptr, mdlSHBrowseForFolder::kTitle), std::nullopt);
        choose = QString::fromStdString(saves);
        QCOMPARE(fresh.ChooseFolder(nullptr, mdlSHBrowseForFolder::kTitle),
                 std::optional<std::string>(saves));

        // A later run starts at that folder.
        mdlSHBrowseForFolder::DialogFolderChooser later(settings);
        QCOMPARE(later.StartFolder(), QString::fromStdString(saves));
        choose.clear();
        (void)later.ChooseFolder(nullptr, mdlSHBrowseForFolder::kTitle);
        QCOMPARE(openedAt,
                 QStringList({QDir::homePath(), QDir::homePath(), QString::fromStdString(saves)}));

        // A folder dropped on the window counts as chosen; a folder that has gone does not.
        later.Remember(other);
        QCOMPARE(QSettings(settings, QSettings::IniFormat).value("folders/last").toString(),
                 QString::fromStdString(other));
        QCOMPARE(later.StartFolder(), QString::fromStdString(other));
        testsupport::RemoveTree(other);
        QCOMPARE(later.StartFolder(), QDir::homePath());
    }
};

QTEST_MAIN(BrowseForFolderTest)
#include "BrowseForFolderTest.moc"
