// Whether a text begins with a prefix: std::string_view has no starts_with before C++20.
//
// Header only and dependency free; nothing here is exported.
#pragma once

#include <string_view>

namespace VantorCompiler {

inline bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace VantorCompiler
