// libFuzzer target for the reader of libsass's standard error and its traces,
// and for the road of what it reads into a response.
//
// The input is libsass's output operations, one chunk per run of bytes between
// NUL bytes. Whatever they hold, every message has a text; a @warn or @debug
// still to be placed has a line, every other message both or neither of line
// and column; the second chunk read as an error message, with the first as
// the error's text and the third as a file read, names a line where it names
// a place; the bounded warnings encode into a response that decodes back to
// the same warnings.
#include "core/WarningCollector.h"
#include "libsass/Framing.h"
#include "libsass/LibsassTrace.h"
#include "libsass/StderrParser.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace VantorCompiler;

namespace {

void require(bool condition) {
    if (!condition)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    std::vector<std::string_view> chunks;
    for (std::size_t at = 0;;) {
        const std::size_t end = text.find('\0', at);
        chunks.push_back(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        if (end == std::string_view::npos)
            break;
        at = end + 1;
    }
    const std::vector<std::string> paths{std::string(TextPath), std::string(chunks.size() > 2 ? chunks[2] : "")};

    std::uint32_t line = 0;
    std::uint32_t column = 0;
    if (innermostTextPosition(chunks.size() > 1 ? chunks[1] : "", chunks[0], paths, line, column))
        require(line > 0);

    StderrParser parser(
        "/w", WarningCollector::MaxKept,
        [] {
            return CallSite{3, 2};
        },
        size % 2);
    for (const std::string& path : paths)
        parser.addTracePath(path);
    for (const std::string_view chunk : chunks)
        parser.feed(chunk);
    parser.finish();
    const std::size_t count = parser.count();
    const std::vector<StderrMessage> messages = parser.take();
    require(messages.size() <= count && messages.size() <= WarningCollector::MaxKept);
    WarningCollector collector;
    for (const StderrMessage& m : messages) {
        require(!m.text.empty());
        require(m.statement ? m.line > 0 : (m.line == 0) == (m.column == 0));
        collector.add(m.text, m.line, m.statement ? 1 : m.column);
    }
    collector.skip(count - messages.size());

    const std::vector<framing::Warning> warnings = collector.take();
    require(warnings.size() <= framing::MaxWarnings);
    std::size_t bytes = 0;
    for (const framing::Warning& w : warnings) {
        require(w.text.size() <= WarningCollector::MaxTextBytes);
        bytes += w.text.size();
    }
    require(bytes <= WarningCollector::MaxTotalBytes + 64);

    const std::string frame = framing::encodeResponse("a{}", nullptr, 0, 0, nullptr, warnings);
    framing::Response r;
    require(framing::decodeResponse(reinterpret_cast<const unsigned char*>(frame.data()) + framing::HeaderSize,
                                    frame.size() - framing::HeaderSize, r));
    require(r.warnings.size() == warnings.size());
    for (std::size_t i = 0; i < warnings.size(); ++i)
        require(r.warnings[i].text == warnings[i].text && r.warnings[i].line == warnings[i].line &&
                r.warnings[i].column == warnings[i].column);
    return 0;
}
