#include "VantorCompiler.h"

#include "libsass/ErrorHints.h"
#include "libsass/Framing.h"
#include "libsass/SourceScan.h"
#include "libsass/WorkerProcess.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace VantorCompiler {
namespace {

const char* const FailureText = "ERROR : Unhandled compiler error occurred please contact supplier";

// The budget as the user reads it: whole seconds, 2 for any short text.
std::string timeLimitText(std::chrono::nanoseconds cpu) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(cpu).count();
    return "Compilation stopped after " + std::to_string(seconds) +
           " seconds: the stylesheet does not finish (an endless @while or a very large @for?)";
}

std::string stalledText(std::chrono::nanoseconds backstop) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(backstop).count();
    return "Compilation stopped: the Sass compiler made no progress for " + std::to_string(seconds) +
           " seconds (is it waiting for an @import of a pipe or device?)";
}

// One conversion's results, owned here until free_memory(); the texts are
// taken over from the worker's decoded reply, not copied again.
struct Conversion {
    std::optional<std::string> css;
    std::optional<std::string> error;
    std::int32_t errorLine = 0;
    std::int32_t errorColumn = 0;
    std::optional<std::string> errorFile;
    std::vector<Warning> warnings;
};

const char* text(const std::optional<std::string>& value) { return value ? value->c_str() : nullptr; }

// The live conversion, or null.
Conversion* current = nullptr;

WorkerProcess& worker() {
    static WorkerProcess process;
    return process;
}

std::int32_t position(std::uint32_t value) {
    return value > 0x7FFFFFFFu ? 0 : static_cast<std::int32_t>(value);
}

// The refusal of a module system rule, found in the text or, imported, in the CSS.
std::string moduleRuleText(std::string_view rule, bool imported) {
    std::string text(rule);
    text += imported ? " (in an imported file) is not supported here" : " is not supported here";
    text +=
        ": libsass, the compiler this program uses, predates the Sass module system (@use, @forward, and built-in "
        "modules such as sass:math). Use @import and the global functions instead (math.div(a, b) \xE2\x86\x92 a / b, "
        "map.get \xE2\x86\x92 map-get).";
    return text;
}

// The caller hands over a malloc'd text; it is released on every way out.
struct InputRelease {
    char* text;
    ~InputRelease() { std::free(text); }
};

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
        if (options.output_style < 0 || options.output_style > 3 || options.indent_width < 0 ||
            options.indent_width > MaxIndentWidth) {
            // The conversion is begun, without results.
            current = conversion.release();
            return FailureText;
        }

        // libsass would copy these rules into the CSS as if they were plain CSS.
        const ModuleRule rule = findModuleRule(options.input, Syntax::Scss);
        if (!rule.name.empty()) {
            conversion->error = moduleRuleText(rule.name, false);
            conversion->errorLine = position(rule.place.line);
            conversion->errorColumn = position(rule.place.column);
            current = conversion.release();
            return nullptr;
        }

        framing::Request request;
        request.output_style = options.output_style;
        request.source_map_embed = options.source_map_embed;
        request.indent_type = options.indent_type;
        request.indent_width = options.indent_width;
        request.input.emplace(options.input);
        const Budget budget = budgetFor(request.input->size());
        const std::string frame = framing::encodeRequest(request);
        request.input.reset();
        std::free(release.text);
        release.text = nullptr;

        WorkerProcess::Exchange reply = worker().exchange(frame, budget);
        switch (reply.outcome) {
        case WorkerProcess::Outcome::Answered: {
            framing::Response& response = reply.response;
            const ModuleRule imported =
                response.css ? findModuleRule(*response.css, Syntax::Css) : ModuleRule();
            if (!imported.name.empty()) {
                conversion->error = moduleRuleText(imported.name, true);
            } else {
                conversion->css = std::move(response.css);
                if (response.error)
                    conversion->error =
                        withHint(*response.error, position(response.error_line) != 0 || response.error_file);
                conversion->errorLine = position(response.error_line);
                conversion->errorColumn = position(response.error_column);
                conversion->errorFile = std::move(response.error_file);
            }
            conversion->warnings.reserve(response.warnings.size());
            for (Warning& w : response.warnings)
                conversion->warnings.push_back({std::move(w.text), std::uint32_t(position(w.line)),
                                                std::uint32_t(position(w.column))});
            break;
        }
        case WorkerProcess::Outcome::TimedOut:
            conversion->error = timeLimitText(budget.cpu);
            break;
        case WorkerProcess::Outcome::Stalled:
            conversion->error = stalledText(budget.wall);
            break;
        case WorkerProcess::Outcome::Died:
            conversion->error = "The Sass compiler failed on this input (" + reply.detail + "). Your text is unchanged.";
            break;
        case WorkerProcess::Outcome::CannotRun:
            conversion->error = "The Sass compiler cannot run: " + reply.detail + ".";
            break;
        case WorkerProcess::Outcome::NotStarted:
            conversion->error = "The Sass compiler cannot be started: " + reply.detail;
            break;
        }
        current = conversion.release();
        return text(current->css);
    } catch (...) {
        return FailureText;
    }
}

const char* error() { return current ? text(current->error) : nullptr; }

std::int32_t error_line() { return current ? current->errorLine : 0; }

std::int32_t error_column() { return current ? current->errorColumn : 0; }

const char* error_file() { return current ? text(current->errorFile) : nullptr; }

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
    return w ? std::int32_t(w->line) : 0;
}

std::int32_t warning_column(std::int32_t index) {
    const Warning* w = warningAt(index);
    return w ? std::int32_t(w->column) : 0;
}

void free_memory() {
    delete current;
    current = nullptr;
}

}  // namespace VantorCompiler
