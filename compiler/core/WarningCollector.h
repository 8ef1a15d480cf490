// One conversion's warnings, in the order they arose, within fixed bounds.
//
// Shared by both engines; nothing here is exported.
#pragma once

#include "core/Warning.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace VantorCompiler {

// The end of the text of a message that arose in another file:
// " (on line L of PATH)", or " (on line L)" when the path is not known.
std::string otherFilePlace(std::uint64_t line, std::string_view path);

class WarningCollector {
public:
    // Warnings kept; the ones after them are only counted.
    static constexpr std::size_t MaxKept = 100;
    // Bytes kept of one warning's text; a longer text is cut and ends in "…".
    static constexpr std::size_t MaxTextBytes = 2048;
    // Bytes kept of all texts together; the warning that would pass it and all
    // after it are only counted.
    static constexpr std::size_t MaxTotalBytes = 64 * 1024;

    // True once further warnings are only counted.
    bool full() const { return full_; }
    void add(std::string_view text, std::uint32_t line, std::uint32_t column);
    // Counts warnings that are not kept.
    void skip(std::size_t count);
    // The kept warnings, then "… and N more warnings" when some were only counted.
    std::vector<Warning> take();

private:
    std::vector<Warning> kept_;
    std::size_t bytes_ = 0;
    std::size_t skipped_ = 0;
    bool full_ = false;
};

}  // namespace VantorCompiler
