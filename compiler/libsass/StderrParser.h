// Reads what libsass 3.6.5 writes about a conversion: the warnings it prints to
// standard error, and the trace lines of its error messages.
//
// The warning formats of libsass 3.6.5:
//   DEPRECATION WARNING on line L[, column C][ of PATH]:   then message lines,
//   WARNING on line L, column C of PATH:                   ended by a blank line
//   DEPRECATION WARNING: MESSAGE                            message lines, possibly
//   WARNING: MESSAGE                                        "        on line L[:C] of PATH"
//                                                           and "from line ..." lines
//   Warning: MESSAGE                                        one line each
//   PATH:L DEBUG: MESSAGE
// The worker overrides @warn and @debug, so their own output (WARNING: with a
// trace, PATH:L DEBUG:) only shows if that fails. Anything else is kept as it
// stands, one message per run of non-blank lines.
//
// Compiled into the worker; pure functions, nothing here is exported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace VantorCompiler {

// The name libsass gives the text of a data context.
constexpr std::string_view TextPath = "stdin";

struct StderrMessage {
    // Kind and message on one line, "DEPRECATION WARNING: The operation ...";
    // ends in " (on line L of PATH)" when the message arose in another file.
    std::string text;
    // 1-based, in the converted text; both 0 when it arose elsewhere or libsass
    // named no place. Column 1 when libsass named only the line.
    std::uint32_t line = 0;
    std::uint32_t column = 0;
    // Byte offset in the input where the message began.
    std::size_t offset = 0;
};

// Splits text into libsass's messages, in order. Never drops a non-blank line:
// what it cannot read comes back as a message at 0:0 with the line's own text.
// Paths below directory (libsass's working directory) are named relative to it.
std::vector<StderrMessage> parseStderr(std::string_view text, std::string_view directory = {});

// The innermost position in the converted text named by a libsass error
// message's trace ("on line L:C of stdin", "from line L:C of stdin"). False when
// the trace names none.
bool innermostTextPosition(std::string_view message, std::uint32_t& line, std::uint32_t& column);

}  // namespace VantorCompiler
