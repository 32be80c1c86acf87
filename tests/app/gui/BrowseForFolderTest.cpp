#include "GuiTestSupport.h"

#include <QTest>
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
};

QTEST_MAIN(BrowseForFolderTest)
#include "BrowseForFolderTest.moc"
