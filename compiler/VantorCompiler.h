// Vantor.Compiler: converts one SCSS text to CSS per call with libsass.
//
// Calling order, once per conversion: compile(), then error() as often as
// needed, then exactly one free_memory(). Every string returned belongs to the
// library and stays valid until that free_memory(); the fixed failure text is
// a constant and stays valid while the library is loaded.
#pragma once

#include <sass.h>

#include <cstdint>

#if defined(VANTOR_COMPILER_BUILD)
#define VANTOR_COMPILER_API __attribute__((visibility("default")))
#else
#define VANTOR_COMPILER_API
#endif

namespace VantorCompiler {

// Indent type code carried in CompilerOptions::indent_type; every value other
// than Tabs means spaces.
enum IndentTypes : std::int32_t {
    Spaces = 0,
    Tabs = 1,
};

// Largest indent_width compile() accepts; larger (or negative) widths give the
// fixed failure text instead of a huge allocation.
constexpr std::int32_t MaxIndentWidth = 1024;

// Crosses the library boundary by value: field order and widths are part of
// the interface between the program and the library.
struct CompilerOptions {
    // NUL-terminated UTF-8 SCSS text. compile() hands it to libsass, which takes
    // it over and frees it with free(): allocate it with sass_copy_c_string()
    // or malloc(), and never free it yourself. Not set by the constructor.
    char* input;
    // Output style code, 0 to 3: 0 nested, 1 compact, 2 expanded, 3 compressed.
    std::int32_t output_style;
    bool source_map_embed;
    // IndentTypes code.
    std::int32_t indent_type;
    // Indentation characters per nesting level, 0 to MaxIndentWidth.
    std::int32_t indent_width;

    CompilerOptions() : output_style(2), source_map_embed(false), indent_type(Spaces), indent_width(4) {}
};

// Converts options.input. Returns the CSS, null when libsass produced none (a
// Sass error: read it with error()), or the fixed failure text
// "ERROR : Unhandled compiler error occurred please contact supplier".
VANTOR_COMPILER_API const char* compile(CompilerOptions options);

// libsass's error text of the live conversion, or null when it reported none
// or when no conversion is live.
VANTOR_COMPILER_API const char* error();

// Releases the live conversion and both its strings; does nothing when none is live.
VANTOR_COMPILER_API void free_memory();

}  // namespace VantorCompiler
