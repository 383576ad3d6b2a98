// SPDX-License-Identifier: MIT
// Draws list lines with TAB characters as column gaps, the way a list box
// with tab stops does: a stop every eight average letter widths.
#pragma once

#include <QStyledItemDelegate>

class QFontMetrics;

namespace tq {

class TabListDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    [[nodiscard]] static qreal tabStopDistance(const QFontMetrics& metrics);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const override;
};

}  // namespace tq
