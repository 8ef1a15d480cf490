#include "Framing.h"

#include "core/WarningCollector.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace VantorCompiler {
namespace framing {

static_assert(MaxWarnings == WarningCollector::MaxKept + 1, "a response holds the kept warnings and the summary");

namespace {

void putU32(std::string& out, std::uint32_t v) {
    const char bytes[4] = {
        static_cast<char>(v & 0xFF),
        static_cast<char>((v >> 8) & 0xFF),
        static_cast<char>((v >> 16) & 0xFF),
        static_cast<char>((v >> 24) & 0xFF),
    };
    out.append(bytes, 4);
}

void putString(std::string& out, const char* text, std::size_t size) {
    if (!text) {
        putU32(out, NullString);
        return;
    }
    putU32(out, static_cast<std::uint32_t>(size));
    out.append(text, size);
}

std::size_t stringSize(const char* text) { return text ? std::strlen(text) : 0; }

// Fills the header once the payload is in place.
void finish(std::string& frame) {
    const std::uint32_t size = static_cast<std::uint32_t>(frame.size() - HeaderSize);
    for (int i = 0; i < 4; ++i)
        frame[static_cast<std::size_t>(i)] = static_cast<char>((size >> (8 * i)) & 0xFF);
}

// Reads a payload front to back; every read fails once the data runs out.
class Reader {
public:
    Reader(const unsigned char* data, std::size_t size) : data_(data), left_(size) {}

    bool u32(std::uint32_t& v) {
        if (left_ < 4)
            return false;
        v = payloadLength(data_);
        data_ += 4;
        left_ -= 4;
        return true;
    }
    bool i32(std::int32_t& v) {
        std::uint32_t u;
        if (!u32(u))
            return false;
        std::memcpy(&v, &u, sizeof v);
        return true;
    }
    bool u8(std::uint8_t& v) {
        if (left_ < 1)
            return false;
        v = *data_++;
        --left_;
        return true;
    }
    bool string(std::optional<std::string>& s) {
        std::uint32_t size;
        if (!u32(size))
            return false;
        if (size == NullString) {
            s.reset();
            return true;
        }
        if (size > left_)
            return false;
        s.emplace(reinterpret_cast<const char*>(data_), size);
        data_ += size;
        left_ -= size;
        return true;
    }
    bool atEnd() const { return left_ == 0; }

private:
    const unsigned char* data_;
    std::size_t left_;
};

}  // namespace

std::uint32_t payloadLength(const unsigned char* header) {
    return static_cast<std::uint32_t>(header[0]) | static_cast<std::uint32_t>(header[1]) << 8 |
           static_cast<std::uint32_t>(header[2]) << 16 | static_cast<std::uint32_t>(header[3]) << 24;
}

std::string encodeRequest(const Request& request) {
    std::string frame(HeaderSize, '\0');
    frame.reserve(HeaderSize + 21 + (request.input ? request.input->size() : 0));
    putU32(frame, static_cast<std::uint32_t>(request.output_style));
    frame.push_back(request.source_map_embed ? 1 : 0);
    putU32(frame, static_cast<std::uint32_t>(request.indent_type));
    putU32(frame, static_cast<std::uint32_t>(request.indent_width));
    if (request.input)
        putString(frame, request.input->data(), request.input->size());
    else
        putString(frame, nullptr, 0);
    finish(frame);
    return frame;
}

std::string encodeResponse(const char* css, const char* error, std::uint32_t line, std::uint32_t column,
                           const char* errorFile, const std::vector<Warning>& warnings, std::uint32_t fileLine,
                           std::uint32_t fileColumn) {
    const std::size_t cssSize = stringSize(css);
    const std::size_t errorSize = stringSize(error);
    const std::size_t fileSize = stringSize(errorFile);
    const std::size_t count = std::min<std::size_t>(warnings.size(), MaxWarnings);
    std::size_t warningBytes = 0;
    for (std::size_t i = 0; i < count; ++i)
        warningBytes += 12 + warnings[i].text.size();
    std::string frame(HeaderSize, '\0');
    frame.reserve(HeaderSize + 32 + cssSize + errorSize + fileSize + warningBytes);
    putString(frame, css, cssSize);
    putString(frame, error, errorSize);
    putU32(frame, line);
    putU32(frame, column);
    putString(frame, errorFile, fileSize);
    putU32(frame, fileLine);
    putU32(frame, fileColumn);
    putU32(frame, static_cast<std::uint32_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        putString(frame, warnings[i].text.data(), warnings[i].text.size());
        putU32(frame, warnings[i].line);
        putU32(frame, warnings[i].column);
    }
    finish(frame);
    return frame;
}

bool decodeRequest(const unsigned char* data, std::size_t size, Request& request) {
    Reader in(data, size);
    std::uint8_t embed;
    if (!in.i32(request.output_style) || !in.u8(embed) || !in.i32(request.indent_type) ||
        !in.i32(request.indent_width) || !in.string(request.input))
        return false;
    if (embed > 1)
        return false;
    request.source_map_embed = embed == 1;
    return in.atEnd();
}

bool decodeResponse(const unsigned char* data, std::size_t size, Response& response) {
    Reader in(data, size);
    std::uint32_t count;
    if (!in.string(response.css) || !in.string(response.error) || !in.u32(response.error_line) ||
        !in.u32(response.error_column) || !in.string(response.error_file) || !in.u32(response.error_file_line) ||
        !in.u32(response.error_file_column) || !in.u32(count) || count > MaxWarnings)
        return false;
    response.warnings.clear();
    response.warnings.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::optional<std::string> text;
        Warning w;
        if (!in.string(text) || !text || !in.u32(w.line) || !in.u32(w.column))
            return false;
        w.text = std::move(*text);
        response.warnings.push_back(std::move(w));
    }
    return in.atEnd();
}

}  // namespace framing
}  // namespace VantorCompiler
