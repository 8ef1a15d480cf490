#include "DartSassEngine.h"

#include "Reindent.h"
#include "SpanPlaces.h"
#include "VantorCompiler.h"
#include "core/Installation.h"
#include "core/WarningCollector.h"

#include <unistd.h>

#include <climits>
#include <fstream>
#include <string_view>

namespace VantorCompiler {
namespace {

using namespace dartsass;

// The name the given text goes by: a file of the current folder, so that
// relative loads resolve there as libsass's do, and Dart Sass has no reason
// to warn about an implicit load path. Stack traces print it as it stands.
constexpr std::string_view InputName = "stdin";

// The place of a 0-based line and UTF-16 column in a file other than the text;
// the column stays in UTF-16 units when the file cannot be read.
Place placeInFile(const std::string& path, std::uint32_t line0, std::uint32_t column16) {
    std::ifstream file(path, std::ios::binary);
    std::string text;
    std::string line;
    for (std::uint32_t l = 0; file && l <= line0 && std::getline(file, line); ++l)
        if (l == line0)
            text = line;
    if (!file && text.empty())
        return Place{line0 + 1, column16 + 1};
    Place place = placeInText(text, 0, column16);
    place.line = line0 + 1;
    return place;
}

// The innermost frame of a trace that lies in the given text, converted.
Place frameInText(const std::vector<Frame>& frames, std::string_view input) {
    for (const Frame& frame : frames)
        if (frame.location == InputName && frame.line > 0 && frame.column > 0)
            return placeInText(input, frame.line - 1, frame.column - 1);
    return {};
}

std::string prefix(const LogEvent& event) {
    switch (event.type) {
    case LogEventType::Warning:
        return "WARNING: ";
    case LogEventType::Debug:
        return "DEBUG: ";
    case LogEventType::DeprecationWarning:
        return event.deprecationId ? "DEPRECATION WARNING [" + *event.deprecationId + "]: " : "DEPRECATION WARNING: ";
    }
    return {};
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

std::string base64(std::string_view bytes) {
    static const char* const digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = unsigned(static_cast<unsigned char>(bytes[i])) << 16 |
                           unsigned(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                           unsigned(static_cast<unsigned char>(bytes[i + 2]));
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += digits[(v >> 6) & 63];
        out += digits[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = unsigned(static_cast<unsigned char>(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            v |= unsigned(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// Dart Sass's map, made to read as libsass's: the text named "stdin" and the
// CSS "stdin.css", the mappings moved with the re-indentation. False when the
// map is not as Dart Sass writes it.
bool adaptMap(std::string& map, const std::string& url, const std::vector<LineShift>* shifts) {
    const std::string key = "\"mappings\":\"";
    const std::size_t start = map.find(key);
    if (start == std::string::npos)
        return false;
    const std::size_t from = start + key.size();
    const std::size_t to = map.find('"', from);
    if (to == std::string::npos)
        return false;
    if (shifts) {
        ShiftedMappings shifted = shiftMappings(std::string_view(map).substr(from, to - from), *shifts);
        if (!shifted.error.empty())
            return false;
        map.replace(from, to - from, shifted.mappings);
    }
    const std::string quoted = "\"" + url + "\"";
    for (std::size_t at = map.find(quoted); at != std::string::npos; at = map.find(quoted, at))
        map.replace(at, quoted.size(), "\"stdin\"");
    if (map.rfind("{\"version\":3,", 0) == 0)
        map.insert(13, "\"file\":\"stdin.css\",");
    return true;
}

}  // namespace

const char* DartSassEngine::version() const { return "Dart Sass 1.108.2"; }

const char* DartSassEngine::kept(std::string text) { return keptTexts_.insert(std::move(text)).first->c_str(); }

bool DartSassEngine::locate(RuntimeFiles& files, std::string& problem) const {
    std::string folder;
    if (!pathFromEnvironment("VANTOR_DART_SASS", folder, problem)) {
        if (!problem.empty())
            return false;
        folder = besideLibrary("dart-sass");
        if (folder.empty()) {
            problem = "the place of its library is unknown, so Dart Sass cannot be found";
            return false;
        }
    }
    files.dart = folder + "/dart";
    files.snapshot = folder + "/sass.snapshot";
    files.launcher = besideLibrary("vantor-dart-sass");
    for (const std::string* file : {&files.dart, &files.snapshot, &files.launcher}) {
        if (access(file->c_str(), F_OK) != 0) {
            problem = "Dart Sass is not installed here: " + *file + " is missing";
            return false;
        }
    }
    for (const std::string* file : {&files.dart, &files.launcher}) {
        if (!isExecutable(*file)) {
            problem = "Dart Sass cannot run here: " + *file + " is not executable";
            return false;
        }
    }
    if (access(files.snapshot.c_str(), R_OK) != 0) {
        problem = "Dart Sass cannot run here: " + files.snapshot + " is not readable";
        return false;
    }
    return true;
}

const char* DartSassEngine::unavailable() {
    RuntimeFiles files;
    std::string problem;
    located_.reset();
    if (!locate(files, problem))
        return kept(problem);
    located_ = std::move(files);
    return nullptr;
}

const char* DartSassEngine::refusesStyle(std::int32_t style) const {
    if (style == Expanded || style == Compressed)
        return nullptr;
    return "Dart Sass writes Expanded and Compressed CSS only (output styles 2 and 3), not Nested (0) or Compact (1).";
}

void DartSassEngine::giveBack(Conversion& conversion) {
    if (!lent_ || !conversion.css)
        return;
    conversion.css->resize(lentSize_);
    reindentCache_.result.css = std::move(*conversion.css);
    conversion.css.reset();
    lent_ = false;
}

void DartSassEngine::convert(ConversionRequest& request, Conversion& conversion) {
    // A conversion that was never released keeps what it was lent: the cache
    // starts afresh.
    if (lent_) {
        reindentCache_.valid = false;
        lent_ = false;
    }
    // The library asks unavailable() just before: its findings are this conversion's.
    RuntimeFiles files;
    std::string problem;
    if (located_) {
        files = std::move(*located_);
        located_.reset();
    } else if (!locate(files, problem)) {
        conversion.error = problem;
        conversion.errorKind = CannotRun;
        return;
    }
    // Dart Sass reads UTF-8 only, and would show what it cannot read as U+FFFD
    // in the CSS as if the text held it.
    // The fast check on every keystroke; the place only for a text that fails it.
    if (const Place bad = isUtf8(request.input) ? Place{} : firstInvalidUtf8(request.input); bad.line != 0) {
        conversion.error = "The text is not valid UTF-8 here: Dart Sass reads UTF-8 only.";
        conversion.errorKind = SassError;
        conversion.errorLine = bad.line;
        conversion.errorColumn = bad.column;
        return;
    }
    CompileOptions options;
    options.url = fileUrl(currentFolder() + "/" + std::string(InputName));
    options.style = request.outputStyle == Compressed ? OutputStyle::Compressed : OutputStyle::Expanded;
    options.sourceMap = request.sourceMapEmbed;
    options.source = std::move(request.input);
    const std::string& input = options.source;
    const Budget budget = budgetFor(input.size());

    WarningCollector warnings;
    const auto onLog = [&](LogEvent& event) {
        if (warnings.full()) {
            warnings.skip(1);
            return;
        }
        Place place;
        std::string where;
        if (event.span && event.span->url == options.url) {
            place = placeInText(input, event.span->start.line, event.span->start.column);
        } else {
            const std::vector<Frame> frames = parseFrames(event.stackTrace);
            place = frameInText(frames, input);
            if (place.line == 0 && !frames.empty())
                where = otherFilePlace(frames.front().line, frames.front().location);
        }
        warnings.add(prefix(event) + trimmed(event.message) + where, place.line, place.column);
    };
    DartSassHost::Exchange reply = host_.compile(files, options, budget, onLog);
    conversion.warnings = warnings.take();

    switch (reply.outcome) {
    case DartSassHost::Outcome::Answered:
        break;
    case DartSassHost::Outcome::TimedOut:
        conversion.error = texts_.timeLimit(budget.cpu);
        conversion.errorKind = Stopped;
        return;
    case DartSassHost::Outcome::Stalled:
        conversion.error = texts_.stalled(budget.wall);
        conversion.errorKind = Stopped;
        return;
    case DartSassHost::Outcome::OutOfMemory:
        conversion.error = "Compilation stopped: the stylesheet needs more memory than Dart Sass may use (" +
                           std::to_string(DartSassHost::AddressSpace >> 30) + " GB).";
        conversion.errorKind = Stopped;
        return;
    case DartSassHost::Outcome::Died:
        conversion.error = texts_.failed(reply.detail);
        conversion.errorKind = CompilerFailed;
        return;
    case DartSassHost::Outcome::CannotRun:
        conversion.error = texts_.cannotRun(reply.detail);
        conversion.errorKind = CannotRun;
        return;
    }

    if (auto* failure = std::get_if<CompileFailure>(&reply.result)) {
        conversion.errorKind = SassError;
        std::string error = trimmed(failure->message);
        const SourceSpan& span = failure->span;
        if (span.url == options.url) {
            const Place place = placeInText(input, span.start.line, span.start.column);
            conversion.errorLine = place.line;
            conversion.errorColumn = place.column;
        } else if (!span.url.empty()) {
            const std::string path = filePath(span.url);
            conversion.errorFile = path.empty() ? span.url : path;
            const Place place = path.empty() ? Place{span.start.line + 1, span.start.column + 1}
                                             : placeInFile(path, span.start.line, span.start.column);
            conversion.errorFileLine = place.line;
            conversion.errorFileColumn = place.column;
            const std::vector<Frame> frames = parseFrames(failure->stackTrace);
            const Place load = frameInText(frames, input);
            conversion.errorLine = load.line;
            conversion.errorColumn = load.column;
            const std::string shown = frames.empty() ? *conversion.errorFile : frames.front().location;
            error += " (" + shown + ", line " + std::to_string(place.line) + ", column " +
                     std::to_string(place.column) + ")";
        }
        conversion.error = std::move(error);
        return;
    }

    auto* success = std::get_if<CompileSuccess>(&reply.result);
    if (!success)
        return;
    const bool expanded = options.style == OutputStyle::Expanded;
    const bool asWritten = request.indentType != Tabs && request.indentWidth == 2;
    const Reindented* reindented = nullptr;
    if (expanded && !asWritten && !success->css.empty()) {
        reindented =
            &reindent(std::move(success->css), Indentation{request.indentType == Tabs, request.indentWidth}, reindentCache_);
        if (!reindented->error.empty()) {
            conversion.error = texts_.failed(reindented->error);
            conversion.errorKind = CompilerFailed;
            return;
        }
    }
    std::string mapComment;
    if (request.sourceMapEmbed && !success->sourceMap.empty()) {
        std::string map = std::move(success->sourceMap);
        const bool shifted = reindented && !reindented->lines.empty();
        if (!adaptMap(map, options.url, shifted ? &reindented->lines : nullptr)) {
            conversion.error = texts_.failed("an unreadable source map");
            conversion.errorKind = CompilerFailed;
            return;
        }
        mapComment = "\n/*# sourceMappingURL=data:application/json;base64," + base64(map) + " */";
    }
    // One buffer: the CSS, its line end and the map. The re-indented CSS is
    // the cache's, lent until the conversion is released.
    std::string css = std::move(reindented ? reindentCache_.result.css : success->css);
    if (reindented) {
        lent_ = true;
        lentSize_ = css.size();
        conversion.lender = this;
    }
    css.reserve(css.size() + 1 + mapComment.size());
    if (!css.empty())
        css += '\n';
    css += mapComment;
    conversion.css = std::move(css);
}

}  // namespace VantorCompiler
