// libFuzzer target for re-indenting Dart Sass's expanded CSS and shifting its source map.
//
// The first byte picks the indentation (bit 0: tabs; bits 1 to 3: the width), the rest is the
// CSS. Re-indenting must only swap the leading spaces and tabs of lines for the indentation
// asked for, stay within its size limit, and change nothing when run again on its own output.
// A source map with segments in and after each line's old indentation must then follow the
// text, and the CSS itself read as mappings must be refused or shifted, never crash. Re-indenting
// the CSS with a middle part reversed or removed, after the CSS itself, from what that left
// behind, must give what re-indenting it whole gives.
#include "Reindent.h"
#include "Vlq.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

using namespace VantorCompiler::dartsass;

namespace {

void require(bool condition) {
    if (!condition)
        __builtin_trap();
}

constexpr std::int32_t Widths[] = {0, 1, 2, 3, 4, 8, 100, 1024};
constexpr std::size_t MaxSize = std::size_t(256) << 10;

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return lines;
        start = end + 1;
    }
}

struct Segment {
    std::size_t line;
    std::int64_t column;
};

// The generated columns of mappings this target wrote or shiftMappings() returned.
std::vector<Segment> decode(std::string_view mappings) {
    std::vector<Segment> out;
    std::size_t line = 0;
    std::int64_t column = 0;
    std::size_t pos = 0;
    while (pos < mappings.size()) {
        if (mappings[pos] == ';' || mappings[pos] == ',') {
            if (mappings[pos] == ';') {
                ++line;
                column = 0;
            }
            ++pos;
            continue;
        }
        std::int64_t delta = 0;
        require(readVlq(mappings, pos, delta));
        column += delta;
        out.push_back({line, column});
        for (int field = 1; field < 4; ++field) {
            std::int64_t ignored = 0;
            require(readVlq(mappings, pos, ignored));
        }
    }
    return out;
}

void checkReindented(std::string_view css, const Reindented& r, Indentation indentation) {
    require(r.css.size() <= MaxSize);
    const std::vector<std::string_view> in = splitLines(css);
    const std::vector<std::string_view> out = splitLines(r.css);
    require(in.size() == out.size() && r.lines.size() == in.size());
    const char unit = indentation.tabs ? '\t' : ' ';
    for (std::size_t i = 0; i < in.size(); ++i) {
        const LineShift s = r.lines[i];
        require(s.oldLength <= in[i].size());
        for (std::size_t k = 0; k < s.oldLength; ++k)
            require(in[i][k] == ' ' || in[i][k] == '\t');
        require(indentation.width == 0 ? s.newLength == 0 : s.newLength % std::size_t(indentation.width) == 0);
        require(out[i].size() == s.newLength + in[i].size() - s.oldLength);
        for (std::size_t k = 0; k < s.newLength; ++k)
            require(out[i][k] == unit);
        require(out[i].substr(s.newLength) == in[i].substr(s.oldLength));
    }
}

// Segments at columns 0, 1, the old indentation's end and one past it, and the line's end,
// each with 4 fields; their columns after shifting must still point at the same text.
void checkMappings(std::string_view css, const Reindented& r) {
    const std::vector<std::string_view> oldLines = splitLines(css);
    const std::vector<std::string_view> newLines = splitLines(r.css);
    std::string mappings;
    std::vector<Segment> written;
    for (std::size_t i = 0; i < oldLines.size(); ++i) {
        if (i > 0)
            mappings += ';';
        std::vector<std::int64_t> columns = {0, 1, std::int64_t(r.lines[i].oldLength),
                                             std::int64_t(r.lines[i].oldLength) + 1, std::int64_t(oldLines[i].size())};
        std::sort(columns.begin(), columns.end());
        columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
        std::int64_t previous = 0;
        for (const std::int64_t c : columns) {
            if (c > std::int64_t(oldLines[i].size()))
                break;
            if (c != columns.front())
                mappings += ',';
            appendVlq(mappings, c - previous);
            mappings += "AAA";
            previous = c;
            written.push_back({i, c});
        }
    }
    const ShiftedMappings shifted = shiftMappings(mappings, r.lines);
    require(shifted.error.empty());
    const std::vector<Segment> moved = decode(shifted.mappings);
    require(moved.size() == written.size());
    for (std::size_t k = 0; k < written.size(); ++k) {
        const Segment w = written[k];
        const Segment m = moved[k];
        const LineShift s = r.lines[w.line];
        require(m.line == w.line);
        if (s.oldLength == s.newLength)
            require(m.column == w.column);
        else if (w.column < std::int64_t(s.oldLength))
            require(m.column == 0);
        else
            require(newLines[w.line].substr(std::size_t(m.column)) == oldLines[w.line].substr(std::size_t(w.column)));
    }
}

bool sameResult(const Reindented& a, const Reindented& b) {
    if (a.error != b.error || a.css != b.css || a.lines.size() != b.lines.size())
        return false;
    for (std::size_t i = 0; i < a.lines.size(); ++i)
        if (a.lines[i].oldLength != b.lines[i].oldLength || a.lines[i].newLength != b.lines[i].newLength)
            return false;
    return true;
}

// The middle part is picked by the CSS's first two bytes.
void checkIncremental(std::string_view css, Indentation indentation) {
    if (css.size() < 2)
        return;
    std::size_t from = static_cast<unsigned char>(css[0]) * css.size() / 256;
    std::size_t to = static_cast<unsigned char>(css[1]) * css.size() / 256;
    if (from > to)
        std::swap(from, to);
    std::string reversed(css);
    std::reverse(reversed.begin() + std::ptrdiff_t(from), reversed.begin() + std::ptrdiff_t(to));
    std::string removed(css.substr(0, from));
    removed += css.substr(to);
    ReindentCache cache;
    for (const std::string_view text : {css, std::string_view(reversed), std::string_view(removed), css})
        require(sameResult(reindent(text, indentation, cache, MaxSize), reindent(text, indentation, MaxSize)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const Indentation indentation{(data[0] & 1) != 0, Widths[(data[0] >> 1) & 7]};
    const std::string_view css(reinterpret_cast<const char*>(data + 1), size - 1);

    checkIncremental(css, indentation);
    const Reindented r = reindent(css, indentation, MaxSize);
    if (!r.error.empty()) {
        require(r.css.empty() && r.lines.empty());
        return 0;
    }
    checkReindented(css, r, indentation);
    const Reindented again = reindent(r.css, indentation, MaxSize);
    require(again.error.empty() && again.css == r.css);
    checkMappings(css, r);

    const ShiftedMappings raw = shiftMappings(css, r.lines);
    if (!raw.error.empty())
        require(raw.mappings.empty());
    else
        require(std::count(raw.mappings.begin(), raw.mappings.end(), ';') == std::count(css.begin(), css.end(), ';'));

    if (css.size() >= 8) {
        std::int64_t v = 0;
        std::memcpy(&v, css.data(), sizeof v);
        v %= MaxVlqMagnitude + 1;
        std::string text;
        appendVlq(text, v);
        std::size_t pos = 0;
        std::int64_t back = 0;
        require(readVlq(text, pos, back) && back == v && pos == text.size());
    }
    return 0;
}
