// libFuzzer target for the library's own reading of SCSS and CSS texts: the
// search for @use and @forward, for Sass variables left in the CSS, for
// @warn statements and for escapes that name no character.
//
// The first byte picks the syntax and splits the rest into a CSS and an SCSS
// part. Every place found must lie in its text and point at what was found.
#include "libsass/SourceScan.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace VantorCompiler;

namespace {

void require(bool condition) {
    if (!condition)
        __builtin_trap();
}

// place lies in text and the text there begins with what.
void requireAt(std::string_view text, TextPlace place, std::string_view what) {
    const std::size_t at = offsetOf(text, place);
    require(at != std::string_view::npos);
    require(text.substr(at, what.size()) == what);
    const TextPlace back = placeOf(text, at);
    require(back.line == place.line && back.column == place.column);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const Syntax syntax = data[0] & 1 ? Syntax::Css : Syntax::Scss;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    const ModuleRule rule = findModuleRule(text, syntax);
    if (!rule.name.empty())
        requireAt(text, rule.place, rule.name);

    const std::size_t split = std::size_t(data[0] >> 1) * text.size() / 127;
    const std::string_view css = text.substr(0, split);
    const std::string_view scss = text.substr(split);
    std::size_t count = 0;
    const std::vector<LeftoverVariable> found = findLeftoverVariables(css, scss, 4, count);
    require(found.size() == std::min<std::size_t>(count, 4));
    for (const LeftoverVariable& v : found) {
        require(v.name.size() > 1 && v.name[0] == '$');
        require((v.place.line == 0) == (v.place.column == 0));
        if (v.place.line != 0)
            requireAt(scss, v.place, v.name);
    }

    for (const TextPlace p : statementPlaces(text, "warn"))
        requireAt(text, p, "@warn");
    const TextPlace escape = invalidCodePointEscape(text);
    if (escape.line != 0)
        requireAt(text, escape, "\\");

    // A place on a line of the text, however far past its end, comes back
    // inside that line.
    const TextPlace far = withinLine(text, {std::uint32_t(data[0]) % 4 + 1, 0x7FFFFFFFu});
    require(far.line == std::uint32_t(data[0]) % 4 + 1 || far.column == 0x7FFFFFFFu);
    if (far.column != 0x7FFFFFFFu)
        require(offsetOf(text, far) != std::string_view::npos);

    const TextPlace middle = placeOf(text, text.size() / 2);
    for (const TextPlace p : {keywordStart(text, middle, {"include", "import"}), lastKeywordBefore(text, middle, "warn")})
        require(offsetOf(text, p) != std::string_view::npos);
    return 0;
}
