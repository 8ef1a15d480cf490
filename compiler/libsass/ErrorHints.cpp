#include "ErrorHints.h"

#include "core/TextPrefix.h"

namespace VantorCompiler {
namespace {

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// 'Invalid CSS after "...a { width: math": expected expression (e.g. 1px, bold),
// was ".div(10px, 3); }"': a module function called as libsass cannot parse it.
bool moduleFunction(std::string_view error, bool) {
    if (!startsWith(error, "Invalid CSS after \""))
        return false;
    const std::size_t expected = error.find("\": expected ");
    const std::size_t was = error.find(", was \".");
    if (expected == std::string_view::npos || was == std::string_view::npos || was < expected)
        return false;
    const std::string_view before = error.substr(0, expected);
    for (std::string_view module : {"math", "map", "list", "string", "color", "selector", "meta"}) {
        if (before.size() > module.size() && before.substr(before.size() - module.size()) == module) {
            const char c = before[before.size() - module.size() - 1];
            const bool partOfName = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                    c == '-' || c == '_' || c == '$' || c == '.';
            if (!partOfName)
                return true;
        }
    }
    return false;
}

bool rangeMediaQuery(std::string_view error, bool) {
    return contains(error, "unclosed parenthesis in media query expression");
}

bool spaceSeparatedColour(std::string_view error, bool) {
    for (std::string_view f : {"rgb", "rgba", "hsl", "hsla"}) {
        const std::string function = "Function " + std::string(f) + " is missing argument $";
        if (startsWith(error, function))
            return true;
    }
    return startsWith(error, "overloaded function `rgba` given wrong number of arguments") ||
           startsWith(error, "overloaded function `hsla` given wrong number of arguments");
}

// libsass evaluates CSS min() and max() itself and fails inside on mixed units,
// an internal error without a place; arithmetic on them fails at its place.
bool mixedUnitMinMax(std::string_view error, bool placed) {
    return !placed && startsWith(error, "Incompatible units: ");
}

struct Hint {
    bool (*matches)(std::string_view error, bool placed);
    std::string sentence;
};

const Hint Hints[] = {
    {rangeMediaQuery,
     "libsass does not know range media queries such as (width >= 600px): write (min-width: 600px) or "
     "(max-width: 600px) instead."},
    {spaceSeparatedColour,
     "libsass does not know the space-separated colour syntax such as rgb(0 0 0 / 50%): write "
     "rgba(0, 0, 0, 0.5) with commas instead."},
    {mixedUnitMinMax,
     "libsass computes min() and max() itself and cannot compare different units: write "
     "unquote(\"min(10px, 5vw)\") to pass the CSS function through."},
    {moduleFunction,
     "libsass predates the Sass module system, so module functions such as math.div do not exist: use the "
     "global functions instead (" +
         std::string(GlobalFunctionExamples) + ", color.adjust \xE2\x86\x92 adjust-color)."},
};

}  // namespace

std::string withHint(std::string_view error, bool placed) {
    std::string text(error);
    for (const Hint& hint : Hints) {
        if (hint.matches(error, placed)) {
            // Its own sentence: libsass's text may end without a full stop.
            while (!text.empty() && (text.back() == ' ' || text.back() == '\n'))
                text.pop_back();
            if (!text.empty() && text.back() != '.')
                text += '.';
            if (!text.empty())
                text += ' ';
            text += hint.sentence;
            break;
        }
    }
    return text;
}

}  // namespace VantorCompiler
