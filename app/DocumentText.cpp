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
    const char16_t* const data = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    const auto isBreak = [](char16_t c) { return c == u'\r' || isDocumentLineBreak(c); };
    qsizetype i = 0;
    while (i < n && !isBreak(data[i]))
        ++i;
    // The usual case, libsass's output among it: nothing to change, no copy.
    if (i == n)
        return text;

    QString result;
    result.reserve(n);
    qsizetype run = 0;  // start of the text not yet appended
    for (; i < n; ++i) {
        const char16_t c = data[i];
        if (!isBreak(c))
            continue;
        result.append(QStringView(data + run, i - run));
        result.append(u'\n');
        if (c == u'\r' && i + 1 < n && data[i + 1] == u'\n')
            ++i;
        run = i + 1;
    }
    result.append(QStringView(data + run, n - run));
    return result;
}

}  // namespace pelorin
