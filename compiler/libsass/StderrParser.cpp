#include "StderrParser.h"

#include "core/TextPrefix.h"
#include "core/WarningCollector.h"

namespace VantorCompiler {
namespace {

// Largest line or column number read; longer digit runs make the line unreadable.
constexpr std::size_t MaxDigits = 9;

struct Place {
    std::uint32_t line = 0;
    std::uint32_t column = 0;  // 0: not named
    std::string_view path;     // empty: not named
};

bool eat(std::string_view& s, std::string_view prefix) {
    if (!startsWith(s, prefix))
        return false;
    s.remove_prefix(prefix.size());
    return true;
}

bool number(std::string_view& s, std::uint32_t& value) {
    std::size_t n = 0;
    std::uint32_t v = 0;
    while (n < s.size() && s[n] >= '0' && s[n] <= '9') {
        if (n == MaxDigits)
            return false;
        v = v * 10 + static_cast<std::uint32_t>(s[n] - '0');
        ++n;
    }
    if (n == 0)
        return false;
    value = v;
    s.remove_prefix(n);
    return true;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// "DEPRECATION WARNING on line L[, column C][ of PATH]:" and "WARNING on line ...".
bool headerWithPlace(std::string_view s, std::string_view& kind, Place& place) {
    if (eat(s, "DEPRECATION WARNING on line "))
        kind = "DEPRECATION WARNING";
    else if (eat(s, "WARNING on line "))
        kind = "WARNING";
    else
        return false;
    Place p;
    if (!number(s, p.line))
        return false;
    if (eat(s, ", column ") && !number(s, p.column))
        return false;
    if (s.empty() || s.back() != ':')
        return false;
    s.remove_suffix(1);
    if (!s.empty()) {
        if (!eat(s, " of ") || s.empty())
            return false;
        p.path = s;
    }
    place = p;
    return true;
}

// "DEPRECATION WARNING: M", "WARNING: M", "Warning: M".
bool headerWithMessage(std::string_view s, std::string_view& kind, std::string_view& message) {
    if (eat(s, "DEPRECATION WARNING: "))
        kind = "DEPRECATION WARNING";
    else if (eat(s, "WARNING: ") || eat(s, "Warning: "))
        kind = "WARNING";
    else
        return false;
    message = s;
    return true;
}

// "PATH:L DEBUG: M".
bool debugHeader(std::string_view s, Place& place, std::string_view& message) {
    const std::size_t mark = s.find(" DEBUG: ");
    if (mark == std::string_view::npos)
        return false;
    std::string_view head = s.substr(0, mark);
    const std::size_t colon = head.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        return false;
    std::string_view digits = head.substr(colon + 1);
    Place p;
    if (!number(digits, p.line) || !digits.empty())
        return false;
    p.path = head.substr(0, colon);
    place = p;
    message = s.substr(mark + 8);
    return true;
}

// "        on line L[:C] of PATH[, in mixin `m`]" and the same with "from line".
bool placeLine(std::string_view s, Place& place) {
    if (s.empty() || s.front() != ' ')
        return false;
    s = trimmed(s);
    if (!eat(s, "on line ") && !eat(s, "from line "))
        return false;
    Place p;
    if (!number(s, p.line))
        return false;
    if (eat(s, ":") && !number(s, p.column))
        return false;
    if (!eat(s, " of ") || s.empty())
        return false;
    // A caller's name may follow the path: ", in mixin `m`".
    const std::size_t caller = s.find(", in ");
    p.path = caller == std::string_view::npos ? s : s.substr(0, caller);
    place = p;
    return true;
}

bool isHeader(std::string_view s) {
    std::string_view kind, message;
    Place place;
    return headerWithPlace(s, kind, place) || headerWithMessage(s, kind, message) || debugHeader(s, place, message);
}

void append(std::string& text, std::string_view part) {
    part = trimmed(part);
    if (part.empty())
        return;
    if (!text.empty() && text.back() != ' ')
        text += ' ';
    text.append(part.data(), part.size());
}

// Turns a message and its places into one StderrMessage: the first place in the
// converted text wins, else the message names the first place it has.
StderrMessage finish(std::string text, const std::vector<Place>& places, std::size_t offset,
                     std::string_view directory) {
    StderrMessage m;
    m.offset = offset;
    for (const Place& p : places) {
        if (p.path == TextPath && p.line > 0) {
            m.line = p.line;
            m.column = p.column > 0 ? p.column : 1;
            m.text = std::move(text);
            return m;
        }
    }
    if (!places.empty() && places.front().line > 0) {
        const Place& p = places.front();
        std::string_view path = p.path;
        if (!directory.empty() && path.size() > directory.size() + 1 && startsWith(path, directory) &&
            path[directory.size()] == '/')
            path.remove_prefix(directory.size() + 1);
        text += otherFilePlace(p.line, path);
    }
    m.text = std::move(text);
    return m;
}

class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}
    bool atEnd() const { return pos_ >= text_.size(); }
    std::size_t offset() const { return pos_; }
    std::string_view peek() const {
        const std::size_t end = text_.find('\n', pos_);
        std::string_view line = text_.substr(pos_, end == std::string_view::npos ? std::string_view::npos : end - pos_);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        return line;
    }
    void next() {
        const std::size_t end = text_.find('\n', pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

bool blank(std::string_view s) { return trimmed(s).empty(); }

}  // namespace

std::vector<StderrMessage> parseStderr(std::string_view input, std::string_view directory) {
    std::vector<StderrMessage> messages;
    Lines lines(input);
    while (!lines.atEnd()) {
        const std::size_t offset = lines.offset();
        const std::string_view line = lines.peek();
        if (blank(line)) {
            lines.next();
            continue;
        }
        std::string text;
        std::vector<Place> places;
        std::string_view kind, message;
        Place place;
        if (headerWithPlace(line, kind, place)) {
            text.assign(kind.data(), kind.size());
            text += ':';
            places.push_back(place);
        } else if (startsWith(line, "Warning: ") || debugHeader(line, place, message)) {
            // One line each, without a body.
            if (startsWith(line, "Warning: ")) {
                text = "WARNING:";
                append(text, line.substr(9));
            } else {
                text = "DEBUG:";
                append(text, message);
                places.push_back(place);
            }
            lines.next();
            messages.push_back(finish(std::move(text), places, offset, directory));
            continue;
        } else if (headerWithMessage(line, kind, message)) {
            text.assign(kind.data(), kind.size());
            text += ':';
            append(text, message);
        } else {
            // Unknown: this line and the unknown ones up to a blank line or a header.
            append(text, line);
            lines.next();
            while (!lines.atEnd() && !blank(lines.peek()) && !isHeader(lines.peek())) {
                append(text, lines.peek());
                lines.next();
            }
            messages.push_back(finish(std::move(text), places, offset, directory));
            continue;
        }
        lines.next();
        // The message's own lines, up to a blank line or the next header.
        while (!lines.atEnd() && !blank(lines.peek()) && !isHeader(lines.peek())) {
            if (placeLine(lines.peek(), place))
                places.push_back(place);
            else
                append(text, lines.peek());
            lines.next();
        }
        messages.push_back(finish(std::move(text), places, offset, directory));
    }
    return messages;
}

bool innermostTextPosition(std::string_view message, std::uint32_t& line, std::uint32_t& column) {
    Lines lines(message);
    for (; !lines.atEnd(); lines.next()) {
        Place place;
        if (placeLine(lines.peek(), place) && place.path == TextPath && place.line > 0) {
            line = place.line;
            column = place.column;
            return true;
        }
    }
    return false;
}

}  // namespace VantorCompiler
