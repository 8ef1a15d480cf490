#include "LibsassEngine.h"

#include "ErrorHints.h"
#include "Framing.h"
#include "SourceScan.h"
#include "VantorCompiler.h"
#include "core/CpuMeter.h"

#include <string_view>
#include <utility>

namespace VantorCompiler {
namespace {

std::uint32_t position(std::uint32_t value) { return value > 0x7FFFFFFFu ? 0 : value; }

// libsass reports running out of its address space as an error of its own.
bool outOfMemory(const std::string& error) { return error.rfind("Unable to allocate memory", 0) == 0; }

}  // namespace

LibsassEngine::LibsassEngine(std::function<const char*()> modernEngineProblem)
    : modernEngineProblem_(std::move(modernEngineProblem)) {}

const char* LibsassEngine::version() const { return "libsass 3.6.5"; }

const char* LibsassEngine::unavailable() { return nullptr; }

const char* LibsassEngine::refusesStyle(std::int32_t) const { return nullptr; }

// The refusal of a module system rule, found in the text or, imported, in the
// CSS. Its first sentence is the way out (Dart Sass, or why it cannot run
// here), so a message line that shows only the start still shows that; the
// libsass way round follows.
std::string LibsassEngine::moduleRuleText(std::string_view rule, bool imported) const {
    std::string text(rule);
    text += imported ? " (in an imported file) is not supported by libsass" : " is not supported by libsass";
    const char* problem = modernEngineProblem_ ? modernEngineProblem_() : "it is not built in";
    if (!problem)
        text += "; Dart Sass converts it: choose Dart Sass as the compiler. ";
    else
        text += std::string(", and Dart Sass, which would convert it, cannot run here (") + problem + "). ";
    text += "libsass predates the Sass module system (@use, @forward, and built-in modules such as sass:math)";
    text += problem ? ": use" : "; to stay with it, use";
    text += " @import and the global functions instead (";
    text += GlobalFunctionExamples;
    text += ").";
    return text;
}

void LibsassEngine::convert(ConversionRequest& request, Conversion& conversion) {
    // libsass would copy these rules into the CSS as if they were plain CSS.
    const ModuleRule rule = findModuleRule(request.input, Syntax::Scss);
    if (!rule.name.empty()) {
        conversion.error = moduleRuleText(rule.name, false);
        conversion.errorKind = ModuleSystemRefused;
        conversion.errorLine = rule.place.line;
        conversion.errorColumn = rule.place.column;
        return;
    }

    framing::Request frameRequest;
    frameRequest.output_style = request.outputStyle;
    frameRequest.source_map_embed = request.sourceMapEmbed;
    frameRequest.indent_type = request.indentType;
    frameRequest.indent_width = request.indentWidth;
    const Budget budget = budgetFor(request.input.size());
    frameRequest.input.emplace(std::move(request.input));
    const std::string frame = framing::encodeRequest(frameRequest);
    frameRequest.input.reset();

    WorkerProcess::Exchange reply = worker_.exchange(frame, budget);
    switch (reply.outcome) {
    case WorkerProcess::Outcome::Answered: {
        framing::Response& response = reply.response;
        const ModuleRule imported = response.css ? findModuleRule(*response.css, Syntax::Css) : ModuleRule();
        if (!imported.name.empty()) {
            conversion.error = moduleRuleText(imported.name, true);
            conversion.errorKind = ModuleSystemRefused;
        } else {
            conversion.css = std::move(response.css);
            if (response.error) {
                conversion.errorKind = outOfMemory(*response.error) ? Stopped : SassError;
                conversion.error = withHint(*response.error, position(response.error_line) != 0 || response.error_file);
            }
            conversion.errorLine = position(response.error_line);
            conversion.errorColumn = position(response.error_column);
            conversion.errorFile = std::move(response.error_file);
            if (conversion.errorFile) {
                conversion.errorFileLine = position(response.error_file_line);
                conversion.errorFileColumn = position(response.error_file_column);
            }
        }
        conversion.warnings.reserve(response.warnings.size());
        for (Warning& w : response.warnings)
            conversion.warnings.push_back({std::move(w.text), position(w.line), position(w.column)});
        break;
    }
    case WorkerProcess::Outcome::TimedOut:
        conversion.error = texts_.timeLimit(budget.cpu);
        conversion.errorKind = Stopped;
        break;
    case WorkerProcess::Outcome::Stalled:
        conversion.error = texts_.stalled(budget.wall);
        conversion.errorKind = Stopped;
        break;
    case WorkerProcess::Outcome::Died:
        conversion.error = texts_.failed(reply.detail);
        conversion.errorKind = CompilerFailed;
        break;
    case WorkerProcess::Outcome::CannotRun:
        conversion.error = texts_.cannotRun(reply.detail);
        conversion.errorKind = CannotRun;
        break;
    case WorkerProcess::Outcome::NotStarted:
        conversion.error = texts_.notStarted(reply.detail);
        conversion.errorKind = CannotRun;
        break;
    }
}

}  // namespace VantorCompiler
