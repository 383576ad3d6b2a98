// SPDX-License-Identifier: MIT
#include "window/tab_list_delegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QTextOption>

#include <cmath>

namespace tq {
namespace {

constexpr int kAverageCharsPerStop = 8;  // 32 dialog units of four per character

// A dialog unit's average character is the mean width of the 52 letters,
// rounded up; Qt's averageCharWidth() runs narrower on common Linux fonts,
// and then "Channel" overruns its stop and the header's columns slip one
// stop to the right of the rows'.
qreal averageLetterWidth(const QFontMetrics& metrics) {
    static const QString letters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return std::ceil(metrics.horizontalAdvance(letters) / 52.0);
}

QTextOption tabbedText(const QFontMetrics& metrics) {
    QTextOption option(Qt::AlignLeft | Qt::AlignVCenter);
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(TabListDelegate::tabStopDistance(metrics));
    return option;
}

}  // namespace

qreal TabListDelegate::tabStopDistance(const QFontMetrics& metrics) {
    return kAverageCharsPerStop * averageLetterWidth(metrics);
}

void TabListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QWidget* widget = item.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
    const QString text = item.text;

    // The style draws background, selection and focus; the text is ours.
    item.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

    const bool selected = (item.state & QStyle::State_Selected) != 0;
    const QPalette::ColorGroup group =
        (item.state & QStyle::State_Enabled) != 0 ? QPalette::Normal : QPalette::Disabled;
    painter->save();
    painter->setFont(item.font);
    painter->setPen(
        item.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(QRectF(textRect), text, tabbedText(item.fontMetrics));
    painter->restore();
}

QSize TabListDelegate::sizeHint(const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    // Wide enough for the expanded tabs, so that the list can scroll to the
    // end of a row.
    const QRect expanded = item.fontMetrics.boundingRect(
        QRect(), Qt::TextExpandTabs | Qt::TextSingleLine, item.text,
        static_cast<int>(std::lround(tabStopDistance(item.fontMetrics))));
    const int margins = size.width() - item.fontMetrics.horizontalAdvance(item.text);
    size.setWidth(expanded.width() + std::max(margins, 0));
    return size;
}

}  // namespace tq
