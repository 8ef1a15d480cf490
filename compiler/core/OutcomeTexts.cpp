#include "OutcomeTexts.h"

#include <cctype>

namespace VantorCompiler {

std::string OutcomeTexts::capitalized() const {
    std::string text = subject_;
    if (!text.empty())
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

std::string OutcomeTexts::timeLimit(std::chrono::nanoseconds cpu) const {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(cpu).count();
    return "Compilation stopped after " + std::to_string(seconds) +
           " seconds: the stylesheet does not finish (an endless @while or a very large @for?)";
}

std::string OutcomeTexts::stalled(std::chrono::nanoseconds backstop) const {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(backstop).count();
    return "Compilation stopped: " + subject_ + " made no progress for " + std::to_string(seconds) +
           " seconds (is it waiting for an @import of a pipe or device?)";
}

std::string OutcomeTexts::failed(const std::string& detail) const {
    return capitalized() + " failed on this input (" + detail + "). Your text is unchanged.";
}

std::string OutcomeTexts::cannotRun(const std::string& detail) const {
    return capitalized() + " cannot run: " + detail + ".";
}

std::string OutcomeTexts::notStarted(const std::string& detail) const {
    return capitalized() + " cannot be started: " + detail;
}

}  // namespace VantorCompiler
