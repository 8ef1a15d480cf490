// The texts of the ways a conversion can end without the compiler's own
// answer, the same for both engines but for the compiler's name.
//
// Shared by both engines; nothing here is exported.
#pragma once

#include <chrono>
#include <string>

namespace VantorCompiler {

// subject names the compiler as a sentence's subject: "the Sass compiler"
// (libsass's texts, as they always were) or "Dart Sass". Each text starts with
// a capital.
class OutcomeTexts {
public:
    explicit OutcomeTexts(std::string subject) : subject_(std::move(subject)) {}

    // The CPU budget used up: whole seconds, 2 for any short text.
    std::string timeLimit(std::chrono::nanoseconds cpu) const;
    // No progress for the wall-clock backstop.
    std::string stalled(std::chrono::nanoseconds backstop) const;
    // The compiler crashed or broke its protocol on this input; detail says how.
    std::string failed(const std::string& detail) const;
    // The environment keeps the compiler from running, whatever the text.
    std::string cannotRun(const std::string& detail) const;
    // The compiler's program could not be started.
    std::string notStarted(const std::string& detail) const;

private:
    std::string capitalized() const;

    std::string subject_;
};

}  // namespace VantorCompiler
