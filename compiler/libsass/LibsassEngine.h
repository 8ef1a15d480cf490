// libsass as an engine of the library: its worker, and the layers that make up
// for what libsass passes over (the module system's rules, leftover variables,
// hints on its limits).
//
// For one thread at a time, as the library's functions are.
#pragma once

#include "WorkerProcess.h"
#include "core/Engine.h"
#include "core/OutcomeTexts.h"

#include <functional>

namespace VantorCompiler {

class LibsassEngine : public Engine {
public:
    // modernEngineProblem gives null when the engine that converts the module
    // system (Dart Sass) can run here, else why not; the refusal of @use and
    // @forward points the way out accordingly.
    explicit LibsassEngine(std::function<const char*()> modernEngineProblem);

    const char* version() const override;
    const char* unavailable() override;
    const char* refusesStyle(std::int32_t style) const override;
    void convert(ConversionRequest& request, Conversion& conversion) override;

private:
    std::string moduleRuleText(std::string_view rule, bool imported) const;

    std::function<const char*()> modernEngineProblem_;
    WorkerProcess worker_;
    OutcomeTexts texts_{"the Sass compiler"};
};

}  // namespace VantorCompiler
