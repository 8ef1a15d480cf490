#include "DocumentText.h"

#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <iterator>

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

namespace {

// Every document line break lies at or above U+2028: one comparison settles
// nearly every character.
inline bool isLineBreakAtOrAbove2028(char16_t c) { return c >= QChar::LineSeparator && isDocumentLineBreak(c); }

// What normalizedLineBreaks() turns into '\n': each character, then all of them.
inline bool isBreakToNormalize(char16_t c) { return c == u'\r' || isLineBreakAtOrAbove2028(c); }
constexpr char16_t FoldedBreaks[] = {u'\r', QChar::ParagraphSeparator, QChar::LineSeparator, 0xfdd0, 0xfdd1};

QString foldedLineBreaks(QString text) {
    char16_t* const begin = reinterpret_cast<char16_t*>(text.data());
    std::replace_if(begin, begin + text.size(), isLineBreakAtOrAbove2028, u'\n');
    return text;
}

}  // namespace

QString documentText(const QTextDocument& document) { return foldedLineBreaks(document.toRawText()); }

QString documentText(const QTextDocument& document, int from, int length) {
    if (length <= 0)
        return QString();
    QTextCursor range(const_cast<QTextDocument*>(&document));
    range.setPosition(from);
    range.setPosition(from + length, QTextCursor::KeepAnchor);
    return foldedLineBreaks(range.selectedText());
}

bool holdsBreakToNormalize(QStringView text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return isBreakToNormalize(c.unicode()); });
}

QString normalizedLineBreaks(const QString& text) {
    const char16_t* const data = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    // The usual case, libsass's output among it: nothing to change, no copy.
    // One search per character is faster than one pass testing each of them.
    const bool anyBreak = std::any_of(std::begin(FoldedBreaks), std::end(FoldedBreaks),
                                      [&text](char16_t c) { return text.contains(QChar(c)); });
    if (!anyBreak)
        return text;
    qsizetype i = 0;
    while (i < n && !isBreakToNormalize(data[i]))
        ++i;

    QString result;
    result.reserve(n);
    qsizetype run = 0;  // start of the text not yet appended
    for (; i < n; ++i) {
        const char16_t c = data[i];
        if (!isBreakToNormalize(c))
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
