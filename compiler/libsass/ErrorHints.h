// The limits of libsass that its error texts do not name, each with the usual
// way round it, kept in one table.
//
// Compiled into the library; nothing here is exported.
#pragma once

#include <string>
#include <string_view>

namespace VantorCompiler {

// The global functions that stand in for the module system's, as the refusal
// of a module rule and the hint on a module function both name them.
inline constexpr std::string_view GlobalFunctionExamples =
    "math.div(a, b) \xE2\x86\x92 a / b, map.get \xE2\x86\x92 map-get";

// libsass's error text, followed by one sentence when the text shows one of
// the limits in the table; else the text exactly as libsass wrote it. placed:
// libsass named the error's line.
std::string withHint(std::string_view error, bool placed);

}  // namespace VantorCompiler
