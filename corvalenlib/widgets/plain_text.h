// SPDX-License-Identifier: MIT
// Text from outside the program (instrument replies, host and mDNS names,
// error messages that quote them, the aliases file) is never read as markup:
// Qt would render "<b>" in bold and load what an "<img src=...>" names, on
// the window's thread. Labels that can hold such text are plain text, and a
// tooltip, which Qt reads as rich text whenever it looks like markup, gets
// its text escaped inside a paragraph of its own.
#pragma once

#include <QLabel>
#include <QString>

namespace CorvalenLib {

// A word-wrapping label that shows whatever it is given literally.
inline QLabel* plainLabel() {
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

// A tooltip that shows text literally (and wraps when long).
[[nodiscard]] inline QString plainTip(const QString& text) {
    if (text.isEmpty()) return {};
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

}  // namespace CorvalenLib
