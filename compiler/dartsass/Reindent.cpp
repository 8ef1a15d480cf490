#include "Reindent.h"

#include "Vlq.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace VantorCompiler::dartsass {

namespace {

// What becomes of the start of one line.
struct LinePlan {
    std::size_t start = 0;
    bool replace = false;
    // With replace: the bytes of leading indentation replaced, and the nesting level of the
    // indentation that takes their place.
    std::size_t oldLength = 0;
    std::size_t level = 0;
};

// Where a line break met by the scan falls, which decides what becomes of the next line.
enum class LineContext {
    Between,  // between statements: the next line starts one
    Plain,    // inside a statement, outside any comment, string or url
    Comment,  // inside a comment
    Literal,  // inside a string or an unquoted url: the line is kept
};

// A line break inside a statement, resolved once the statement's kind is known.
struct PendingLine {
    std::size_t line;
    LineContext context;
    std::size_t commentLine;  // with Comment: the line the comment began on
};

struct Scan {
    std::string_view text;
    std::size_t pos = 0;
    std::size_t depth = 0;
    std::size_t line = 0;
    // The line plans[0] is for: the scan may start at a checkpoint.
    std::size_t base = 0;
    std::vector<LinePlan> plans;
    std::vector<PendingLine> pending;
    // How many of pending come before the statement's last byte that is not white space; the
    // rest lie between it and the '}' or the end that closed it.
    std::size_t pendingInside = 0;
    // Where the checkpoints passed are recorded, when they are.
    std::vector<ReindentCheckpoint>* checkpoints = nullptr;
    // With previous: from stopFrom on, the text equals the previous scan's text shifted by
    // shift bytes, and the scan stops at a checkpoint that matches one of previous; stopAt is
    // then that one's index in previous.
    const std::vector<ReindentCheckpoint>* previous = nullptr;
    std::size_t stopFrom = 0;
    std::ptrdiff_t shift = 0;
    std::size_t stopAt = 0;
    bool stopped = false;
};

LinePlan& planOf(Scan& s, std::size_t line) {
    return s.plans[line - s.base];
}
const LinePlan& planOf(const Scan& s, std::size_t line) {
    return s.plans[line - s.base];
}

// Past the '\n' at pos, on the next line.
void nextLine(Scan& s) {
    ++s.pos;
    ++s.line;
    s.plans.push_back({s.pos});
}

bool isIndentByte(char c) { return c == ' ' || c == '\t'; }

bool isCssSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool isNameByte(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' || u == '_' ||
           u == '\\' || u >= 0x80;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Bytes that readStatement() passes over with nothing else to do: not white space, a bracket,
// a brace, ';', a quote, '/', '\\' nor the 'u' that may begin url(. Most of a stylesheet's
// bytes are such, so runs of them are skipped in one tight loop.
struct PlainBytes {
    bool plain[256];
    constexpr PlainBytes() : plain() {
        for (int c = 0; c < 256; ++c)
            plain[c] = true;
        for (unsigned char c : std::string_view(" \t\n\r\f{}()[];\"'/\\uU"))
            plain[c] = false;
    }
    bool operator()(char c) const { return plain[static_cast<unsigned char>(c)]; }
};
constexpr PlainBytes isPlainByte;

std::size_t indentEnd(const Scan& s, std::size_t line) {
    std::size_t end = planOf(s, line).start;
    while (end < s.text.size() && isIndentByte(s.text[end]))
        ++end;
    return end;
}

// A line holding nothing but spaces and tabs is never given an indentation.
bool isBlank(const Scan& s, std::size_t line) {
    const std::size_t end = indentEnd(s, line);
    return end == s.text.size() || s.text[end] == '\n' || s.text[end] == '\r';
}

// The line starts a statement at the current depth; a closing brace is one level out.
void planStatementLine(Scan& s, std::size_t line) {
    if (isBlank(s, line))
        return;
    LinePlan& plan = planOf(s, line);
    const std::size_t end = indentEnd(s, line);
    plan.replace = true;
    plan.oldLength = end - plan.start;
    plan.level = s.text[end] == '}' && s.depth > 0 ? s.depth - 1 : s.depth;
}

// The line continues what began on the anchor line: where it starts with the bytes the anchor
// line's indentation was, those become what the anchor line's became.
void planRelativeLine(Scan& s, std::size_t line, std::size_t anchor) {
    const LinePlan& from = planOf(s, anchor);
    if (!from.replace || isBlank(s, line))
        return;
    LinePlan& plan = planOf(s, line);
    const std::string_view indent = s.text.substr(from.start, from.oldLength);
    if (s.text.substr(plan.start, indent.size()) != indent)
        return;
    plan.replace = true;
    plan.oldLength = indent.size();
    plan.level = from.level;
}

// Consumes the '\n' at pos; the line after it is planned now between statements and once the
// statement is read inside one.
void lineBreak(Scan& s, LineContext context, std::size_t commentLine = 0) {
    nextLine(s);
    if (context == LineContext::Between)
        planStatementLine(s, s.line);
    else if (context != LineContext::Literal)
        s.pending.push_back({s.line, context, commentLine});
}

// A comment from its "/*" at pos to past its "*/", or to the end of the text.
void skipComment(Scan& s, bool inStatement) {
    const std::size_t first = s.line;
    s.pos += 2;
    while (s.pos < s.text.size()) {
        const char c = s.text[s.pos];
        if (c == '*' && s.pos + 1 < s.text.size() && s.text[s.pos + 1] == '/') {
            s.pos += 2;
            return;
        }
        if (c != '\n') {
            ++s.pos;
        } else if (inStatement) {
            lineBreak(s, LineContext::Comment, first);
        } else {
            nextLine(s);
            planRelativeLine(s, s.line, first);
        }
    }
}

// A string from its quote at pos to past its closing quote. An escaped line break continues
// the string; a bare one ends it, as in CSS, and is left to the statement.
void skipString(Scan& s) {
    const char quote = s.text[s.pos++];
    while (s.pos < s.text.size()) {
        const char c = s.text[s.pos];
        if (c == quote) {
            ++s.pos;
            return;
        }
        if (c == '\n')
            return;
        if (c == '\\' && s.pos + 1 < s.text.size()) {
            ++s.pos;
            if (s.text[s.pos] == '\n') {
                lineBreak(s, LineContext::Literal);
                continue;
            }
        }
        ++s.pos;
    }
}

// At pos, "url(" starting a name, whose argument is no string: its raw text up to ')' may hold
// braces, quotes and "/*" that mean nothing there.
bool atUnquotedUrl(const Scan& s) {
    const std::string_view t = s.text;
    if (t.size() - s.pos < 4 || lower(t[s.pos]) != 'u' || lower(t[s.pos + 1]) != 'r' || lower(t[s.pos + 2]) != 'l' ||
        t[s.pos + 3] != '(')
        return false;
    if (s.pos > 0 && isNameByte(t[s.pos - 1]))
        return false;
    std::size_t i = s.pos + 4;
    while (i < t.size() && isCssSpace(t[i]))
        ++i;
    return i == t.size() || (t[i] != '"' && t[i] != '\'');
}

void skipUnquotedUrl(Scan& s) {
    s.pos += 4;
    while (s.pos < s.text.size()) {
        const char c = s.text[s.pos];
        if (c == ')') {
            ++s.pos;
            return;
        }
        if (c == '\n') {
            lineBreak(s, LineContext::Literal);
            continue;
        }
        s.pos += c == '\\' && s.pos + 1 < s.text.size() && s.text[s.pos + 1] != '\n' ? 2 : 1;
    }
}

// At pos, a custom property's name and its colon: its value is kept to the byte.
bool atCustomProperty(const Scan& s) {
    const std::string_view t = s.text;
    if (t.size() - s.pos < 2 || t[s.pos] != '-' || t[s.pos + 1] != '-')
        return false;
    std::size_t i = s.pos + 2;
    while (i < t.size() && isNameByte(t[i]))
        i += t[i] == '\\' && i + 1 < t.size() && t[i + 1] != '\n' ? 2 : 1;
    while (i < t.size() && isIndentByte(t[i]))
        ++i;
    return i < t.size() && t[i] == ':';
}

// How a statement ended.
enum class End { Block, Semicolon, Close, Text };

// Reads one statement from pos: up to a '{' opening its block, past the ';' ending it, or up to
// the '}' closing the block around it (or the text's end), brackets, strings, comments and urls
// skipped. In a custom property's value a '{' nests like any bracket.
End readStatement(Scan& s, bool customProperty) {
    std::size_t nesting = 0;
    s.pendingInside = s.pending.size();
    while (s.pos < s.text.size()) {
        const char c = s.text[s.pos];
        if (isPlainByte(c)) {
            do
                ++s.pos;
            while (s.pos < s.text.size() && isPlainByte(s.text[s.pos]));
            s.pendingInside = s.pending.size();
            continue;
        }
        if (c == '\n') {
            lineBreak(s, LineContext::Plain);
            continue;
        }
        if (isCssSpace(c)) {
            ++s.pos;
            continue;
        }
        if (nesting == 0) {
            if ((c == '{' && !customProperty) || c == ';') {
                ++s.pos;
                s.pendingInside = s.pending.size();
                return c == ';' ? End::Semicolon : End::Block;
            }
            if (c == '}')
                return End::Close;
        }
        if (c == '/' && s.pos + 1 < s.text.size() && s.text[s.pos + 1] == '*') {
            skipComment(s, true);
        } else if (c == '"' || c == '\'') {
            skipString(s);
        } else if (atUnquotedUrl(s)) {
            skipUnquotedUrl(s);
        } else {
            if (c == '(' || c == '[' || c == '{')
                ++nesting;
            else if ((c == ')' || c == ']' || c == '}') && nesting > 0)
                --nesting;
            s.pos += c == '\\' && s.pos + 1 < s.text.size() && s.text[s.pos + 1] != '\n' ? 2 : 1;
        }
        s.pendingInside = s.pending.size();
    }
    return End::Text;
}

// Plans the lines broken inside the statement that began on line first: a declaration's are
// kept, a prelude's (selectors, at-rules) follow the statement's first line, a comment's its
// own first line. Lines after the statement's last byte start what follows it.
void resolvePending(Scan& s, std::size_t first, bool declaration) {
    for (std::size_t i = 0; i < s.pending.size(); ++i) {
        const PendingLine& p = s.pending[i];
        if (i >= s.pendingInside)
            planStatementLine(s, p.line);
        else if (!declaration)
            planRelativeLine(s, p.line, p.context == LineContext::Comment ? p.commentLine : first);
    }
    s.pending.clear();
}

// The least distance in bytes between two checkpoints: a change rescans up to about twice this,
// while keeping and moving a checkpoint per line would cost more than the rescan saves.
constexpr std::size_t CheckpointSpacing = 2048;

// Whether the scan, at a checkpoint, has reached one of the previous scan's with the same text
// after it and the same depth.
bool matchesPrevious(Scan& s) {
    if (!s.previous || s.pos < s.stopFrom)
        return false;
    const std::size_t target = std::size_t(std::ptrdiff_t(s.pos) + s.shift);
    const std::vector<ReindentCheckpoint>& previous = *s.previous;
    while (s.stopAt < previous.size() && previous[s.stopAt].offset < target)
        ++s.stopAt;
    return s.stopAt < previous.size() && previous[s.stopAt].offset == target && previous[s.stopAt].depth == s.depth;
}

// Scans from pos, the start of the line plans[0] is for, at depth.
void scan(Scan& s) {
    planStatementLine(s, s.line);
    if (s.checkpoints)
        s.checkpoints->push_back({s.pos, s.line, s.depth, 0});
    const std::string_view t = s.text;
    while (s.pos < t.size()) {
        const char c = t[s.pos];
        if (c == '\n') {
            lineBreak(s, LineContext::Between);
            if (matchesPrevious(s)) {
                s.stopped = true;
                return;
            }
            if (s.checkpoints && s.pos - s.checkpoints->back().offset >= CheckpointSpacing)
                s.checkpoints->push_back({s.pos, s.line, s.depth, 0});
        } else if (isCssSpace(c) || c == ';') {
            ++s.pos;
        } else if (c == '}') {
            if (s.depth > 0)
                --s.depth;
            ++s.pos;
        } else if (c == '{') {
            ++s.depth;
            ++s.pos;
        } else if (c == '/' && s.pos + 1 < t.size() && t[s.pos + 1] == '*') {
            skipComment(s, false);
        } else {
            const std::size_t first = s.line;
            const bool custom = atCustomProperty(s);
            const bool atRule = c == '@';
            const End end = readStatement(s, custom);
            if (end == End::Block)
                ++s.depth;
            resolvePending(s, first, custom || (!atRule && end != End::Block));
        }
    }
}

// Writes the scanned lines, the last ending at end, to out and their shifts to lines; sets the
// output offset of the checkpoints from next on that lie on them.
void emit(const Scan& s, std::size_t end, Indentation indentation, char* out, const char* outBegin, LineShift* lines,
          std::vector<ReindentCheckpoint>* checkpoints, std::size_t next) {
    const std::size_t width = std::size_t(indentation.width);
    const char unit = indentation.tabs ? '\t' : ' ';
    const char* const begin = s.text.data();
    for (std::size_t i = 0; i < s.plans.size(); ++i) {
        const LinePlan& p = s.plans[i];
        if (checkpoints && next < checkpoints->size() && (*checkpoints)[next].line == s.base + i)
            (*checkpoints)[next++].outOffset = std::size_t(out - outBegin);
        const std::size_t lineEnd = i + 1 < s.plans.size() ? s.plans[i + 1].start : end;
        std::size_t from = p.start;
        if (p.replace) {
            std::memset(out, unit, p.level * width);
            out += p.level * width;
            from += p.oldLength;
            lines[i] = {p.oldLength, p.level * width};
        } else {
            lines[i] = {};
        }
        std::memcpy(out, begin + from, lineEnd - from);
        out += lineEnd - from;
    }
}

bool widthAccepted(Indentation indentation, Reindented& result) {
    if (indentation.width >= 0 && indentation.width <= MaxReindentWidth)
        return true;
    result.css.clear();
    result.lines.clear();
    result.error = "the indent width " + std::to_string(indentation.width) + " is outside 0 to " +
                   std::to_string(MaxReindentWidth);
    return false;
}

// The whole CSS re-indented into result, its checkpoints recorded when asked for.
void reindentAll(std::string_view css, Indentation indentation, std::size_t maxSize, Reindented& result,
                 std::vector<ReindentCheckpoint>* checkpoints) {
    Scan s;
    s.text = css;
    s.checkpoints = checkpoints;
    const char* const begin = css.data();
    const char* const finish = begin + css.size();
    std::size_t breaks = 0;
    for (const char* p = begin; p != finish && (p = static_cast<const char*>(std::memchr(p, '\n', finish - p))); ++p)
        ++breaks;
    s.plans.reserve(breaks + 1);
    s.plans.push_back({});
    if (checkpoints)
        checkpoints->reserve(breaks + 1);
    scan(s);

    // The size is summed, and checked, before anything is allocated for it.
    const std::size_t width = std::size_t(indentation.width);
    std::size_t size = css.size();
    for (const LinePlan& p : s.plans) {
        if (!p.replace)
            continue;
        if (width != 0 && p.level > maxSize / width) {
            size = maxSize + 1;
            break;
        }
        size = size - p.oldLength + p.level * width;
        if (size > maxSize)
            break;
    }
    if (size > maxSize) {
        result.css.clear();
        result.lines.clear();
        result.error = "the re-indented CSS would take more than " + std::to_string(maxSize) + " bytes";
        return;
    }
    result.error.clear();
    // All rewritten below: nothing of the old result is copied when they grow.
    result.css.clear();
    result.lines.clear();
    result.css.resize(size);
    result.lines.resize(s.plans.size());
    emit(s, css.size(), indentation, result.css.data(), result.css.data(), result.lines.data(), checkpoints, 0);
}

std::size_t commonPrefix(std::string_view a, std::string_view b, std::size_t limit) {
    constexpr std::size_t Block = 4096;
    std::size_t n = 0;
    while (n + Block <= limit && std::memcmp(a.data() + n, b.data() + n, Block) == 0)
        n += Block;
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

std::size_t commonSuffix(std::string_view a, std::string_view b, std::size_t limit) {
    constexpr std::size_t Block = 4096;
    std::size_t n = 0;
    while (n + Block <= limit &&
           std::memcmp(a.data() + a.size() - n - Block, b.data() + b.size() - n - Block, Block) == 0)
        n += Block;
    while (n < limit && a[a.size() - n - 1] == b[b.size() - n - 1])
        ++n;
    return n;
}

// Moves the items of buffer from index `from` on to start at index `to`, ending the buffer
// after them; those before `from` stay. Growing keeps room for a few more edits.
template <typename Buffer>
void moveTail(Buffer& buffer, std::size_t from, std::size_t to) {
    const std::size_t count = buffer.size() - from;
    const std::size_t size = to + count;
    if (size > buffer.size()) {
        if (buffer.capacity() < size)
            buffer.reserve(size + size / 64);
        buffer.resize(size);
    }
    if (count > 0 && from != to)
        std::memmove(buffer.data() + to, buffer.data() + from, count * sizeof buffer[0]);
    buffer.resize(size);
}

// Keeps css as the cache's raw text: taken over from owned (whose bytes css views) when given.
void keepRaw(std::string_view css, ReindentCache& cache, std::string* owned) {
    if (owned)
        cache.raw.swap(*owned);
    else
        cache.raw.assign(css);
}

// Re-indents css from the cache's previous result when that comes out the same as re-indenting
// all of it; false, with the cache's result and checkpoints untouched, when it may not.
bool reindentChange(std::string_view css, ReindentCache& cache, std::size_t maxSize, std::string* owned) {
    const std::string_view old = cache.raw;
    const std::vector<ReindentCheckpoint>& previous = cache.checkpoints;
    const std::size_t common = std::min(old.size(), css.size());
    const std::size_t prefix = commonPrefix(old, css, common);
    const std::size_t suffix = commonSuffix(old, css, common - prefix);
    // The scan resumes at the last checkpoint with nothing but the common prefix before it.
    const auto after = std::upper_bound(previous.begin(), previous.end(), prefix,
                                        [](std::size_t at, const ReindentCheckpoint& c) { return at < c.offset; });
    if (after == previous.begin())
        return false;
    const std::size_t fromIndex = std::size_t(after - previous.begin()) - 1;
    const ReindentCheckpoint from = previous[fromIndex];

    std::vector<ReindentCheckpoint>& checkpoints = cache.spareCheckpoints;
    checkpoints.assign(previous.begin(), previous.begin() + std::ptrdiff_t(fromIndex));
    Scan s;
    s.text = css;
    s.pos = from.offset;
    s.line = s.base = from.line;
    s.depth = from.depth;
    s.plans.push_back({from.offset});
    s.checkpoints = &checkpoints;
    s.previous = &previous;
    s.stopFrom = css.size() - suffix;
    s.shift = std::ptrdiff_t(old.size()) - std::ptrdiff_t(css.size());
    s.stopAt = fromIndex;
    scan(s);

    std::size_t end = css.size();
    const ReindentCheckpoint* to = nullptr;
    if (s.stopped) {
        to = &previous[s.stopAt];
        s.plans.pop_back();
        end = s.pos;
    }
    const std::size_t width = std::size_t(cache.indentation.width);
    std::size_t middle = end - from.offset;
    for (const LinePlan& p : s.plans) {
        if (!p.replace)
            continue;
        if (width != 0 && p.level > maxSize / width)
            return false;
        middle = middle - p.oldLength + p.level * width;
        if (middle > maxSize)
            return false;
    }
    // Past this the whole re-indent might refuse the CSS: it decides.
    const std::string& oldCss = cache.result.css;
    const std::size_t tail = to ? oldCss.size() - to->outOffset : 0;
    if (tail > maxSize || from.outOffset > maxSize - tail || middle > maxSize - tail - from.outOffset)
        return false;
    const std::size_t size = from.outOffset + middle + tail;
    if (css.size() > maxSize - size)
        return false;

    // In place: the part after the change moves to its new place, then the middle is written
    // over what lies before it. The part before the change stays where it is.
    std::string& out = cache.result.css;
    std::vector<LineShift>& lines = cache.result.lines;
    const std::size_t middleEnd = from.line + s.plans.size();
    const std::size_t tailAt = from.outOffset + middle;
    if (to) {
        checkpoints.reserve(checkpoints.size() + (previous.size() - s.stopAt));
        for (std::size_t k = s.stopAt; k < previous.size(); ++k) {
            const ReindentCheckpoint& c = previous[k];
            checkpoints.push_back({std::size_t(std::ptrdiff_t(c.offset) - s.shift), c.line - to->line + middleEnd,
                                   c.depth, c.outOffset - to->outOffset + tailAt});
        }
    }
    moveTail(out, to ? to->outOffset : out.size(), tailAt);
    moveTail(lines, to ? to->line : lines.size(), middleEnd);
    emit(s, end, cache.indentation, out.data() + from.outOffset, out.data(), lines.data() + from.line, &checkpoints,
         fromIndex);
    cache.checkpoints.swap(checkpoints);
    cache.result.error.clear();
    keepRaw(css, cache, owned);
    return true;
}

}  // namespace

Reindented reindent(std::string_view css, Indentation indentation, std::size_t maxSize) {
    Reindented result;
    if (widthAccepted(indentation, result))
        reindentAll(css, indentation, maxSize, result, nullptr);
    return result;
}

namespace {

const Reindented& reindentKept(std::string_view css, Indentation indentation, ReindentCache& cache,
                               std::size_t maxSize, std::string* owned) {
    const bool sameIndentation =
        cache.valid && cache.indentation.tabs == indentation.tabs && cache.indentation.width == indentation.width;
    if (sameIndentation && reindentChange(css, cache, maxSize, owned))
        return cache.result;
    cache.valid = false;
    cache.checkpoints.clear();
    if (!widthAccepted(indentation, cache.result))
        return cache.result;
    reindentAll(css, indentation, maxSize, cache.result, &cache.checkpoints);
    if (cache.result.error.empty()) {
        cache.valid = true;
        cache.indentation = indentation;
        keepRaw(css, cache, owned);
    }
    return cache.result;
}

}  // namespace

const Reindented& reindent(std::string_view css, Indentation indentation, ReindentCache& cache, std::size_t maxSize) {
    return reindentKept(css, indentation, cache, maxSize, nullptr);
}

const Reindented& reindent(std::string&& css, Indentation indentation, ReindentCache& cache, std::size_t maxSize) {
    return reindentKept(css, indentation, cache, maxSize, &css);
}

std::int64_t shiftedColumn(std::int64_t column, LineShift shift) {
    if (shift.oldLength == shift.newLength)
        return column;
    if (column < std::int64_t(shift.oldLength))
        return 0;
    return column - std::int64_t(shift.oldLength) + std::int64_t(shift.newLength);
}

ShiftedMappings shiftMappings(std::string_view mappings, const std::vector<LineShift>& lines) {
    ShiftedMappings result;
    auto fail = [&](std::string why, std::size_t at) {
        result.mappings.clear();
        result.error = "the source map's mappings " + why + " at byte " + std::to_string(at);
        return result;
    };
    result.mappings.reserve(mappings.size());
    std::size_t line = 0;
    std::size_t pos = 0;
    // Generated columns are relative to the previous segment of the same line, before and after.
    std::int64_t oldColumn = 0;
    std::int64_t newColumn = 0;
    // Set after a ',': a segment must follow.
    bool afterComma = false;
    while (pos < mappings.size()) {
        const char c = mappings[pos];
        if (c == ';' || c == ',') {
            if (afterComma || (c == ',' && (pos == 0 || mappings[pos - 1] == ';')))
                return fail("hold an empty segment", pos);
            result.mappings += c;
            ++pos;
            afterComma = c == ',';
            if (c == ';') {
                ++line;
                oldColumn = newColumn = 0;
            }
            continue;
        }
        afterComma = false;
        if (line >= lines.size())
            return fail("go on past the CSS's last line", pos);
        std::int64_t delta = 0;
        if (!readVlq(mappings, pos, delta))
            return fail("hold an invalid number", pos);
        const std::int64_t column = oldColumn + delta;
        if (column < 0 || column > MaxVlqMagnitude)
            return fail("hold a generated column out of range", pos);
        const std::int64_t moved = shiftedColumn(column, lines[line]);
        if (moved > MaxVlqMagnitude)
            return fail("hold a generated column out of range", pos);
        appendVlq(result.mappings, moved - newColumn);
        oldColumn = column;
        newColumn = moved;
        // The other fields are only checked, and copied as they were.
        const std::size_t rest = pos;
        int fields = 1;
        while (pos < mappings.size() && mappings[pos] != ',' && mappings[pos] != ';') {
            std::int64_t ignored = 0;
            if (fields == 5)
                return fail("hold a segment of more than 5 fields", pos);
            if (!readVlq(mappings, pos, ignored))
                return fail("hold an invalid number", pos);
            ++fields;
        }
        if (fields != 1 && fields != 4 && fields != 5)
            return fail("hold a segment of " + std::to_string(fields) + " fields", rest);
        result.mappings.append(mappings.substr(rest, pos - rest));
    }
    if (afterComma)
        return fail("end in an empty segment", pos);
    return result;
}

}  // namespace VantorCompiler::dartsass
