// The limits of libsass that its error texts do not name, each with the usual
// way round it, kept in one table.
//
// Compiled into the library; nothing here is exported.
#pragma once

#include <string>
#include <string_view>

namespace VantorCompiler {

// libsass's error text, followed by one sentence when the text shows one of
// the limits in the table; else the text exactly as libsass wrote it. placed:
// libsass named the error's line.
std::string withHint(std::string_view error, bool placed);

}  // namespace VantorCompiler
