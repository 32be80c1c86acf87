#include "mdlReportBox.h"

#include "Words.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QString>
#include <QTextEdit>
#include <QTimer>
#include <algorithm>
#include <limits>

namespace mdlReportBox {

namespace {

QString FromBytes(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Room left for the window frame the system draws around the box.
constexpr int kFrameAllowance = 48;
// The details pane shows this many lines where the screen has room, else the toolkit's few.
constexpr int kDetailsLines = 12;

void FillReportBox(QMessageBox& box, const ostrapel::BoxReport& report, bool allChanged,
                   bool tallDetails) {
    box.setIcon(allChanged ? QMessageBox::Information : QMessageBox::Warning);
    box.setWindowTitle(QStringLiteral("Ostrapel"));
    box.setTextFormat(Qt::PlainText);
    box.setText(FromBytes(report.text));
    box.setDetailedText(FromBytes(report.details));
    box.setStandardButtons(QMessageBox::Ok);
    if (auto* details = box.findChild<QTextEdit*>()) {
        // One entry a line, never broken inside a name; as tall as it is made.
        details->setLineWrapMode(QTextEdit::NoWrap);
        if (tallDetails) {
            const int margins = 2 * (details->frameWidth() +
                                     static_cast<int>(details->document()->documentMargin()));
            details->setMinimumHeight(kDetailsLines * details->fontMetrics().lineSpacing() +
                                      margins);
            details->setMaximumHeight(QWIDGETSIZE_MAX);
            details->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        }
    }
}

// Lets the user make the box larger: the message box fixes its size whenever its contents
// change (the details shown or hidden), so the upper limit is lifted again right after.
class Resizable final : public QObject {
public:
    explicit Resizable(QMessageBox& box) : QObject(&box), box_(box) {
        box.setSizeGripEnabled(true);
        box.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (watched == &box_ &&
            (type == QEvent::LayoutRequest || type == QEvent::Show || type == QEvent::Resize)) {
            QTimer::singleShot(0, this, [this] {
                if (box_.minimumSize() == box_.maximumSize()) {
                    box_.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
                }
            });
        }
        return false;
    }

private:
    QMessageBox& box_;
};

// Moves a window back onto its screen where it sticks out, its top left corner first.
void KeepOnScreen(QWidget& window) {
    if (window.screen() == nullptr) {
        return;
    }
    const QRect room = window.screen()->availableGeometry();
    const QRect frame = window.frameGeometry();
    QPoint shift(std::min(0, room.right() - frame.right()),
                 std::min(0, room.bottom() - frame.bottom()));
    shift.rx() = std::max(shift.x(), room.left() - frame.left());
    shift.ry() = std::max(shift.y(), room.top() - frame.top());
    if (!shift.isNull()) {
        window.move(window.pos() + shift);
    }
}

// The size of the box with its details shown, measured without showing it on the screen.
QSize ReportBoxSize(QWidget* owner, const ostrapel::BoxReport& report, bool allChanged,
                    bool tallDetails) {
    QMessageBox probe(owner);
    probe.setAttribute(Qt::WA_DontShowOnScreen);
    FillReportBox(probe, report, allChanged, tallDetails);
    probe.show();
    if (QAbstractButton* details = DetailsButton(probe)) {
        details->click();
    }
    const QSize size = probe.size();
    probe.hide();
    return size;
}

} // namespace

// Shows the report box with the longest summary that fits the screen, details shown, and
// returns once the user has dismissed it. A folder named whole can make the box wider than the
// screen: the shorter summaries shorten folders too.
void Show(QWidget* owner, const ostrapel::ReportBox& box) {
    const QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
    const QSize room =
        screen != nullptr ? screen->availableGeometry().size().shrunkBy(
                                QMargins(0, 0, kFrameAllowance, kFrameAllowance))
                          : QSize(std::numeric_limits<int>::max(), std::numeric_limits<int>::max());
    ostrapel::BoxReport report;
    bool tallDetails = true;
    const auto fits = [&] {
        for (const ostrapel::SummaryLimits& limits : ostrapel::ReportBox::ShorterSummaries()) {
            report = box.Compose(limits);
            const QSize size = ReportBoxSize(owner, report, !box.warning, tallDetails);
            if (size.width() <= room.width() && size.height() <= room.height()) {
                return true;
            }
        }
        return false;
    };
    if (!fits()) {
        tallDetails = false; // a small screen: the details pane as short as the toolkit makes it
        (void)fits();
    }
    QMessageBox shown(owner);
    FillReportBox(shown, report, !box.warning, tallDetails);
    new Resizable(shown);
    // Ctrl+C copies the report, its details too, as text.
    auto* copy = new QShortcut(QKeySequence::Copy, &shown);
    QObject::connect(copy, &QShortcut::activated, &shown, [copied = FromBytes(report.Copied())] {
        QGuiApplication::clipboard()->setText(copied);
    });
    if (QAbstractButton* details = DetailsButton(shown)) {
        // Showing the details makes the box taller downwards; keep its bottom on the screen.
        QObject::connect(
            details, &QAbstractButton::clicked, &shown, [&shown] { KeepOnScreen(shown); },
            Qt::QueuedConnection);
        // The toolkit's words have no access key; ours do, set again after it sets its own.
        const auto label = [&shown, details] {
            const QTextEdit* text = shown.findChild<QTextEdit*>();
            const bool open = text != nullptr && text->isVisible();
            details->setText(FromBytes(open ? ostrapel::Tr("Hide &details...")
                                            : ostrapel::Tr("Show &details...")));
        };
        QObject::connect(details, &QAbstractButton::clicked, &shown, label, Qt::QueuedConnection);
        QTimer::singleShot(0, &shown, label);
    }
    shown.exec();
}

QAbstractButton* DetailsButton(const QMessageBox& box) {
    for (QAbstractButton* button : box.buttons()) {
        if (box.buttonRole(button) == QMessageBox::ActionRole) {
            return button;
        }
    }
    return nullptr;
}

} // namespace mdlReportBox
