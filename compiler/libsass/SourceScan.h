// Looks through SCSS and CSS texts for what libsass passes over silently: rules
// of the Sass module system and Sass variables left in the CSS. Positions are
// 1-based lines and columns counted in characters (UTF-8 code points), as
// libsass counts them.
//
// Compiled into the library and the worker; nothing here is exported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace VantorCompiler {

enum class Syntax { Scss, Css };

struct TextPlace {
    std::uint32_t line = 0;
    std::uint32_t column = 0;
};

// The line and column of a byte offset; offsets past the end count from the end.
TextPlace placeOf(std::string_view text, std::size_t offset);
// The byte offset of a line and column, or npos when the text has no such place.
std::size_t offsetOf(std::string_view text, TextPlace place);

// The place of the at-keyword written just before place, with only spaces
// between, as libsass places "@include name" at the name and '@warn "text"' at
// the text; else place itself. keywords are without '@'.
TextPlace keywordStart(std::string_view text, TextPlace place, const std::vector<std::string_view>& keywords);

// The place of the nearest "@keyword" that begins before place; else place
// itself. libsass places @warn and @debug somewhere in or after their message.
TextPlace lastKeywordBefore(std::string_view text, TextPlace place, std::string_view keyword);

// Place itself when the text has it, else the last character of its line
// (column 1 for an empty line): libsass's columns may run past a line's end.
TextPlace withinLine(std::string_view text, TextPlace place);

// The places of the statements that begin with "@keyword" (keyword without
// '@'), in the order they are written, outside comments and strings.
std::vector<TextPlace> statementPlaces(std::string_view text, std::string_view keyword);

// The first escape in a string that names no character (a surrogate such as
// \d800, or past \10ffff), which libsass reports without a place; 0:0 when none.
TextPlace invalidCodePointEscape(std::string_view text);

struct ModuleRule {
    std::string_view name;  // "@use" or "@forward"; empty when none was found
    TextPlace place;
};

// The first statement that starts with @use or @forward, at any nesting depth,
// outside comments and strings. Longer at-keywords (@usefoo) do not count.
ModuleRule findModuleRule(std::string_view text, Syntax syntax);

struct LeftoverVariable {
    std::string name;      // "$a"
    std::string property;  // "width"
    // Where the variable is written in the SCSS text: in the first value equal
    // to the CSS's after that property, else after any property; 0:0 when the
    // value cannot be found there as the CSS shows it.
    TextPlace place;
};

// Declarations of css whose value still holds a Sass variable ($name outside
// strings, comments and attribute selectors), each declaration once, located
// in scss: the first most of them, while count gets the number of all.
std::vector<LeftoverVariable> findLeftoverVariables(std::string_view css, std::string_view scss, std::size_t most,
                                                    std::size_t& count);

}  // namespace VantorCompiler
