// libFuzzer target for the reader of libsass's standard error and its error
// traces, and for the road of what it reads into a response.
//
// Whatever the input, every message has a text, begins after the one before,
// and has both or neither of line and column; the bounded warnings it gives
// encode into a response that decodes back to the same warnings.
#include "core/WarningCollector.h"
#include "libsass/Framing.h"
#include "libsass/StderrParser.h"

#include <cstddef>
#include <cstdint>
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

    std::uint32_t line = 0;
    std::uint32_t column = 0;
    if (innermostTextPosition(text, line, column))
        require(line > 0);

    const std::vector<StderrMessage> messages = parseStderr(text);
    WarningCollector collector;
    std::size_t previous = 0;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const StderrMessage& m = messages[i];
        require(!m.text.empty());
        require(m.offset < size);
        require(i == 0 || m.offset > previous);
        require((m.line == 0) == (m.column == 0));
        previous = m.offset;
        collector.add(m.text, m.line, m.column);
    }

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
