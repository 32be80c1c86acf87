// The window in German and in Russian, end to end: a folder whose pictures the cipher tool
// refuses is listed and converted, and the window and its report box speak the catalogue's
// words, with the files' names and the tool's own words as they are.

#include "Language.h"

#include "GuiTestSupport.h"
#include "WindowTexts.h"
#include "Words.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <string>
#include <vector>

using guitest::Control;
using testsupport::ScopedEnv;
using testsupport::WriteFile;

namespace {

constexpr int kTimeoutMs = testsupport::ScaledMs(60000);
const QStringList kPictures = {"shot_1.png", "shot_2.png", "shot_3.png"};
constexpr const char* kToolSaid = "failed on purpose"; // the stand-in's complaint

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

struct BoxSeen {
    QString text;
    QString details;
    QString detailsButton;
};

} // namespace

class LanguageTest : public QObject {
    Q_OBJECT

private slots:
    // --language is taken out of the arguments before Qt sees them and chooses the language;
    // without it, the platform's preference does.
    void languageFromTheArguments_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("--language TAG") << QStringList{"ostrapel", "--language", "ru", "x.png"}
                                        << QStringLiteral("ru") << QStringList{"ostrapel", "x.png"};
        QTest::newRow("--language=TAG, a region")
            << QStringList{"ostrapel", "x.png", "--language=de_AT"} << QStringLiteral("de")
            << QStringList{"ostrapel", "x.png"};
        QTest::newRow("the pseudo-language") << QStringList{"ostrapel", "--language", "pseudo"}
                                             << QStringLiteral("pseudo") << QStringList{"ostrapel"};
        QTest::newRow("none: the platform's")
            << QStringList{"ostrapel", "--loaded"} << QStringLiteral("ru")
            << QStringList{"ostrapel", "--loaded"};
    }

    void languageFromTheArguments() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, chosen);
        QFETCH(QStringList, left);
        ScopedEnv preferred("LANGUAGE", "ru_RU:de");
        std::vector<QByteArray> bytes;
        std::vector<char*> argv;
        for (const QString& argument : arguments) {
            bytes.push_back(argument.toUtf8());
        }
        for (QByteArray& argument : bytes) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        int argc = static_cast<int>(arguments.size());
        const QString language = Q(language::ChooseFromArguments(argc, argv.data()));
        (void)ostrapel::UseLanguage("en");
        QCOMPARE(language, chosen);
        QStringList remaining;
        for (int i = 0; i < argc; ++i) {
            remaining << QString::fromUtf8(argv[static_cast<std::size_t>(i)]);
        }
        QCOMPARE(remaining, left);
        QCOMPARE(argv[static_cast<std::size_t>(argc)], nullptr);
    }

    void groupedFailureReport_data() {
        QTest::addColumn<QString>("language");
        QTest::newRow("German") << QStringLiteral("de");
        QTest::newRow("Russian") << QStringLiteral("ru");
    }

    void groupedFailureReport() {
        QFETCH(QString, language);
        QCOMPARE(Q(ostrapel::UseLanguage(language.toStdString())), language);
        const QList<QTranslator*> qtWords = language::LoadQtTranslations(*qApp);
        const auto english = qScopeGuard([&qtWords] {
            for (QTranslator* translator : qtWords) {
                QCoreApplication::removeTranslator(translator);
                delete translator;
            }
            (void)ostrapel::UseLanguage("en");
        });
        QVERIFY2(!qtWords.isEmpty(), "Qt's own translations are not installed");
        const ostrapel::Catalogue catalogue = ostrapel::CatalogueOf(language.toStdString());
        // The catalogue's words for a template, which must not be the English.
        const auto words = [&catalogue](const char* id) {
            const QString translated = Q(catalogue.Translate(id));
            return translated == QString::fromUtf8(id) ? QString() : translated;
        };

        guitest::WindowFixture fixture;
        WriteFile(fixture.saves + "/a.sav", testsupport::EncipheredSave(900, 0));
        WriteFile(fixture.saves + "/b.sav", testsupport::EncipheredSave(937, 1));
        std::string faults;
        for (const QString& picture : kPictures) {
            WriteFile(fixture.saves + "/" + picture.toStdString(), "not a save");
            faults += "any:exit=3:" + picture.toStdString() + ";";
        }
        ScopedEnv refusing("STAND_IN_CIPHER_FAULTS", faults);
        frmMain& window = fixture.open();
        window.setReportPresenter(&frmMain::ShowReportBox);
        window.show();

        QSignalSpy read(&window, &frmMain::versionsRead);
        fixture.listSaves();
        QVERIFY(read.wait(kTimeoutMs));

        // The window's own words.
        const QString apply = words(ostrapel::kApplyText);
        QVERIFY2(!apply.isEmpty(), "no translation of the apply button");
        QCOMPARE(Control<QPushButton>(window, "cmdSave")->text(), apply);
        const QString listTitle = words(ostrapel::kListTitle);
        QVERIFY(!listTitle.isEmpty());
        QVERIFY2(Control<QGroupBox>(window, "GroupBox2")->title().startsWith(listTitle),
                 qPrintable(Control<QGroupBox>(window, "GroupBox2")->title()));
        // A picture's row: its name and the tool's words as they are, "not read" translated.
        auto* list = Control<QListWidget>(window, "List");
        const QString notRead = words(ostrapel::kVersionNotRead);
        QVERIFY(!notRead.isEmpty());
        bool pictureRowSeen = false;
        for (int row = 0; row < list->count(); ++row) {
            const QString tooltip = list->item(row)->toolTip();
            if (tooltip.startsWith(QStringLiteral("shot_1.png: "))) {
                pictureRowSeen = true;
                QVERIFY2(tooltip.contains(notRead), qPrintable(tooltip));
                QVERIFY2(tooltip.contains(QLatin1String(kToolSaid)), qPrintable(tooltip));
            }
        }
        QVERIFY(pictureRowSeen);

        // The report box, as the window shows it.
        std::optional<BoxSeen> seen;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || seen) {
                return;
            }
            seen = BoxSeen{box->text(), box->detailedText(), {}};
            if (QAbstractButton* details = frmMain::DetailsButton(*box)) {
                seen->detailsButton = details->text();
            }
            box->accept();
        });
        watch.start(10);
        QSignalSpy ended(&window, &frmMain::batchFinished);
        Control<QComboBox>(window, "ComboDLC")->setCurrentIndex(2);
        Control<QPushButton>(window, "cmdSave")->click();
        QVERIFY(ended.wait(kTimeoutMs));
        QVERIFY(seen.has_value());

        // The details button in the language, with an access key.
        QCOMPARE(seen->detailsButton, QString::fromUtf8(ostrapel::Tr("Show &details...")));
        QVERIFY(seen->detailsButton.contains(QLatin1Char('&')));
        QVERIFY(seen->detailsButton != QStringLiteral("Show &details..."));
        // The pictures grouped under one reason, named as they are; each in the details.
        QVERIFY2(seen->text.contains(QStringLiteral("shot_1.png")), qPrintable(seen->text));
        for (const QString& picture : kPictures) {
            QVERIFY2(seen->details.contains(picture), qPrintable(seen->details));
        }
        QVERIFY2(seen->details.contains(QLatin1String(kToolSaid)), qPrintable(seen->details));
        // The report's words from the catalogue: its first line with its plural, its heading.
        const QString changed = Q(catalogue.TranslatePlural("Changed versions DLC in {n} files",
                                                            "Changed versions DLC in {n} files", 2))
                                    .replace(QStringLiteral("{n}"), QStringLiteral("2"));
        QVERIFY(!changed.contains(QStringLiteral("Changed versions")));
        QVERIFY2(seen->text.startsWith(changed + QLatin1Char('\n')), qPrintable(seen->text));
        const QString notChanged = words("Not changed:");
        QVERIFY(!notChanged.isEmpty());
        QVERIFY2(seen->text.contains(QLatin1Char('\n') + notChanged + QLatin1Char('\n')),
                 qPrintable(seen->text));
        QVERIFY2(!seen->text.contains(QStringLiteral("Not changed")), qPrintable(seen->text));
    }
};

QTEST_MAIN(LanguageTest)
#include "LanguageTest.moc"
