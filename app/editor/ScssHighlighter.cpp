#include "ScssHighlighter.h"

#include "LongLine.h"
#include "SassName.h"

#include <QScopedValueRollback>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>

namespace pelorin {

namespace {

bool isDigit(QChar c) {
    return c.unicode() >= '0' && c.unicode() <= '9';
}

bool isHexDigit(QChar c) {
    const char16_t u = c.unicode();
    return isDigit(c) || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

int size(QStringView line) {
    return int(line.size());
}

int skipName(QStringView line, int i) {
    while (i < size(line) && isNameChar(line[i]))
        ++i;
    return i;
}

int skipSpaces(QStringView line, int i) {
    while (i < size(line) && line[i].isSpace())
        ++i;
    return i;
}

bool at(QStringView line, int i, char16_t a, char16_t b) {
    return i + 1 < size(line) && line[i].unicode() == a && line[i + 1].unicode() == b;
}

bool nameIs(QStringView line, int from, int to, QStringView word) {
    return line.mid(from, to - from) == word;
}

// The end of the #{...} that starts at i: past its closing brace, or the end
// of the line. Braces inside it nest.
int interpolationEnd(QStringView line, int i) {
    int depth = 1;
    int j = i + 2;
    while (j < size(line) && depth > 0) {
        const char16_t c = line[j].unicode();
        if (c == '{')
            ++depth;
        else if (c == '}')
            --depth;
        ++j;
    }
    return j;
}

// The end of the quoted string that starts at i: past its closing quote, or
// the end of the line. With interpolations on, each #{...} inside is passed
// over whole (a quote in it does not end the string) and reported to
// inner(from, to).
template <typename Inner>
int stringEnd(QStringView line, int i, bool interpolations, Inner&& inner) {
    const QChar quote = line[i];
    const int n = size(line);
    int j = i + 1;
    while (j < n) {
        const QChar c = line[j];
        if (c == u'\\') {
            j += 2;
        } else if (c == quote) {
            ++j;
            break;
        } else if (interpolations && at(line, j, '#', '{')) {
            const int end = interpolationEnd(line, j);
            inner(j, end);
            j = end;
        } else {
            ++j;
        }
    }
    return std::min(j, n);
}

}  // namespace

ScssHighlighter::ScssHighlighter(QTextDocument* document, Syntax syntax, const SyntaxColors& colors)
    : QObject(document), document_(document), highlightSyntax_(syntax) {
    for (std::size_t token = 0; token < TokenCount; ++token)
        formats_[token].setForeground(colors.tokens[token].color);
    if (!document)
        return;
    connect(document, &QTextDocument::contentsChange, this, &ScssHighlighter::contentsChanged);
    if (!document->isEmpty()) {
        rehighlightPending_ = true;
        QTimer::singleShot(0, this, [this] {
            if (rehighlightPending_)
                rehighlight();
        });
    }
}

ScssHighlighter::~ScssHighlighter() {
    if (!document_)
        return;
    disconnect(document_, nullptr, this, nullptr);
    QTextCursor cursor(document_.data());
    cursor.beginEditBlock();
    for (QTextBlock block = document_->begin(); block.isValid(); block = block.next())
        block.layout()->clearFormats();
    cursor.endEditBlock();
}

void ScssHighlighter::rehighlight() {
    if (!document_)
        return;
    QTextCursor cursor(document_.data());
    rehighlight(cursor, QTextCursor::End);
    rehighlightPending_ = false;
}

void ScssHighlighter::rehighlightBlock(const QTextBlock& block) {
    if (!document_ || !block.isValid() || block.document() != document_)
        return;
    const bool pending = rehighlightPending_;
    QTextCursor cursor(block);
    rehighlight(cursor, QTextCursor::EndOfBlock);
    rehighlightPending_ = pending;
}

void ScssHighlighter::rehighlight(QTextCursor& cursor, QTextCursor::MoveOperation operation) {
    // The formats set below are reported as changes of the text again; they
    // are not coloured a second time.
    const QScopedValueRollback<bool> reformatting(inReformatBlocks_, true);
    cursor.beginEditBlock();
    const int from = cursor.position();
    cursor.movePosition(operation);
    reformatBlocks(from, 0, cursor.position() - from);
    cursor.endEditBlock();
}

void ScssHighlighter::contentsChanged(int from, int charsRemoved, int charsAdded) {
    // Until the queued first pass, that pass will colour the edit too.
    if (!inReformatBlocks_ && !rehighlightPending_)
        reformatBlocks(from, charsRemoved, charsAdded);
}

void ScssHighlighter::reformatBlocks(int from, int charsRemoved, int charsAdded) {
    QTextBlock block = document_->findBlock(from);
    if (!block.isValid())
        return;
    const QTextBlock last = document_->findBlock(from + charsAdded + (charsRemoved > 0 ? 1 : 0));
    const int end = last.isValid() ? last.position() + last.length() : document_->characterCount();
    bool stateChanged = false;
    while (block.isValid() && (block.position() < end || stateChanged)) {
        const int before = block.userState();
        reformatBlock(block);
        stateChanged = block.userState() != before;
        block = block.next();
    }
}

void ScssHighlighter::reformatBlock(const QTextBlock& block) {
    currentBlock_ = block;
    const QString text = block.text();
    tokens_.assign(std::size_t(std::min<qsizetype>(text.size(), LongLineLength)), NoToken);
    highlightBlock(text);
    applyFormats();
    currentBlock_ = QTextBlock();
}

void ScssHighlighter::applyFormats() {
    QTextLayout* layout = currentBlock_.layout();
    QList<QTextLayout::FormatRange> ranges = layout->formats();
    const int preeditStart = layout->preeditAreaPosition();
    const int preeditLength = int(layout->preeditAreaText().size());
    bool changed = false;
    if (preeditLength != 0) {
        // The input method's own formats, on its pre-edit text, stay.
        changed = ranges.removeIf([=](const QTextLayout::FormatRange& range) {
            return range.start < preeditStart || range.start + range.length > preeditStart + preeditLength;
        }) > 0;
    } else if (!ranges.isEmpty()) {
        ranges.clear();
        changed = true;
    }
    const int n = int(tokens_.size());
    int i = 0;
    while (i < n) {
        while (i < n && tokens_[i] == NoToken)
            ++i;
        if (i == n)
            break;
        QTextLayout::FormatRange range;
        range.start = i;
        range.format = formats_[tokens_[i]];
        // Neighbours drawn alike make one range, as QSyntaxHighlighter makes them.
        while (i < n && tokens_[i] != NoToken &&
               (tokens_[i] == tokens_[range.start] || formats_[tokens_[i]] == range.format))
            ++i;
        range.length = i - range.start;
        if (preeditLength != 0) {
            if (range.start >= preeditStart)
                range.start += preeditLength;
            else if (range.start + range.length >= preeditStart)
                range.length += preeditLength;
        }
        ranges.append(range);
        changed = true;
    }
    if (changed) {
        layout->setFormats(ranges);
        document_->markContentsDirty(currentBlock_.position(), currentBlock_.length());
    }
}

int ScssHighlighter::previousBlockState() const {
    const QTextBlock previous = currentBlock_.previous();
    return previous.isValid() ? previous.userState() : -1;
}

void ScssHighlighter::colour(int from, int to, Token token) {
    const int n = int(tokens_.size());
    if (from < 0 || from >= n || to <= from)
        return;
    std::fill(tokens_.begin() + from, tokens_.begin() + std::min(to, n), quint8(token));
}

void ScssHighlighter::setSyntax(Syntax value) {
    if (highlightSyntax_ == value)
        return;
    highlightSyntax_ = value;
    rehighlight();
}

void ScssHighlighter::highlightBlock(const QString& text) {
    const QStringView line(text);
    const int previous = previousBlockState();
    const int state = previous < 0 ? 0 : previous;
    if (isLongLine(line.size())) {
        // Coloured up to the limit as if the line ended there; the state it
        // passes on is read from the whole line.
        colourLine(line.first(LongLineLength), state);
        setCurrentBlockState(plainLineState(line, state));
        return;
    }
    setCurrentBlockState(colourLine(line, state));
}

int ScssHighlighter::colourLine(QStringView line, int state) {
    const int n = size(line);
    bool inValue = state & InValue;
    int i = 0;

    if (state & InComment) {
        bool open = true;
        i = blockComment(line, -2, open);
        if (open)
            return state & (InComment | InValue);
    }

    while (i < n) {
        i = skipSpaces(line, i);
        if (i >= n)
            break;
        if (at(line, i, '/', '*')) {
            bool open = false;
            i = blockComment(line, i, open);
            if (open)
                return InComment | (inValue ? InValue : 0);
            continue;
        }
        if (isScss() && at(line, i, '/', '/')) {
            i = lineComment(line, i);
            break;
        }
        if (inValue) {
            bool open = false;
            i = value(line, i, open);
            if (open)
                return InComment | InValue;
            if (i < n) {  // stopped at ';', '{' or '}'
                inValue = false;
                ++i;
            }
            continue;
        }

        const char16_t c = line[i].unicode();
        if (c == '{' || c == '}' || c == ';') {
            ++i;
            continue;
        }
        if (c == '@') {
            int keywordEnd = i;
            const int end = atKeyword(line, i, keywordEnd);
            if (nameIs(line, i + 1, keywordEnd, u"extend")) {
                // @extend names a selector.
                int to = end;
                while (to < n && line[to] != u';' && line[to] != u'}' && line[to] != u'{')
                    ++to;
                name(line, end, to, Token::Selector);
                i = to;
            } else {
                i = end;
                inValue = true;
            }
            continue;
        }
        if (isScss() && c == '$') {
            i = variable(line, i);
            inValue = true;
            continue;
        }

        int end = i;
        switch (classify(line, i, end)) {
        case Statement::Selector:
            name(line, i, end, Token::Selector);
            i = end;
            break;
        case Statement::Property:
            name(line, i, end, Token::Property);
            i = end + 1;  // past the ':'
            inValue = true;
            break;
        case Statement::Value:
            inValue = true;
            break;
        }
    }
    return inValue ? InValue : 0;
}

int ScssHighlighter::plainLineState(QStringView line, int state) const {
    bool inComment = state & InComment;
    const int n = size(line);
    int i = 0;
    while (i + 1 < n) {
        // Every change starts at a '*' inside a comment and at a '/' outside
        // one: searched for, not read unit by unit, over megabytes.
        const qsizetype next = line.indexOf(inComment ? u'*' : u'/', i);
        if (next < 0 || next + 1 >= n)
            break;
        i = int(next);
        if (inComment ? at(line, i, '*', '/') : at(line, i, '/', '*')) {
            inComment = !inComment;
            i += 2;
        } else if (!inComment && isScss() && at(line, i, '/', '/')) {
            break;
        } else {
            ++i;
        }
    }
    return inComment ? InComment : 0;
}

// i is the position of "/*", or -2 when the line starts inside the comment.
int ScssHighlighter::blockComment(QStringView line, int i, bool& open) {
    const int n = size(line);
    const int from = i < 0 ? 0 : i;
    int j = i + 2;
    open = true;
    while (j < n) {
        if (at(line, j, '*', '/')) {
            j += 2;
            open = false;
            break;
        }
        ++j;
    }
    j = std::min(j, n);
    colour(from, j, Token::Comment);
    return j;
}

int ScssHighlighter::lineComment(QStringView line, int i) {
    colour(i, size(line), Token::Comment);
    return size(line);
}

int ScssHighlighter::quotedString(QStringView line, int i) {
    int segment = i;
    const int end = stringEnd(line, i, isScss(), [&](int from, int) {
        colour(segment, from, Token::String);
        segment = interpolation(line, from);
    });
    colour(segment, end, Token::String);
    return end;
}

int ScssHighlighter::interpolation(QStringView line, int i) {
    const int end = interpolationEnd(line, i);
    colour(i, end, Token::Interpolation);
    // Variables inside keep their own colour.
    const QStringView inside = line.first(end);
    for (int k = i + 2; k < end; ++k) {
        if (line[k] == u'$')
            k = variable(inside, k) - 1;
    }
    return end;
}

int ScssHighlighter::variable(QStringView line, int i) {
    const int end = skipName(line, i + 1);
    if (end == i + 1)
        return i + 1;
    colour(i, end, Token::Variable);
    return end;
}

int ScssHighlighter::atKeyword(QStringView line, int i, int& keywordEnd) {
    keywordEnd = skipName(line, i + 1);
    int end = keywordEnd;
    colour(i, end, Token::AtRule);
    if (nameIs(line, i + 1, keywordEnd, u"else")) {
        // "@else if" reads as one directive.
        const int word = skipSpaces(line, end);
        const int wordEnd = skipName(line, word);
        if (nameIs(line, word, wordEnd, u"if")) {
            colour(word, wordEnd, Token::AtRule);
            end = wordEnd;
        }
    }
    return end;
}

int ScssHighlighter::flag(QStringView line, int i) {
    const int word = skipSpaces(line, i + 1);
    const int end = skipName(line, word);
    if (end == word)
        return i + 1;
    colour(i, end, Token::Flag);
    return end;
}

int ScssHighlighter::number(QStringView line, int i) {
    const int n = size(line);
    int j = i;
    if (line[j] == u'-' || line[j] == u'+')
        ++j;
    while (j < n && isDigit(line[j]))
        ++j;
    if (j + 1 < n && line[j] == u'.' && isDigit(line[j + 1])) {
        ++j;
        while (j < n && isDigit(line[j]))
            ++j;
    }
    if (j < n && line[j] == u'%')
        ++j;
    else
        j = skipName(line, j);  // unit
    colour(i, j, Token::Number);
    return j;
}

int ScssHighlighter::value(QStringView line, int i, bool& commentOpen) {
    const int n = size(line);
    commentOpen = false;
    while (i < n) {
        const QChar c = line[i];
        const char16_t u = c.unicode();
        if (u == ';' || u == '{' || u == '}')
            return i;
        if (at(line, i, '/', '*')) {
            i = blockComment(line, i, commentOpen);
            if (commentOpen)
                return n;
        } else if (isScss() && at(line, i, '/', '/')) {
            return lineComment(line, i);
        } else if (u == '"' || u == '\'') {
            i = quotedString(line, i);
        } else if (isScss() && at(line, i, '#', '{')) {
            i = interpolation(line, i);
        } else if (u == '#') {
            const int end = int(std::find_if_not(line.begin() + i + 1, line.end(), isHexDigit) - line.begin());
            const int digits = end - i - 1;
            if ((digits == 3 || digits == 4 || digits == 6 || digits == 8) && (end >= n || !isNameChar(line[end])))
                colour(i, end, Token::HexColor);
            i = skipName(line, i + 1);
        } else if (isScss() && u == '$') {
            i = variable(line, i);
        } else if (u == '!') {
            i = flag(line, i);
        } else if (u == '@') {
            int keywordEnd = i;
            i = atKeyword(line, i, keywordEnd);
        } else if ((i == 0 || !isNameChar(line[i - 1])) &&
                   (isDigit(c) || (u == '.' && i + 1 < n && isDigit(line[i + 1])) ||
                    ((u == '-' || u == '+') && i + 1 < n &&
                     (isDigit(line[i + 1]) || (line[i + 1] == u'.' && i + 2 < n && isDigit(line[i + 2])))))) {
            i = number(line, i);
        } else if (isNameStart(c)) {
            const int end = skipName(line, i);
            if (end < n && line[end] == u'(' && nameIs(line, i, end, u"url")) {
                // An unquoted url(...) is one string, "//" included.
                const int arg = skipSpaces(line, end + 1);
                if (arg < n && line[arg] != u'"' && line[arg] != u'\'') {
                    int close = arg;
                    while (close < n && line[close] != u')')
                        ++close;
                    colour(arg, close, Token::String);
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

ScssHighlighter::Statement ScssHighlighter::classify(QStringView line, int i, int& end) const {
    const int n = size(line);
    int colon = -1;
    int j = i;
    int parens = 0;
    while (j < n) {
        const char16_t u = line[j].unicode();
        if (u == ';' || u == '}' || (u == '{' && (j == 0 || line[j - 1] != u'#')))
            break;
        if (u == '"' || u == '\'') {
            // The look-ahead ends a string at its first matching quote, inside an
            // interpolation too.
            j = stringEnd(line, j, false, [](int, int) {});
            continue;
        }
        if (isScss() && at(line, j, '#', '{')) {
            j = interpolationEnd(line, j);
            continue;
        }
        if (at(line, j, '/', '*') || (isScss() && at(line, j, '/', '/')))
            break;
        if (u == '(')
            ++parens;
        else if (u == ')')
            --parens;
        else if (u == ':' && colon < 0 && parens <= 0)
            colon = j;
        ++j;
    }
    const bool brace = j < n && line[j] == u'{';
    const bool lineEnds = j >= n || line[j] == u'/';
    // A declaration's colon is followed by a space or the value; a pseudo-class
    // colon by its name, as in "a:hover".
    const bool spacedColon = colon >= 0 && (colon + 1 >= j || line[colon + 1].isSpace());
    int last = j - 1;
    while (last >= i && line[last].isSpace())
        --last;
    const bool trailingComma = lineEnds && last >= i && line[last] == u',';

    const QChar first = line[i];
    const bool nameStart = isNameStart(first) || first == u'*' || (isScss() && at(line, i, '#', '{'));

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
        (first == u'.' || first == u'#' || first == u'&' || first == u'%' || first == u'[' || first == u':' ||
         first == u'>' || first == u'+' || first == u'~')) {
        end = j;
        return Statement::Selector;
    }
    end = i;
    return Statement::Value;
}

void ScssHighlighter::name(QStringView line, int from, int to, Token token) {
    while (to > from && line[to - 1].isSpace())
        --to;
    if (to <= from)
        return;
    colour(from, to, token);
    const QStringView inside = line.first(to);
    for (int k = from; k < to; ++k) {
        if (isScss() && at(inside, k, '#', '{'))
            k = interpolation(inside, k) - 1;
        else if (inside[k] == u'"' || inside[k] == u'\'')
            k = quotedString(inside, k) - 1;
    }
}

}  // namespace pelorin
