// One warning of a conversion, as the library hands it out.
//
// Shared by both engines; nothing here is exported.
#pragma once

#include <cstdint>
#include <string>

namespace VantorCompiler {

struct Warning {
    std::string text;
    // 1-based, in characters of the converted text; 0 when the warning has no
    // place in it (it arose in another file, say).
    std::uint32_t line = 0;
    std::uint32_t column = 0;
};

}  // namespace VantorCompiler
