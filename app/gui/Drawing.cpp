#include "Drawing.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QProxyStyle>
#include <QStyledItemDelegate>
#include <QWidget>
#include <algorithm>
#include <cmath>

QRect RowTextRect(const QAbstractItemView* view, const QRect& row);

namespace {

// Draws a group box's frame as the base style does, without the faint fill some styles (Fusion)
// lay over its inside, so a white box stays white.
class FrameWithoutFillStyle final : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element != PE_FrameGroupBox || option->rect.isEmpty()) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const qreal ratio =
            painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1;
        QImage layer(option->rect.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(ratio);
        layer.fill(Qt::transparent);
        {
            QPainter layerPainter(&layer);
            layerPainter.translate(-option->rect.topLeft());
            QProxyStyle::drawPrimitive(element, option, &layerPainter, widget);
        }
        // The line is drawn well opaque; the fill is a tint of a few percent.
        constexpr int kFillAlpha = 32;
        for (int y = 0; y < layer.height(); ++y) {
            auto* pixels = reinterpret_cast<QRgb*>(layer.scanLine(y));
            for (int x = 0; x < layer.width(); ++x) {
                if (qAlpha(pixels[x]) < kFillAlpha) {
                    pixels[x] = 0;
                }
            }
        }
        painter->drawImage(option->rect.topLeft(), layer);
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

QStyle* NewFrameWithoutFillStyle(QObject* parent) {
    auto* style = new FrameWithoutFillStyle;
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
