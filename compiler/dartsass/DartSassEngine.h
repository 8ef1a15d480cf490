// Dart Sass as an engine of the library: the pinned runtime beside the
// library's worker (or where VANTOR_DART_SASS names it), run through
// DartSassHost, its answers turned into the library's terms.
//
// For one thread at a time, as the library's functions are.
#pragma once

#include "DartSassHost.h"
#include "Reindent.h"
#include "core/Engine.h"
#include "core/OutcomeTexts.h"

#include <optional>
#include <set>
#include <string>

namespace VantorCompiler {

class DartSassEngine : public Engine {
public:
    const char* version() const override;
    const char* unavailable() override;
    const char* refusesStyle(std::int32_t style) const override;
    void convert(ConversionRequest& request, Conversion& conversion) override;
    void giveBack(Conversion& conversion) override;

private:
    // The runtime's files, or false with problem saying why they cannot run.
    bool locate(dartsass::RuntimeFiles& files, std::string& problem) const;
    // A text that stays valid while the library is loaded.
    const char* kept(std::string text);

    // The files the last unavailable() found, for the convert() that follows it.
    std::optional<dartsass::RuntimeFiles> located_;
    dartsass::DartSassHost host_;
    OutcomeTexts texts_{"Dart Sass"};
    std::set<std::string> keptTexts_;  // what kept() handed out
    // The last re-indented CSS, which the next conversion's mostly equals.
    // Its CSS is lent to the conversion as the conversion's own (no copy of
    // megabytes per keystroke), its first lentSize_ bytes, and comes back
    // when the conversion is released; while lent_, the cache holds none.
    dartsass::ReindentCache reindentCache_;
    bool lent_ = false;
    std::size_t lentSize_ = 0;
};

}  // namespace VantorCompiler
