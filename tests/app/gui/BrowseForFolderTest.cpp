#include "GuiTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QWidget>

using mdlSHBrowseForFolder::BrowseForFolder;
using mdlSHBrowseForFolder::NormalisedFolder;
using mdlSHBrowseForFolder::SelectedFolder;

class BrowseForFolderTest : public QObject {
    Q_OBJECT

private slots:
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
