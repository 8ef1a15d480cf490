// What one conversion asks for and what it gives, between the library's
// facade and an engine.
//
// Shared by both engines; nothing here is exported.
#pragma once

#include "Warning.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace VantorCompiler {

class Engine;

struct ConversionRequest {
    std::int32_t outputStyle = 0;  // a style code the engine has: checked before
    bool sourceMapEmbed = false;
    std::int32_t indentType = 0;
    std::int32_t indentWidth = 0;  // 0 to MaxIndentWidth
    std::string input;             // not empty
};

struct Conversion {
    std::optional<std::string> css;
    std::optional<std::string> error;
    std::int32_t errorKind = 0;  // an ErrorKinds code
    // 1-based, in characters of the given text; 0 when unknown.
    std::uint32_t errorLine = 0;
    std::uint32_t errorColumn = 0;
    // The file of the error when it is not the given text, and the place there.
    std::optional<std::string> errorFile;
    std::uint32_t errorFileLine = 0;
    std::uint32_t errorFileColumn = 0;
    std::vector<Warning> warnings;
    // Set when css is a buffer the engine lent: the library gives it back with
    // Engine::giveBack() before the conversion is released.
    Engine* lender = nullptr;
};

}  // namespace VantorCompiler
