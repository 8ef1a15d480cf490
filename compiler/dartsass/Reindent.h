// Dart Sass writes its expanded CSS with two spaces per nesting level whatever the library's
// indent_type and indent_width ask for. reindent() rewrites that indentation, and
// shiftMappings() moves the generated columns of the CSS's source map along with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace VantorCompiler::dartsass {

// The indentation of one nesting level: width copies of a space or of a tab.
struct Indentation {
    bool tabs = false;
    std::int32_t width = 2;
};

// What reindent() did to the start of one line: its first oldLength bytes (spaces and tabs)
// became newLength bytes of the new indentation. Both are 0 on a line left as it was.
struct LineShift {
    std::size_t oldLength = 0;
    std::size_t newLength = 0;
};

struct Reindented {
    std::string css;
    // One entry per line of css, lines being ended by '\n'.
    std::vector<LineShift> lines;
    // Set, with css and lines empty, when the CSS was not re-indented.
    std::string error;
};

struct ShiftedMappings {
    std::string mappings;
    // Set, with mappings empty, when the mappings could not be read.
    std::string error;
};

// Largest width reindent() accepts, as for the library's indent_width.
inline constexpr std::int32_t MaxReindentWidth = 1024;
// What reindent() may write by default: the indentation of deeply nested input grows with its
// depth, and past this the CSS is refused rather than built.
inline constexpr std::size_t DefaultMaxReindentedSize = std::size_t(256) << 20;

// Re-indents Dart Sass's expanded CSS by nesting depth: each line that starts a statement gets
// its depth's indentation in place of its leading spaces and tabs. A line that continues a
// comment, a selector list or an at-rule's prelude keeps its place relative to the line where
// that began: the indentation of that line is swapped the same way where the line starts with
// it. Lines inside a declaration's value (custom properties, values spanning lines) or inside a
// string, and blank lines, stay exactly as they are; no line is added or removed. Any bytes
// are accepted; refused only for a width outside 0 to MaxReindentWidth or a result over
// maxSize bytes.
Reindented reindent(std::string_view css, Indentation indentation, std::size_t maxSize = DefaultMaxReindentedSize);

// A line start between statements that the scan passed (one at least every 2 KB or so): where the line starts in the raw and in
// the re-indented CSS, and the nesting depth there. From such a place on, the scan depends on
// nothing but the depth and the text that follows.
struct ReindentCheckpoint {
    std::size_t offset = 0;
    std::size_t line = 0;
    std::size_t depth = 0;
    std::size_t outOffset = 0;
};

// What the reindent() below keeps of its last call: one previous CSS, with its result, which
// the next call edits in place.
struct ReindentCache {
    bool valid = false;
    Indentation indentation;
    std::string raw;
    Reindented result;
    std::vector<ReindentCheckpoint> checkpoints;
    std::vector<ReindentCheckpoint> spareCheckpoints;
};

// Gives what reindent(css, indentation, maxSize) gives, byte for byte, and keeps it in
// cache.result until the next call. When css differs from the previous call's only in a middle
// part and the indentation is the same, only that part is scanned again: from the last
// checkpoint before it to the first checkpoint after it where the depth is the one the previous
// scan had there; the rest of the previous result is kept.
const Reindented& reindent(std::string_view css, Indentation indentation, ReindentCache& cache,
                           std::size_t maxSize = DefaultMaxReindentedSize);
// The same, taking css over as the cache's copy of it instead of copying it; css is left
// holding unspecified bytes.
const Reindented& reindent(std::string&& css, Indentation indentation, ReindentCache& cache,
                           std::size_t maxSize = DefaultMaxReindentedSize);

// The column a generated column of a line moves to when the line's indentation changed as
// shift says: after the old indentation it moves by the change, inside it to the line's start
// (where the new indentation starts). Where the length stayed the same, nothing moves.
std::int64_t shiftedColumn(std::int64_t column, LineShift shift);

// Rewrites a version 3 source map's "mappings" for CSS re-indented with the given line shifts:
// each segment's generated column is moved by shiftedColumn(); every other field is kept as
// it was. Refused when the text is no valid list of segments of 1, 4 or 5 fields, a generated
// column falls outside 0 to MaxVlqMagnitude, or a segment lies on a line the CSS lacks.
ShiftedMappings shiftMappings(std::string_view mappings, const std::vector<LineShift>& lines);

}  // namespace VantorCompiler::dartsass
