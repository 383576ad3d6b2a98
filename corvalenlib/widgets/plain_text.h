// SPDX-License-Identifier: MIT
// Text from outside the program (instrument replies, host and mDNS names,
// error messages that quote them, the aliases file) is never read as markup:
// Qt would render "<b>" in bold and load what an "<img src=...>" names, on
// the window's thread. Labels that can hold such text are plain text, and a
// tooltip, which Qt reads as rich text whenever it looks like markup, gets
// its text escaped inside a paragraph of its own.
#pragma once

#include <QLabel>
#include <QSizePolicy>
#include <QString>

namespace CorvalenLib {

// A word-wrapping label that shows whatever it is given literally. Its
// text never widens the dialog: a long line wraps, and a word too long for
// the width is cut (the label's tooltip, where set, holds it whole).
inline QLabel* plainLabel() {
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

// A message line that keeps its place, empty or not: two lines tall at
// least, so that a message coming or going moves nothing below it.
inline QLabel* messageLabel() {
    auto* label = plainLabel();
    label->setMinimumHeight(2 * label->fontMetrics().lineSpacing());
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// A tooltip that shows text literally (and wraps when long).
[[nodiscard]] inline QString plainTip(const QString& text) {
    if (text.isEmpty()) return {};
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

}  // namespace CorvalenLib
