// Reads the traces libsass 3.6.5 writes after a @warn and after an error
// message:
//   INDENT on line L:C of PATH[, in mixin `m`]
//   INDENT from line L:C of PATH[, in function `f`]
//   INDENT from line L:C of PATH
// innermost first, each caller's name ending the line before its frame. The
// paths come from file names, which the stylesheet chooses: they may hold
// line breaks and whole trace lines. A frame's path is therefore the longest
// of the files libsass read that stands there, and only else what runs to the
// line's end.
//
// Compiled into the worker; pure functions, nothing here is exported.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace VantorCompiler {

// The name libsass gives the text of a data context.
constexpr std::string_view TextPath = "stdin";

struct TraceFrame {
    std::uint32_t line = 0;
    std::uint32_t column = 0;
    std::string_view path;
};

// The frames of a trace that begins at the start of trace, innermost first;
// reading stops at the first line that is not a frame. paths are the files
// libsass may name, as it prints them.
std::vector<TraceFrame> readTrace(std::string_view trace, const std::vector<std::string>& paths);

// A file's path as libsass prints it in a trace: relative to the working
// directory directory (an absolute path), with "../" where it lies outside.
std::string tracePath(std::string_view path, std::string_view directory);

// The trace of libsass's formatted error message: what follows the message
// text, which libsass indents and which may itself hold lines shaped as a
// trace. errorText is the error's own text (sass_context_get_error_text).
// Empty when the message does not begin with that text.
std::string_view errorTrace(std::string_view message, std::string_view errorText);

// The innermost frame in the converted text of an error message's trace.
// False when the trace names none.
bool innermostTextPosition(std::string_view message, std::string_view errorText, const std::vector<std::string>& paths,
                           std::uint32_t& line, std::uint32_t& column);

}  // namespace VantorCompiler
