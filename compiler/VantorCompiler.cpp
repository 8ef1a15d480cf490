#include "VantorCompiler.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

namespace VantorCompiler {
namespace {

const char* const FailureText = "ERROR : Unhandled compiler error occurred please contact supplier";

// The live conversion; all null when none is live.
Sass_Data_Context* currentDataContext = nullptr;
Sass_Options* currentOptions = nullptr;
Sass_Context* currentContext = nullptr;

// Output style code to libsass style. Code 1 is compact and code 2 expanded:
// the program's menu relies on this table, so it must not change.
const Sass_Output_Style StyleTable[4] = {
    SASS_STYLE_NESTED,
    SASS_STYLE_COMPACT,
    SASS_STYLE_EXPANDED,
    SASS_STYLE_COMPRESSED,
};

// Digits libsass keeps after the decimal point: the Sass language's standard.
constexpr int Precision = 10;

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using MallocString = std::unique_ptr<char, FreeDeleter>;

struct CompilerDeleter {
    void operator()(Sass_Compiler* c) const { sass_delete_compiler(c); }
};

// indent_width copies of a tab (indent type 1) or a space, NUL-terminated.
MallocString makeIndent(std::int32_t type, std::int32_t width) {
    if (width < 0 || width > MaxIndentWidth)
        throw std::invalid_argument("indent width out of range");
    MallocString block(static_cast<char*>(std::malloc(static_cast<std::size_t>(width) + 1)));
    if (!block)
        throw std::bad_alloc();
    std::memset(block.get(), type == Tabs ? '\t' : ' ', static_cast<std::size_t>(width));
    block.get()[width] = '\0';
    return block;
}

}  // namespace

const char* compile(CompilerOptions options) {
    try {
        if (!options.input || !*options.input) {
            // libsass refuses an empty text without taking it over, and leaks the
            // error strings it builds on the way. There is nothing to convert.
            std::free(options.input);
            currentDataContext = nullptr;
            currentOptions = nullptr;
            currentContext = nullptr;
            return nullptr;
        }
        currentDataContext = sass_make_data_context(options.input);
        if (!currentDataContext)
            throw std::bad_alloc();
        currentOptions = sass_data_context_get_options(currentDataContext);
        currentContext = sass_data_context_get_context(currentDataContext);

        if (options.output_style < 0 || options.output_style > 3)
            throw std::invalid_argument("output style out of range");
        MallocString indent = makeIndent(options.indent_type, options.indent_width);

        sass_option_set_precision(currentOptions, Precision);
        sass_option_set_source_comments(currentOptions, false);
        sass_option_set_source_map_embed(currentOptions, options.source_map_embed ? 1 : 0);
        sass_option_set_output_style(currentOptions, StyleTable[options.output_style]);
        sass_option_set_indent(currentOptions, indent.get());
        sass_data_context_set_options(currentDataContext, currentOptions);

        {
            // libsass reads the indent while it runs; both go once execute has returned.
            std::unique_ptr<Sass_Compiler, CompilerDeleter> compiler(sass_make_data_compiler(currentDataContext));
            if (!compiler)
                throw std::bad_alloc();
            sass_compiler_parse(compiler.get());
            sass_compiler_execute(compiler.get());
        }
        return sass_context_get_output_string(currentContext);
    } catch (...) {
        return FailureText;
    }
}

const char* error() {
    if (!currentContext)
        return nullptr;
    return sass_context_get_error_text(currentContext);
}

void free_memory() {
    if (!currentDataContext)
        return;
    sass_delete_data_context(currentDataContext);
    currentDataContext = nullptr;
    currentOptions = nullptr;
    currentContext = nullptr;
}

}  // namespace VantorCompiler
