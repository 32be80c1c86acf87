// Every fixed-room text of the window, in every language the program carries, measured with the
// window's own fonts against the room its control has. Run at 100%, 150% and 200% (QT_SCALE_FACTOR,
// as Qt scales the window on such a screen).

#include "Drawing.h"
#include "GuiTestSupport.h"
#include "WindowTexts.h"
#include "Words.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <cmath>
#include <vector>

using guitest::Control;

namespace {

struct Overflow {
    QString control;
    QString text;
    int needed = 0;
    int available = 0;
};

// The text's width in the widget's font, as Qt lays it out: in the window's own pixels, which
// the screen's scale multiplies (with hinting as Qt sets it for that scale).
int Needed(const QWidget& widget, const QString& text) {
    return static_cast<int>(
        std::ceil(QFontMetricsF(widget.font(), &widget).horizontalAdvance(text)));
}

// The room a control gives its text: a label's contents, a frame's caption as the frame draws it,
// a button's face without the style's margins.
int Room(const QWidget& widget) {
    if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
        return label->contentsRect().width() - 2 * label->margin();
    }
    if (qobject_cast<const QGroupBox*>(&widget) != nullptr) {
        return GroupBoxCaptionRoom(&widget);
    }
    const auto& button = static_cast<const QPushButton&>(widget);
    QStyleOptionButton option;
    option.initFrom(&button);
    constexpr int kWide = 1000; // past any minimum width the style gives a button
    const int margins =
        button.style()
            ->sizeFromContents(QStyle::CT_PushButton, &option, QSize(kWide, 20), &button)
            .width() -
        kWide;
    return button.width() - margins;
}

const QWidget* ControlOf(frmMain& window, ostrapel::FittedControl control) {
    using ostrapel::FittedControl;
    const auto label = [&window](int index) -> const QWidget* {
        for (QLabel* each : window.findChildren<QLabel*>(QStringLiteral("lbl"))) {
            if (each->property("index").toInt() == index) {
                return each;
            }
        }
        return nullptr;
    };
    switch (control) {
    case FittedControl::FrameTitle:
        return Control<QGroupBox>(window, "GroupBox1");
    case FittedControl::OpenLabel:
        return label(0);
    case FittedControl::VersionLabel:
        return label(1);
    case FittedControl::ListTitle:
        return Control<QGroupBox>(window, "GroupBox2");
    case FittedControl::ApplyButton:
    case FittedControl::CancelButton:
        return Control<QPushButton>(window, "cmdSave");
    }
    return nullptr;
}

// The window in language (as --language takes it), each fitted text measured in its control.
std::vector<Overflow> Overflows(const std::string& language, QStringList& measured) {
    (void)ostrapel::UseLanguage(language);
    guitest::WindowFixture fixture;
    frmMain& window = fixture.open();
    window.show();
    std::vector<Overflow> overflows;
    for (const ostrapel::FittedText& fitted : ostrapel::FittedTexts()) {
        const QWidget* control = ControlOf(window, fitted.control);
        if (control == nullptr) {
            overflows.push_back({QStringLiteral("no control for %1").arg(fitted.id), {}, 0, 0});
            continue;
        }
        const QString text = QString::fromUtf8(ostrapel::WithoutAccessKey(ostrapel::Tr(fitted.id)));
        const Overflow seen{control->objectName(), text, Needed(*control, text), Room(*control)};
        measured << QStringLiteral("%1 %2 \"%3\": %4 of %5 px")
                        .arg(QString::fromStdString(language), seen.control, seen.text)
                        .arg(seen.needed)
                        .arg(seen.available);
        if (seen.needed > seen.available) {
            overflows.push_back(seen);
        }
    }
    (void)ostrapel::UseLanguage("en");
    return overflows;
}

QString Named(const std::string& language, const std::vector<Overflow>& overflows) {
    QStringList lines;
    for (const Overflow& overflow : overflows) {
        lines << QStringLiteral("%1: %2 \"%3\" needs %4 px, has %5")
                     .arg(QString::fromStdString(language), overflow.control, overflow.text)
                     .arg(overflow.needed)
                     .arg(overflow.available);
    }
    return lines.join(QLatin1Char('\n'));
}

int Dpi() {
    return static_cast<int>(std::lround(96 * qApp->devicePixelRatio()));
}

} // namespace

class FitTest : public QObject {
    Q_OBJECT

private slots:
    void everyShippedLanguageFits() {
        std::vector<std::string> languages = {"en"};
        for (const std::string& language : ostrapel::AvailableLanguages()) {
            languages.push_back(language);
        }
        QStringList measured;
        QStringList failures;
        for (const std::string& language : languages) {
            const std::vector<Overflow> overflows = Overflows(language, measured);
            if (!overflows.empty()) {
                failures << Named(language, overflows);
            }
        }
        qInfo().noquote() << "at" << Dpi() << "DPI:\n" << measured.join(QLatin1Char('\n'));
        QVERIFY2(failures.isEmpty(),
                 qPrintable(QStringLiteral("at %1 DPI:\n").arg(Dpi()) + failures.join('\n')));
    }

    // The list's caption, in every language, names a listed folder whole and fits its room,
    // the list with a scroll bar, and an empty folder too, keeping its label wherever the label
    // and the name fit together; Alt and the label's key reach the list whatever the caption
    // keeps.
    void captionsNameTheFolderInEveryLanguage() {
        std::vector<std::string> languages = {"en"};
        for (const std::string& language : ostrapel::AvailableLanguages()) {
            languages.push_back(language);
        }
        QStringList failures;
        for (const std::string& language : languages) {
            (void)ostrapel::UseLanguage(language);
            guitest::WindowFixture fixture;
            for (int n = 1; n <= 30; ++n) {
                testsupport::WriteFile(fixture.saves + "/slot" + std::to_string(n) + ".sav", "x");
            }
            const std::string empty = fixture.root / "Archive Saves";
            testsupport::MakeDir(empty);
            frmMain& window = fixture.open();
            window.show();
            window.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&window));
            auto* frame = Control<QGroupBox>(window, "GroupBox2");
            auto* list = Control<QListWidget>(window, "List");
            const QString label = QString::fromUtf8(ostrapel::WithoutAccessKey(
                ostrapel::CaptionBeforeName(ostrapel::Tr(ostrapel::kListTitle))));
            for (const auto& [folder, own] : {std::pair{fixture.saves, QStringLiteral("saves")},
                                              std::pair{empty, QStringLiteral("Archive Saves")}}) {
                fixture.chooser->willAnswer(folder);
                Control<QPushButton>(window, "cmdOpen")->click();
                QCoreApplication::processEvents();
                QString title = frame->title();
                title.remove(QRegularExpression(QStringLiteral("&(?=[^&])"))).replace("&&", "&");
                if (!title.contains(own) || Needed(*frame, title) > Room(*frame)) {
                    failures << QStringLiteral("%1: \"%2\" (%3 of %4 px)")
                                    .arg(QString::fromStdString(language), title)
                                    .arg(Needed(*frame, title))
                                    .arg(Room(*frame));
                }
                const QString labelled = label + own;
                if (Needed(*frame, labelled) <= Room(*frame) && !title.startsWith(label)) {
                    failures << QStringLiteral("%1: \"%2\" without its label, \"%3\" fits "
                                               "(%4 of %5 px)")
                                    .arg(QString::fromStdString(language), title, labelled)
                                    .arg(Needed(*frame, labelled))
                                    .arg(Room(*frame));
                }
                Control<QPushButton>(window, "cmdOpen")->setFocus();
                const QKeyCombination key = QKeySequence::mnemonic(
                    QString::fromUtf8(ostrapel::Tr(ostrapel::kListTitle)))[0];
                const QString letter = QString::fromUtf8(ostrapel::Tr(ostrapel::kListTitle))
                                           .section(QLatin1Char('&'), 1)
                                           .left(1)
                                           .toLower();
                QTest::sendKeyEvent(QTest::Click, &window, key.key(), letter,
                                    key.keyboardModifiers());
                if (QApplication::focusWidget() != list) {
                    failures << QStringLiteral("%1: the access key misses the list under \"%2\"")
                                    .arg(QString::fromStdString(language), title);
                }
            }
        }
        (void)ostrapel::UseLanguage("en");
        QVERIFY2(failures.isEmpty(),
                 qPrintable(QStringLiteral("at %1 DPI:\n").arg(Dpi()) + failures.join('\n')));
    }

    // The pseudo-language lengthens every text by about 40%: the measure must see that the
    // labels, which the English fills, no longer fit, and name them.
    void aLongerTranslationIsCaught() {
        QStringList measured;
        const std::vector<Overflow> overflows = Overflows(ostrapel::kPseudoLanguage, measured);
        QStringList named;
        for (const Overflow& overflow : overflows) {
            named << overflow.control;
            QVERIFY2(overflow.needed > overflow.available, qPrintable(overflow.text));
        }
        QVERIFY2(named.contains(QStringLiteral("lbl")), qPrintable(measured.join('\n')));
    }
};

QTEST_MAIN(FitTest)
#include "FitTest.moc"
