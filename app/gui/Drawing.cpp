#include "Drawing.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionGroupBox>
#include <QStyledItemDelegate>
#include <QWidget>
#include <algorithm>
#include <cmath>

QRect RowTextRect(const QAbstractItemView* view, const QRect& row);

namespace {

// A group box's caption starts this far in from the frame's corners, and keeps this gap from the
// frame's line on each side.
constexpr int kCaptionInset = 3;
constexpr int kCaptionGap = 1;

// text as it shows: its access key's '&' gone, "&&" a plain '&'.
QString WithoutMnemonic(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) {
            ++i;
        }
        shown += text[i];
    }
    return shown;
}

// Draws a group box as the window's layout places it: the caption on the frame's top edge, the
// line broken behind it, and nothing over its inside, so a white box stays white. Frames that lie
// inside another then read apart: the outer frame's top line runs above the inner one's caption.
class GroupBoxStyle final : public QProxyStyle {
public:
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override {
        const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
        if (control != CC_GroupBox || box == nullptr) {
            return QProxyStyle::subControlRect(control, option, sub, widget);
        }
        const int captionHeight = box->text.isEmpty() ? 0 : box->fontMetrics.height();
        const QRect frame = box->rect.adjusted(0, captionHeight / 2, 0, 0);
        switch (sub) {
        case SC_GroupBoxFrame:
            return frame;
        case SC_GroupBoxLabel: {
            if (box->text.isEmpty()) {
                return {};
            }
            const int text = box->fontMetrics.horizontalAdvance(WithoutMnemonic(box->text));
            const int room = std::max(box->rect.width() - 2 * (kCaptionInset + kCaptionGap), 0);
            return {box->rect.left() + kCaptionInset, box->rect.top(),
                    std::min(text, room) + 2 * kCaptionGap, captionHeight};
        }
        case SC_GroupBoxContents:
            return frame.adjusted(1, captionHeight - captionHeight / 2, -1, -1);
        default:
            return QProxyStyle::subControlRect(control, option, sub, widget);
        }
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override {
        const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
        if (control != CC_GroupBox || box == nullptr ||
            (box->subControls & SC_GroupBoxCheckBox) != 0) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        const QRect frame = subControlRect(control, option, SC_GroupBoxFrame, widget);
        const QRect caption = subControlRect(control, option, SC_GroupBoxLabel, widget);
        painter->save();
        if ((box->subControls & SC_GroupBoxFrame) != 0 &&
            (box->features & QStyleOptionFrame::Flat) == 0) {
            // A line between the theme's text and its background: grey on white, and still seen
            // on a dark theme or in high contrast.
            const QColor text = box->palette.color(QPalette::WindowText);
            const QColor back = box->palette.color(QPalette::Window);
            constexpr qreal kTextShare = 0.3;
            const auto mixed = [](qreal a, qreal b) { return a + (b - a) * kTextShare; };
            QColor line;
            line.setRgbF(static_cast<float>(mixed(back.redF(), text.redF())),
                         static_cast<float>(mixed(back.greenF(), text.greenF())),
                         static_cast<float>(mixed(back.blueF(), text.blueF())));
            painter->setClipRegion(QRegion(frame).subtracted(QRegion(caption)));
            painter->setPen(QPen(line, 1));
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(frame.adjusted(0, 0, -1, -1));
            painter->setClipping(false);
        }
        if ((box->subControls & SC_GroupBoxLabel) != 0 && !box->text.isEmpty()) {
            int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic;
            if (proxy()->styleHint(SH_UnderlineShortcut, option, widget) == 0) {
                flags |= Qt::TextHideMnemonic;
            }
            proxy()->drawItemText(painter, caption.adjusted(kCaptionGap, 0, -kCaptionGap, 0), flags,
                                  box->palette, (box->state & State_Enabled) != 0, box->text,
                                  QPalette::WindowText);
        }
        painter->restore();
    }
};

// The base style with a focus cue that shows: two pixels of the highlight colour inside the
// control's edge.
class FocusCueStyle final : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        QProxyStyle::drawControl(element, option, painter, widget);
        if (element == CE_PushButton || element == CE_ShapedFrame) {
            DrawCue(option, painter, widget);
        }
    }
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        if (control == CC_ComboBox) {
            DrawCue(option, painter, widget);
        }
    }

    // A list's frame is as wide as its cue, which its contents would cover otherwise.
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_DefaultFrameWidth && qobject_cast<const QAbstractItemView*>(widget)) {
            return std::max(2, QProxyStyle::pixelMetric(metric, option, widget));
        }
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

private:
    static void DrawCue(const QStyleOption* option, QPainter* painter, const QWidget* widget) {
        if ((option->state & State_HasFocus) == 0 || widget == nullptr || !widget->hasFocus()) {
            return;
        }
        painter->save();
        QPen pen(option->palette.color(QPalette::Active, QPalette::Highlight), 2);
        pen.setJoinStyle(Qt::MiterJoin);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRectF(option->rect).adjusted(1, 1, -1, -1));
        painter->restore();
    }
};

// Draws a listed save's name with its version beside it, set apart on the right, in the
// list's narrow column; the version takes the width it needs, and the name gives way, cut in
// the middle so that its end, which tells saves apart, stays. Rows are no wider than the list.
class VersionDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QString version = index.data(listrole::kVersion).toString();
        if (version.isEmpty()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QString name = index.data(listrole::kShown).toString();
        item.text.clear();
        const QWidget* widget = option.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

        // Where the window model fitted the name (RowTextWidth).
        const auto* view = qobject_cast<const QAbstractItemView*>(widget);
        const QRect text =
            view != nullptr ? RowTextRect(view, option.rect) : option.rect.adjusted(2, 0, -2, 0);
        // Measured as the window model measured when it fitted the name (frmMain::MeasureText):
        // by the exact advance, rounded up, so a name it found to fit is never elided again.
        const QFontMetricsF metrics(item.font);
        const int versionWidth =
            std::min(static_cast<int>(std::ceil(metrics.horizontalAdvance(version))), text.width());
        const int nameWidth = std::max(0, text.width() - versionWidth - kVersionGap);
        painter->save();
        painter->setFont(item.font);
        painter->setPen(item.palette.color((item.state & QStyle::State_Selected) != 0
                                               ? QPalette::HighlightedText
                                               : QPalette::Text));
        painter->drawText(QRect(text.left(), text.top(), nameWidth, text.height()),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          metrics.elidedText(name, Qt::ElideMiddle, nameWidth));
        painter->drawText(text, Qt::AlignRight | Qt::AlignVCenter,
                          metrics.elidedText(version, Qt::ElideRight, text.width()));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
        if (view != nullptr) {
            size.setWidth(view->viewport()->width());
        }
        return size;
    }
};

} // namespace

QStyle* NewGroupBoxStyle(QObject* parent) {
    auto* style = new GroupBoxStyle;
    style->setParent(parent);
    return style;
}

QStyle* NewFocusCueStyle(QObject* parent) {
    auto* style = new FocusCueStyle;
    style->setParent(parent);
    return style;
}

QAbstractItemDelegate* NewVersionDelegate(QObject* parent) {
    return new VersionDelegate(parent);
}

QRect RowTextRect(const QAbstractItemView* view, const QRect& row) {
    // The item's text as the style places it (a focus frame's margin each side), 2 pixels in,
    // and clear of the viewport's edge: the version stays in view.
    const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const int width = view->isVisible() ? view->viewport()->width() : view->contentsRect().width();
    QRect text = row.adjusted(margin + 2, 0, -(margin + 2), 0);
    text.setRight(std::min(text.right(), width - 3));
    return text;
}

int GroupBoxCaptionRoom(const QWidget* groupBox) {
    return std::max(groupBox->width() - 2 * (kCaptionInset + kCaptionGap), 0);
}

int RowTextWidth(const QAbstractItemView* view) {
    // The viewport is laid out once the view shows; until then it takes the whole inside.
    const int width = view->isVisible() ? view->viewport()->width() : view->contentsRect().width();
    return std::max(RowTextRect(view, QRect(0, 0, width, 1)).width(), 0);
}

void PaintWhite(QWidget* widget) {
    QPalette palette = widget->palette();
    if (palette.color(QPalette::Active, QPalette::WindowText).lightness() >= 128) {
        return;
    }
    palette.setColor(QPalette::Window, Qt::white);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QFont LabelFont() {
    const QString classic = QStringLiteral("MS Sans Serif");
    QFont font = QFontDatabase::families().contains(classic)
                     ? QFont(classic)
                     : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setBold(true);
    return font;
}
