#include "SourceScan.h"

#include <cctype>
#include <set>

namespace VantorCompiler {
namespace {

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

bool isNameChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c >= 0x80;
}

bool isNameStart(unsigned char c) { return isNameChar(c) && !(c >= '0' && c <= '9'); }

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Walks a text and reports every byte that is not part of a comment, saying
// whether it is plain code of the stylesheet (outside strings, url(...) and
// #{...}). visit(offset, code) may stop the walk by returning false.
template <typename Visit>
void walk(std::string_view text, Syntax syntax, Visit&& visit) {
    struct Frame {
        char mode;       // 'c' code, 'i' interpolation, '"' or '\'' string
        int braces = 0;  // open braces inside an interpolation
    };
    std::vector<Frame> stack{{'c'}};
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        Frame& top = stack.back();
        const char c = text[i];
        const char next = i + 1 < n ? text[i + 1] : '\0';
        if (top.mode == '"' || top.mode == '\'') {
            if (c == '\\' && i + 1 < n) {
                if (!visit(i, false) || !visit(i + 1, false))
                    return;
                i += 2;
                continue;
            }
            if (syntax == Syntax::Scss && c == '#' && next == '{') {
                if (!visit(i, false) || !visit(i + 1, false))
                    return;
                stack.push_back({'i'});
                i += 2;
                continue;
            }
            if (!visit(i, false))
                return;
            if (c == top.mode || c == '\n')  // an unclosed string ends with its line
                stack.pop_back();
            ++i;
            continue;
        }
        // Code or interpolation.
        if (c == '/' && next == '*') {
            const std::size_t end = text.find("*/", i + 2);
            i = end == std::string_view::npos ? n : end + 2;
            continue;
        }
        if (syntax == Syntax::Scss && c == '/' && next == '/') {
            const std::size_t end = text.find('\n', i + 2);
            i = end == std::string_view::npos ? n : end;
            continue;
        }
        const bool code = stack.size() == 1;
        if (c == '"' || c == '\'') {
            if (!visit(i, false))
                return;
            stack.push_back({c});
            ++i;
            continue;
        }
        if (syntax == Syntax::Scss && c == '#' && next == '{') {
            if (!visit(i, false) || !visit(i + 1, false))
                return;
            stack.push_back({'i'});
            i += 2;
            continue;
        }
        if (top.mode == 'i') {
            if (c == '{')
                ++top.braces;
            if (c == '}' && top.braces-- == 0)
                stack.pop_back();
            if (!visit(i, false))
                return;
            ++i;
            continue;
        }
        // An unquoted url(...) holds any characters up to its ')', slashes too.
        if (c == '(' && i >= 3 && (text.substr(i - 3, 3) == "url" || text.substr(i - 3, 3) == "URL") &&
            (i == 3 || !isNameChar(static_cast<unsigned char>(text[i - 4])))) {
            std::size_t j = i + 1;
            while (j < n && isSpace(text[j]))
                ++j;
            if (j < n && text[j] != '"' && text[j] != '\'') {
                const std::size_t end = text.find_first_of(")\n", j);
                const std::size_t stop = end == std::string_view::npos ? n : end;
                if (!visit(i, code))
                    return;
                for (std::size_t k = i + 1; k < stop; ++k)
                    if (!visit(k, false))
                        return;
                i = stop;
                continue;
            }
        }
        if (!visit(i, code))
            return;
        ++i;
    }
}

// Reports each at-keyword that begins a statement in code, "@use" with the
// '@', as visit(offset, keyword); visit may stop the walk by returning false.
template <typename Visit>
void statementKeywords(std::string_view text, Syntax syntax, Visit&& visit) {
    bool statementStart = true;
    walk(text, syntax, [&](std::size_t i, bool code) {
        const char c = text[i];
        if (!code) {
            statementStart = false;
            return true;
        }
        if (isSpace(c))
            return true;
        if (c == '@' && statementStart) {
            std::size_t end = i + 1;
            while (end < text.size() && isNameChar(static_cast<unsigned char>(text[end])))
                ++end;
            if (!visit(i, text.substr(i, end - i)))
                return false;
        }
        statementStart = c == ';' || c == '{' || c == '}';
        return true;
    });
}

}  // namespace

TextPlace placeOf(std::string_view text, std::size_t offset) {
    if (offset > text.size())
        offset = text.size();
    TextPlace place{1, 1};
    for (std::size_t i = 0; i < offset; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            ++place.line;
            place.column = 1;
        } else if (!isContinuation(c)) {
            ++place.column;
        }
    }
    return place;
}

std::size_t offsetOf(std::string_view text, TextPlace place) {
    if (place.line == 0 || place.column == 0)
        return std::string_view::npos;
    std::size_t i = 0;
    for (std::uint32_t line = 1; line < place.line; ++line) {
        const std::size_t end = text.find('\n', i);
        if (end == std::string_view::npos)
            return std::string_view::npos;
        i = end + 1;
    }
    // Continuation bytes belong to the character before them; placeOf counts
    // none, so stray ones at the start of a line are passed over too.
    auto skipContinuation = [&] {
        while (i < text.size() && isContinuation(static_cast<unsigned char>(text[i])))
            ++i;
    };
    skipContinuation();
    for (std::uint32_t column = 1; column < place.column; ++column) {
        if (i >= text.size() || text[i] == '\n')
            return std::string_view::npos;
        ++i;
        skipContinuation();
    }
    return i <= text.size() ? i : std::string_view::npos;
}

TextPlace keywordStart(std::string_view text, TextPlace place, const std::vector<std::string_view>& keywords) {
    std::size_t at = offsetOf(text, place);
    if (at == std::string_view::npos)
        return place;
    while (at > 0 && (text[at - 1] == ' ' || text[at - 1] == '\t'))
        --at;
    for (std::string_view keyword : keywords) {
        const std::size_t size = keyword.size() + 1;
        if (at >= size && text[at - size] == '@' && text.substr(at - keyword.size(), keyword.size()) == keyword)
            return placeOf(text, at - size);
    }
    return place;
}

TextPlace lastKeywordBefore(std::string_view text, TextPlace place, std::string_view keyword) {
    const std::size_t at = offsetOf(text, place);
    if (at == std::string_view::npos)
        return place;
    const std::string word = "@" + std::string(keyword);
    for (std::size_t found = text.rfind(word, at); found != std::string_view::npos;
         found = found ? text.rfind(word, found - 1) : std::string_view::npos) {
        const std::size_t end = found + word.size();
        if (end >= text.size() || !isNameChar(static_cast<unsigned char>(text[end])))
            return placeOf(text, found);
    }
    return place;
}

TextPlace withinLine(std::string_view text, TextPlace place) {
    if (place.line == 0 || offsetOf(text, place) != std::string_view::npos)
        return place;
    const std::size_t start = offsetOf(text, {place.line, 1});
    if (start == std::string_view::npos)
        return place;
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos)
        end = text.size();
    if (end > start && text[end - 1] == '\r')
        --end;
    if (end == start)
        return {place.line, 1};
    std::size_t last = end - 1;
    while (last > start && isContinuation(static_cast<unsigned char>(text[last])))
        --last;
    return placeOf(text, last);
}

std::vector<TextPlace> statementPlaces(std::string_view text, std::string_view keyword) {
    std::vector<TextPlace> places;
    const std::string word = "@" + std::string(keyword);
    if (text.find(word) == std::string_view::npos)
        return places;
    statementKeywords(text, Syntax::Scss, [&](std::size_t i, std::string_view found) {
        if (found == word)
            places.push_back(placeOf(text, i));
        return true;
    });
    return places;
}

TextPlace invalidCodePointEscape(std::string_view text) {
    TextPlace found;
    std::size_t escaped = std::string_view::npos;  // the character after a backslash
    walk(text, Syntax::Scss, [&](std::size_t i, bool code) {
        if (code || text[i] != '\\' || i == escaped)
            return true;
        escaped = i + 1;
        // Inside a string: up to six hexadecimal digits.
        std::uint32_t value = 0;
        std::size_t n = 0;
        while (n < 6 && i + 1 + n < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1 + n]))) {
            const char d = text[i + 1 + n];
            value = value * 16 + static_cast<std::uint32_t>(d <= '9' ? d - '0' : (d | 0x20) - 'a' + 10);
            ++n;
        }
        if (n > 0 && ((value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)) {
            found = placeOf(text, i);
            return false;
        }
        return true;
    });
    return found;
}

ModuleRule findModuleRule(std::string_view text, Syntax syntax) {
    ModuleRule rule;
    // Most texts never name either; only those are walked.
    if (text.find("@use") == std::string_view::npos && text.find("@forward") == std::string_view::npos)
        return rule;
    statementKeywords(text, syntax, [&](std::size_t i, std::string_view keyword) {
        if (keyword != "@use" && keyword != "@forward")
            return true;
        rule.name = keyword;
        rule.place = placeOf(text, i);
        return false;
    });
    return rule;
}

std::vector<LeftoverVariable> findLeftoverVariables(std::string_view css, std::string_view scss, std::size_t most,
                                                    std::size_t& count) {
    count = 0;
    struct Found {
        std::size_t statement;  // where its statement begins in css
        std::size_t dollar;     // where the variable begins in css
        std::string name;
    };
    std::vector<Found> found;
    std::vector<std::pair<Found, std::size_t>> closed;  // with the statement's end
    std::size_t statement = 0;
    int braces = 0;
    int brackets = 0;
    bool colon = false;
    auto close = [&](std::size_t end) {
        for (Found& f : found)
            closed.emplace_back(std::move(f), end);
        found.clear();
    };
    walk(css, Syntax::Css, [&](std::size_t i, bool code) {
        if (!code)
            return true;
        const char c = css[i];
        switch (c) {
        case '{':
        case '}':
        case ';':
            close(i);
            if (c == '{')
                ++braces;
            else if (c == '}' && braces > 0)
                --braces;
            statement = i + 1;
            brackets = 0;
            colon = false;
            break;
        case '[':
            ++brackets;
            break;
        case ']':
            if (brackets > 0)
                --brackets;
            break;
        case ':':
            colon = true;
            break;
        case '$':
            if (braces > 0 && colon && brackets == 0 && i + 1 < css.size() &&
                isNameStart(static_cast<unsigned char>(css[i + 1]))) {
                std::size_t end = i + 1;
                while (end < css.size() && isNameChar(static_cast<unsigned char>(css[end])))
                    ++end;
                found.push_back({statement, i, std::string(css.substr(i, end - i))});
            }
            break;
        default:
            break;
        }
        return true;
    });
    close(css.size());

    if (closed.empty())
        return {};
    // Where the SCSS text is not a comment, to look for values there only.
    std::vector<bool> inCode(scss.size(), false);
    walk(scss, Syntax::Scss, [&](std::size_t i, bool) {
        inCode[i] = true;
        return true;
    });

    std::vector<LeftoverVariable> result;
    std::set<std::string> seen;
    for (const auto& [f, end] : closed) {
        std::string_view declaration = css.substr(f.statement, end - f.statement);
        const std::size_t colonAt = declaration.find(':');
        if (colonAt == std::string_view::npos || f.statement + colonAt > f.dollar)
            continue;
        std::string_view property = declaration.substr(0, colonAt);
        while (!property.empty() && isSpace(property.front()))
            property.remove_prefix(1);
        while (!property.empty() && isSpace(property.back()))
            property.remove_suffix(1);
        std::size_t valueStart = f.statement + colonAt + 1;
        while (valueStart < end && isSpace(css[valueStart]))
            ++valueStart;
        std::size_t valueEnd = end;
        while (valueEnd > valueStart && isSpace(css[valueEnd - 1]))
            --valueEnd;
        const std::string_view value = css.substr(valueStart, valueEnd - valueStart);
        const std::string key = std::string(property) + ':' + std::string(value) + '|' + f.name;
        if (!seen.insert(key).second)
            continue;
        if (count++ >= most)
            continue;
        LeftoverVariable v;
        v.name = f.name;
        v.property = std::string(property);
        // The value as written after this property first, after any property next.
        for (const bool sameProperty : {true, false}) {
            for (std::size_t at = value.empty() ? std::string_view::npos : scss.find(value);
                 at != std::string_view::npos && v.place.line == 0; at = scss.find(value, at + 1)) {
                if (!inCode[at])
                    continue;
                std::size_t before = at;
                while (before > 0 && isSpace(scss[before - 1]))
                    --before;
                if (before == 0 || scss[before - 1] != ':')
                    continue;
                --before;
                while (before > 0 && isSpace(scss[before - 1]))
                    --before;
                if (sameProperty && (before < property.size() ||
                                     scss.substr(before - property.size(), property.size()) != property))
                    continue;
                v.place = placeOf(scss, at + (f.dollar - valueStart));
            }
            if (v.place.line != 0)
                break;
        }
        result.push_back(std::move(v));
    }
    return result;
}

}  // namespace VantorCompiler
