#include "mdlReportBox.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QString>
#include <algorithm>
#include <limits>

namespace mdlReportBox {

namespace {

QString FromBytes(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Room left for the window frame the system draws around the box.
constexpr int kFrameAllowance = 48;

void FillReportBox(QMessageBox& box, const ostrapel::BoxReport& report, bool allChanged) {
    box.setIcon(allChanged ? QMessageBox::Information : QMessageBox::Warning);
    box.setWindowTitle(QStringLiteral("Ostrapel"));
    box.setTextFormat(Qt::PlainText);
    box.setText(FromBytes(report.text));
    box.setDetailedText(FromBytes(report.details));
    box.setStandardButtons(QMessageBox::Ok);
}

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
QSize ReportBoxSize(QWidget* owner, const ostrapel::BoxReport& report, bool allChanged) {
    QMessageBox probe(owner);
    probe.setAttribute(Qt::WA_DontShowOnScreen);
    FillReportBox(probe, report, allChanged);
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
    for (const ostrapel::SummaryLimits& limits : ostrapel::ReportBox::ShorterSummaries()) {
        report = box.Compose(limits);
        const QSize size = ReportBoxSize(owner, report, !box.warning);
        if (size.width() <= room.width() && size.height() <= room.height()) {
            break;
        }
    }
    QMessageBox shown(owner);
    FillReportBox(shown, report, !box.warning);
    if (QAbstractButton* details = DetailsButton(shown)) {
        // Showing the details makes the box taller downwards; keep its bottom on the screen.
        QObject::connect(
            details, &QAbstractButton::clicked, &shown, [&shown] { KeepOnScreen(shown); },
            Qt::QueuedConnection);
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
