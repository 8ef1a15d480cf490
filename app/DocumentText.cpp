#include "DocumentText.h"

#include <QTextDocument>

namespace pelorin {

bool isDocumentLineBreak(char16_t c) {
    switch (c) {
    case QChar::ParagraphSeparator:
    case QChar::LineSeparator:
    case 0xfdd0:  // frame start marker
    case 0xfdd1:  // frame end marker
        return true;
    default:
        return false;
    }
}

QString documentText(const QTextDocument& document) {
    QString text = document.toRawText();
    for (QChar& c : text) {
        if (isDocumentLineBreak(c.unicode()))
            c = u'\n';
    }
    return text;
}

QString normalizedLineBreaks(const QString& text) {
    QString result;
    result.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == u'\r') {
            if (i + 1 < n && text.at(i + 1) == u'\n')
                ++i;
            result.append(u'\n');
        } else if (isDocumentLineBreak(c)) {
            result.append(u'\n');
        } else {
            result.append(QChar(c));
        }
    }
    return result;
}

}  // namespace pelorin
