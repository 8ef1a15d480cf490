#include "LibsassTrace.h"

#include "core/TextPrefix.h"

#include <algorithm>

namespace VantorCompiler {
namespace {

// Largest line or column number read; longer digit runs end the trace.
constexpr std::size_t MaxDigits = 9;

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

// What may follow a frame's path: its line's end, or the next frame's caller.
bool endsPath(std::string_view after) {
    return after.empty() || after.front() == '\n' || startsWith(after, ", in ");
}

}  // namespace

std::vector<TraceFrame> readTrace(std::string_view trace, const std::vector<std::string>& paths) {
    std::vector<TraceFrame> frames;
    std::string_view s = trace;
    for (;;) {
        std::size_t indent = 0;
        while (indent < s.size() && s[indent] == ' ')
            ++indent;
        if (indent == 0)
            break;
        std::string_view rest = s.substr(indent);
        if (!eat(rest, frames.empty() ? "on line " : "from line "))
            break;
        TraceFrame frame;
        if (!number(rest, frame.line))
            break;
        // An error without a trace of its own names only the line.
        if (eat(rest, ":") && !number(rest, frame.column))
            break;
        if (!eat(rest, " of "))
            break;
        std::size_t length = std::string_view::npos;
        for (const std::string& path : paths) {
            if ((length == std::string_view::npos || path.size() > length) && startsWith(rest, path) &&
                endsPath(rest.substr(path.size())))
                length = path.size();
        }
        if (length == std::string_view::npos) {
            length = std::min(rest.find('\n'), rest.find(", in "));
            if (length == std::string_view::npos)
                length = rest.size();
        }
        frame.path = rest.substr(0, length);
        frames.push_back(frame);
        rest.remove_prefix(length);
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos)
            break;
        s = rest.substr(end + 1);
    }
    return frames;
}

std::string tracePath(std::string_view path, std::string_view directory) {
    if (path.empty() || path.front() != '/' || directory.empty())
        return std::string(path);
    std::string base(directory);
    if (base.back() != '/')
        base += '/';
    // The common folders, then one "../" for each folder of the directory below them.
    std::size_t common = 0;
    for (std::size_t i = 0; i < path.size() && i < base.size() && path[i] == base[i]; ++i) {
        if (path[i] == '/')
            common = i + 1;
    }
    std::string result;
    for (std::size_t i = common; i < base.size(); ++i) {
        if (base[i] == '/')
            result += "../";
    }
    result.append(path.substr(common));
    return result;
}

std::string_view errorTrace(std::string_view message, std::string_view errorText) {
    // "Error: " and the text, each line after a line break indented to the
    // text's start, then a line break unless the text ended with one.
    const std::size_t colon = message.find(": ");
    if (colon == std::string_view::npos)
        return {};
    const std::size_t indent = colon + 2;
    std::size_t at = indent;
    bool lineBreak = false;
    for (const char c : errorText) {
        if (c == '\n' || c == '\r') {
            lineBreak = true;
        } else if (lineBreak) {
            if (message.size() - at < indent ||
                message.substr(at, indent).find_first_not_of(' ') != std::string_view::npos)
                return {};
            at += indent;
            lineBreak = false;
        }
        if (at >= message.size() || message[at] != c)
            return {};
        ++at;
    }
    if (!lineBreak) {
        if (at >= message.size() || message[at] != '\n')
            return {};
        ++at;
    }
    return message.substr(at);
}

bool innermostTextPosition(std::string_view message, std::string_view errorText, const std::vector<std::string>& paths,
                           std::uint32_t& line, std::uint32_t& column) {
    for (const TraceFrame& frame : readTrace(errorTrace(message, errorText), paths)) {
        if (frame.path == TextPath && frame.line > 0) {
            line = frame.line;
            column = frame.column;
            return true;
        }
    }
    return false;
}

}  // namespace VantorCompiler
