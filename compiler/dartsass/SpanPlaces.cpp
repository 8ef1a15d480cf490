#include "SpanPlaces.h"

#include <cctype>
#include <cstring>

namespace VantorCompiler {
namespace dartsass {
namespace {

// The length of the UTF-8 sequence that starts with lead, 1 for a stray byte.
std::size_t sequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    if (lead >= 0xE0)
        return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2)
        return 2;
    return 1;
}

// The length of the well-formed UTF-8 sequence at text[i], 0 when there is
// none: a stray or cut byte, an overlong form, a surrogate or a code point
// past U+10FFFF (the second byte's range rules out the last three).
std::size_t validSequence(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    const std::size_t length = sequenceLength(lead);
    if (length == 1 || i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    if ((lead == 0xE0 && byte(i + 1) < 0xA0) || (lead == 0xED && byte(i + 1) >= 0xA0) ||
        (lead == 0xF0 && byte(i + 1) < 0x90) || (lead == 0xF4 && byte(i + 1) >= 0x90))
        return 0;
    return length;
}

bool isDigits(std::string_view s) {
    if (s.empty() || s.size() > 9)
        return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

std::uint32_t number(std::string_view s) {
    std::uint32_t n = 0;
    for (char c : s)
        n = n * 10 + std::uint32_t(c - '0');
    return n;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

Place placeInText(std::string_view text, std::uint32_t line0, std::uint32_t utf16Column) {
    std::size_t at = 0;
    for (std::uint32_t l = 0; l < line0; ++l) {
        const std::size_t next = text.find('\n', at);
        if (next == std::string_view::npos)
            return {};
        at = next + 1;
    }
    Place place;
    place.line = line0 + 1;
    place.column = 1;
    std::uint32_t units = 0;
    while (at < text.size() && text[at] != '\n' && units < utf16Column) {
        const std::size_t length = sequenceLength(static_cast<unsigned char>(text[at]));
        // Characters outside the Basic Multilingual Plane are two UTF-16 units.
        units += length == 4 ? 2 : 1;
        at += length;
        ++place.column;
    }
    return place;
}

Place firstInvalidUtf8(std::string_view text) {
    Place place{1, 1};
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = validSequence(text, i);
        if (length == 0)
            return place;
        if (text[i] == '\n') {
            ++place.line;
            place.column = 1;
        } else {
            ++place.column;
        }
        i += length;
    }
    return {};
}

bool isUtf8(std::string_view text) {
    const char* const data = text.data();
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        // CSS is nearly all ASCII: eight bytes at a time while no top bit is set.
        std::uint64_t word;
        if (i + sizeof word <= size) {
            std::memcpy(&word, data + i, sizeof word);
            if ((word & 0x8080808080808080u) == 0) {
                i += sizeof word;
                continue;
            }
        }
        const std::size_t length = validSequence(text, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::vector<Frame> parseFrames(std::string_view trace) {
    std::vector<Frame> frames;
    while (!trace.empty()) {
        const std::size_t end = trace.find('\n');
        std::string_view line = trace.substr(0, end);
        trace = end == std::string_view::npos ? std::string_view() : trace.substr(end + 1);
        // The last " digits:digits " followed by spaces: location before, member after.
        for (std::size_t space = line.rfind(' '); space != std::string_view::npos && space > 0;
             space = line.rfind(' ', space - 1)) {
            const std::size_t after = line.find(' ', space + 1);
            if (after == std::string_view::npos)
                continue;
            const std::string_view position = line.substr(space + 1, after - space - 1);
            const std::size_t colon = position.find(':');
            if (colon == std::string_view::npos || !isDigits(position.substr(0, colon)) ||
                !isDigits(position.substr(colon + 1)))
                continue;
            Frame frame;
            frame.location = std::string(line.substr(0, space));
            frame.line = number(position.substr(0, colon));
            frame.column = number(position.substr(colon + 1));
            const std::size_t member = line.find_first_not_of(' ', after);
            if (member != std::string_view::npos)
                frame.member = std::string(line.substr(member));
            frames.push_back(std::move(frame));
            break;
        }
    }
    return frames;
}

std::string filePath(std::string_view url) {
    constexpr std::string_view scheme = "file://";
    if (url.substr(0, scheme.size()) != scheme)
        return {};
    url.remove_prefix(scheme.size());
    if (url.empty() || url[0] != '/')
        return {};  // a host other than the local one
    std::string path;
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '%') {
            if (i + 2 >= url.size())
                return {};
            const int high = hexValue(url[i + 1]);
            const int low = hexValue(url[i + 2]);
            if (high < 0 || low < 0)
                return {};
            const char c = static_cast<char>(high * 16 + low);
            if (c == '\0')
                return {};
            path += c;
            i += 2;
        } else if (url[i] == '?' || url[i] == '#') {
            break;
        } else {
            path += url[i];
        }
    }
    return path;
}

std::string fileUrl(std::string_view path) {
    static const char* const hex = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

}  // namespace dartsass
}  // namespace VantorCompiler
