#include "VantorCompiler.h"

#include "core/Conversion.h"
#include "core/Engine.h"
#include "dartsass/DartSassEngine.h"
#include "libsass/LibsassEngine.h"

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace VantorCompiler {
namespace {

const char* const FailureText = "ERROR : Unhandled compiler error occurred please contact supplier";

const char* text(const std::optional<std::string>& value) { return value ? value->c_str() : nullptr; }

// The live conversion, or null.
Conversion* current = nullptr;

// The engine of a code, made on first use (no process starts until a
// conversion needs one); null for an unknown code.
Engine* engineFor(std::int32_t code) {
    switch (code) {
    case Libsass: {
        static LibsassEngine libsass([] { return engine_error(DartSass); });
        return &libsass;
    }
    case DartSass: {
        static DartSassEngine dartSass;
        return &dartSass;
    }
    default:
        return nullptr;
    }
}

// The caller hands over a malloc'd text; it is released on every way out.
struct InputRelease {
    char* text;
    ~InputRelease() { std::free(text); }
};

std::int32_t position(std::uint32_t value) { return value > 0x7FFFFFFFu ? 0 : static_cast<std::int32_t>(value); }

}  // namespace

const char* compile(CompilerOptions options) {
    InputRelease release{options.input};
    try {
        if (!options.input || !*options.input) {
            // Nothing to convert, and nothing live afterwards.
            current = nullptr;
            return nullptr;
        }
        auto conversion = std::make_unique<Conversion>();
        if (options.output_style < Nested || options.output_style > Compressed || options.indent_width < 0 ||
            options.indent_width > MaxIndentWidth) {
            // The conversion is begun, without results.
            conversion->errorKind = CompilerFailed;
            current = conversion.release();
            return FailureText;
        }
        Engine* engine = engineFor(options.engine);
        const char* refusal = nullptr;
        if (!engine)
            conversion->error = "Unknown compiler (engine code " + std::to_string(options.engine) +
                                "): this library has libsass (" + std::to_string(Libsass) + ") and Dart Sass (" +
                                std::to_string(DartSass) + ").";
        else if ((refusal = engine->unavailable()) || (refusal = engine->refusesStyle(options.output_style)))
            conversion->error = refusal;
        if (conversion->error) {
            conversion->errorKind = CannotRun;
            current = conversion.release();
            return nullptr;
        }

        ConversionRequest request;
        request.outputStyle = options.output_style;
        request.sourceMapEmbed = options.source_map_embed;
        request.indentType = options.indent_type;
        request.indentWidth = options.indent_width;
        request.input.assign(options.input);
        std::free(release.text);
        release.text = nullptr;
        engine->convert(request, *conversion);
        current = conversion.release();
        return text(current->css);
    } catch (...) {
        return FailureText;
    }
}

const char* error() { return current ? text(current->error) : nullptr; }

std::int32_t error_line() { return current ? position(current->errorLine) : 0; }

std::int32_t error_column() { return current ? position(current->errorColumn) : 0; }

const char* error_file() { return current ? text(current->errorFile) : nullptr; }

std::int32_t error_kind() { return current ? current->errorKind : NoError; }

std::int32_t error_file_line() { return current && current->errorFile ? position(current->errorFileLine) : 0; }

std::int32_t error_file_column() { return current && current->errorFile ? position(current->errorFileColumn) : 0; }

const char* engine_version(std::int32_t code) {
    const Engine* engine = engineFor(code);
    return engine ? engine->version() : nullptr;
}

const char* engine_error(std::int32_t code) {
    Engine* engine = engineFor(code);
    return engine ? engine->unavailable() : "Unknown compiler: this library has libsass (0) and Dart Sass (1).";
}

namespace {
const Warning* warningAt(std::int32_t index) {
    if (!current || index < 0 || std::size_t(index) >= current->warnings.size())
        return nullptr;
    return &current->warnings[std::size_t(index)];
}
}  // namespace

std::int32_t warning_count() { return current ? static_cast<std::int32_t>(current->warnings.size()) : 0; }

const char* warning_text(std::int32_t index) {
    const Warning* w = warningAt(index);
    return w ? w->text.c_str() : nullptr;
}

std::int32_t warning_line(std::int32_t index) {
    const Warning* w = warningAt(index);
    return w ? position(w->line) : 0;
}

std::int32_t warning_column(std::int32_t index) {
    const Warning* w = warningAt(index);
    return w ? position(w->column) : 0;
}

void free_memory() {
    if (current && current->lender)
        current->lender->giveBack(*current);
    delete current;
    current = nullptr;
}

}  // namespace VantorCompiler
