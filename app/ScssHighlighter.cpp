#include "ScssHighlighter.h"

#include <QStringView>

#include <algorithm>

namespace pelorin {

namespace {

QTextCharFormat foreground(const QColor& color) {
    QTextCharFormat format;
    format.setForeground(color);
    return format;
}

bool isDigit(QChar c) { return c.unicode() >= '0' && c.unicode() <= '9'; }

bool isHexDigit(QChar c) {
    const char16_t u = c.unicode();
    return isDigit(c) || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

// Sass identifiers: ASCII letters, '_', '-' and every non-ASCII character.
bool isNameStart(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' || u == '-' || u >= 0x80;
}

bool isNameChar(QChar c) { return isNameStart(c) || isDigit(c); }

int skipName(const QChar* p, int n, int i) {
    while (i < n && isNameChar(p[i]))
        ++i;
    return i;
}

int skipSpaces(const QChar* p, int n, int i) {
    while (i < n && p[i].isSpace())
        ++i;
    return i;
}

bool at(const QChar* p, int n, int i, char16_t a, char16_t b) {
    return i + 1 < n && p[i].unicode() == a && p[i + 1].unicode() == b;
}

bool nameIs(const QChar* p, int from, int to, QStringView word) {
    return QStringView(p + from, to - from) == word;
}

}  // namespace

ScssHighlighter::ScssHighlighter(QTextDocument* document, Mode mode, const SyntaxColors& colors)
    : QSyntaxHighlighter(document),
      highlightMode(mode),
      commentFormat(foreground(colors.comment)),
      stringFormat(foreground(colors.string)),
      variableFormat(foreground(colors.variable)),
      atRuleFormat(foreground(colors.atRule)),
      selectorFormat(foreground(colors.selector)),
      propertyFormat(foreground(colors.property)),
      numberFormat(foreground(colors.number)),
      hexColorFormat(foreground(colors.hexColor)),
      flagFormat(foreground(colors.flag)),
      interpolationFormat(foreground(colors.interpolation)) {}

void ScssHighlighter::highlightBlock(const QString& text) {
    const QChar* p = text.constData();
    const int n = int(text.size());
    const int previous = previousBlockState();
    const int state = previous < 0 ? 0 : previous;
    if (n > MaxLineLength) {
        setCurrentBlockState(plainLineState(p, n, state));
        return;
    }
    bool inValue = state & InValue;
    int i = 0;

    if (state & InComment) {
        bool open = true;
        i = blockComment(p, n, -2, open);
        if (open) {
            setCurrentBlockState(state & (InComment | InValue));
            return;
        }
    }

    while (i < n) {
        i = skipSpaces(p, n, i);
        if (i >= n)
            break;
        if (at(p, n, i, '/', '*')) {
            bool open = false;
            i = blockComment(p, n, i, open);
            if (open) {
                setCurrentBlockState(InComment | (inValue ? InValue : 0));
                return;
            }
            continue;
        }
        if (isScss() && at(p, n, i, '/', '/')) {
            i = lineComment(i, n);
            break;
        }
        if (inValue) {
            bool open = false;
            i = value(p, n, i, open);
            if (open) {
                setCurrentBlockState(InComment | InValue);
                return;
            }
            if (i < n) {  // stopped at ';', '{' or '}'
                inValue = false;
                ++i;
            }
            continue;
        }

        const char16_t c = p[i].unicode();
        if (c == '{' || c == '}' || c == ';') {
            ++i;
            continue;
        }
        if (c == '@') {
            int keywordEnd = i;
            const int end = atKeyword(p, n, i, keywordEnd);
            if (nameIs(p, i + 1, keywordEnd, u"extend")) {
                // @extend names a selector.
                int to = end;
                while (to < n && p[to] != u';' && p[to] != u'}' && p[to] != u'{')
                    ++to;
                name(p, end, to, selectorFormat);
                i = to;
            } else {
                i = end;
                inValue = true;
            }
            continue;
        }
        if (isScss() && c == '$') {
            i = variable(p, n, i);
            inValue = true;
            continue;
        }

        int end = i;
        switch (classify(p, n, i, end)) {
        case Statement::Selector:
            name(p, i, end, selectorFormat);
            i = end;
            break;
        case Statement::Property:
            name(p, i, end, propertyFormat);
            i = end + 1;  // past the ':'
            inValue = true;
            break;
        case Statement::Value:
            inValue = true;
            break;
        }
    }
    setCurrentBlockState(inValue ? InValue : 0);
}

int ScssHighlighter::plainLineState(const QChar* p, int n, int state) const {
    bool inComment = state & InComment;
    for (int i = 0; i + 1 < n; ++i) {
        if (inComment ? at(p, n, i, '*', '/') : at(p, n, i, '/', '*')) {
            inComment = !inComment;
            ++i;
        } else if (!inComment && isScss() && at(p, n, i, '/', '/')) {
            break;
        }
    }
    return inComment ? InComment : 0;
}

// i is the position of "/*", or -2 when the line starts inside the comment.
int ScssHighlighter::blockComment(const QChar* p, int n, int i, bool& open) {
    const int from = i < 0 ? 0 : i;
    int j = i + 2;
    open = true;
    while (j < n) {
        if (at(p, n, j, '*', '/')) {
            j += 2;
            open = false;
            break;
        }
        ++j;
    }
    if (j > n)
        j = n;
    setFormat(from, j - from, commentFormat);
    return j;
}

int ScssHighlighter::lineComment(int i, int n) {
    setFormat(i, n - i, commentFormat);
    return n;
}

int ScssHighlighter::quotedString(const QChar* p, int n, int i) {
    const QChar quote = p[i];
    int segment = i;
    int j = i + 1;
    while (j < n) {
        const QChar c = p[j];
        if (c == u'\\') {
            j += 2;
        } else if (c == quote) {
            ++j;
            break;
        } else if (isScss() && at(p, n, j, '#', '{')) {
            setFormat(segment, j - segment, stringFormat);
            j = interpolation(p, n, j);
            segment = j;
        } else {
            ++j;
        }
    }
    if (j > n)
        j = n;
    setFormat(segment, j - segment, stringFormat);
    return j;
}

int ScssHighlighter::interpolation(const QChar* p, int n, int i) {
    int depth = 1;
    int j = i + 2;
    while (j < n && depth > 0) {
        const char16_t c = p[j].unicode();
        if (c == '{')
            ++depth;
        else if (c == '}')
            --depth;
        ++j;
    }
    setFormat(i, j - i, interpolationFormat);
    // Variables inside keep their own colour.
    for (int k = i + 2; k < j; ++k) {
        if (p[k] == u'$')
            k = variable(p, j, k) - 1;
    }
    return j;
}

int ScssHighlighter::variable(const QChar* p, int n, int i) {
    const int end = skipName(p, n, i + 1);
    if (end > i + 1)
        setFormat(i, end - i, variableFormat);
    return end > i + 1 ? end : i + 1;
}

int ScssHighlighter::atKeyword(const QChar* p, int n, int i, int& keywordEnd) {
    keywordEnd = skipName(p, n, i + 1);
    int end = keywordEnd;
    setFormat(i, end - i, atRuleFormat);
    if (nameIs(p, i + 1, keywordEnd, u"else")) {
        // "@else if" reads as one directive.
        const int word = skipSpaces(p, n, end);
        const int wordEnd = skipName(p, n, word);
        if (nameIs(p, word, wordEnd, u"if")) {
            setFormat(word, wordEnd - word, atRuleFormat);
            end = wordEnd;
        }
    }
    return end;
}

int ScssHighlighter::flag(const QChar* p, int n, int i) {
    const int word = skipSpaces(p, n, i + 1);
    const int end = skipName(p, n, word);
    if (end == word)
        return i + 1;
    setFormat(i, end - i, flagFormat);
    return end;
}

int ScssHighlighter::number(const QChar* p, int n, int i) {
    int j = i;
    if (p[j] == u'-' || p[j] == u'+')
        ++j;
    while (j < n && isDigit(p[j]))
        ++j;
    if (j + 1 < n && p[j] == u'.' && isDigit(p[j + 1])) {
        ++j;
        while (j < n && isDigit(p[j]))
            ++j;
    }
    if (j < n && p[j] == u'%')
        ++j;
    else
        j = skipName(p, n, j);  // unit
    setFormat(i, j - i, numberFormat);
    return j;
}

int ScssHighlighter::value(const QChar* p, int n, int i, bool& commentOpen) {
    commentOpen = false;
    while (i < n) {
        const QChar c = p[i];
        const char16_t u = c.unicode();
        if (u == ';' || u == '{' || u == '}')
            return i;
        if (at(p, n, i, '/', '*')) {
            i = blockComment(p, n, i, commentOpen);
            if (commentOpen)
                return n;
        } else if (isScss() && at(p, n, i, '/', '/')) {
            return lineComment(i, n);
        } else if (u == '"' || u == '\'') {
            i = quotedString(p, n, i);
        } else if (isScss() && at(p, n, i, '#', '{')) {
            i = interpolation(p, n, i);
        } else if (u == '#') {
            const int end = i + 1 + int(std::find_if_not(p + i + 1, p + n, isHexDigit) - (p + i + 1));
            const int digits = end - i - 1;
            if ((digits == 3 || digits == 4 || digits == 6 || digits == 8) && (end >= n || !isNameChar(p[end])))
                setFormat(i, end - i, hexColorFormat);
            i = skipName(p, n, i + 1);
        } else if (isScss() && u == '$') {
            i = variable(p, n, i);
        } else if (u == '!') {
            i = flag(p, n, i);
        } else if (u == '@') {
            int keywordEnd = i;
            i = atKeyword(p, n, i, keywordEnd);
        } else if ((i == 0 || !isNameChar(p[i - 1])) &&
                   (isDigit(c) || (u == '.' && i + 1 < n && isDigit(p[i + 1])) ||
                    ((u == '-' || u == '+') && i + 1 < n &&
                     (isDigit(p[i + 1]) || (p[i + 1] == u'.' && i + 2 < n && isDigit(p[i + 2])))))) {
            i = number(p, n, i);
        } else if (isNameStart(c)) {
            const int end = skipName(p, n, i);
            if (end < n && p[end] == u'(' && nameIs(p, i, end, u"url")) {
                // An unquoted url(...) is one string, "//" included.
                const int arg = skipSpaces(p, n, end + 1);
                if (arg < n && p[arg] != u'"' && p[arg] != u'\'') {
                    int close = arg;
                    while (close < n && p[close] != u')')
                        ++close;
                    setFormat(arg, close - arg, stringFormat);
                    i = close;
                    continue;
                }
            }
            i = end;
        } else {
            ++i;
        }
    }
    return i;
}

ScssHighlighter::Statement ScssHighlighter::classify(const QChar* p, int n, int i, int& end) const {
    int colon = -1;
    int j = i;
    int parens = 0;
    while (j < n) {
        const char16_t u = p[j].unicode();
        if (u == ';' || u == '}' || (u == '{' && (j == 0 || p[j - 1] != u'#')))
            break;
        if (u == '"' || u == '\'') {
            ++j;
            while (j < n && p[j].unicode() != u) {
                if (p[j] == u'\\')
                    ++j;
                ++j;
            }
        } else if (isScss() && at(p, n, j, '#', '{')) {
            int depth = 1;
            j += 2;
            while (j < n && depth > 0) {
                if (p[j] == u'{')
                    ++depth;
                else if (p[j] == u'}')
                    --depth;
                ++j;
            }
            continue;
        } else if (at(p, n, j, '/', '*') || (isScss() && at(p, n, j, '/', '/'))) {
            break;
        } else if (u == '(') {
            ++parens;
        } else if (u == ')') {
            --parens;
        } else if (u == ':' && colon < 0 && parens <= 0) {
            colon = j;
        }
        ++j;
    }
    if (j > n)
        j = n;
    const bool brace = j < n && p[j] == u'{';
    const bool lineEnds = j >= n || p[j] == u'/';
    // A declaration's colon is followed by a space or the value; a pseudo-class
    // colon by its name, as in "a:hover".
    const bool spacedColon = colon >= 0 && (colon + 1 >= j || p[colon + 1].isSpace());
    int last = j - 1;
    while (last >= i && p[last].isSpace())
        --last;
    const bool trailingComma = lineEnds && last >= i && p[last] == u',';

    const QChar first = p[i];
    const bool nameStart =
        isNameStart(first) || first == u'*' || (isScss() && at(p, n, i, '#', '{'));

    if (brace && !(colon >= 0 && spacedColon && nameStart)) {
        end = j;
        return Statement::Selector;
    }
    if (colon >= 0 && nameStart && !(trailingComma && !spacedColon)) {
        end = colon;
        return Statement::Property;
    }
    if (trailingComma || (colon >= 0 && !spacedColon && lineEnds)) {
        end = j;
        return Statement::Selector;
    }
    if (lineEnds && colon < 0 &&
        (first == u'.' || first == u'#' || first == u'&' || first == u'%' || first == u'[' ||
         first == u':' || first == u'>' || first == u'+' || first == u'~')) {
        end = j;
        return Statement::Selector;
    }
    end = i;
    return Statement::Value;
}

void ScssHighlighter::name(const QChar* p, int from, int to, const QTextCharFormat& format) {
    while (to > from && p[to - 1].isSpace())
        --to;
    if (to <= from)
        return;
    setFormat(from, to - from, format);
    for (int k = from; k < to; ++k) {
        if (isScss() && at(p, to, k, '#', '{'))
            k = interpolation(p, to, k) - 1;
        else if (p[k] == u'"' || p[k] == u'\'')
            k = quotedString(p, to, k) - 1;
    }
}

}  // namespace pelorin
