#pragma once

namespace pelorin {

// Keeps the memory the program frees for its next use while a long line
// (isLongLine) is shown. Qt lays a long line out in one block of glyph data,
// some 140 MB for a 4 MB line, and lays it out again on every edit of it and
// every conversion that changes it. glibc hands a block that large back to the
// system as soon as it is freed, and the next layout then faults in every page
// afresh: 35,000 faults, about 60 ms per editor. While one of these lives, no
// block is given its own mapping and freed memory stays with the program; a
// while after the last one goes (a paste undone and done again, a reload, are
// quicker still) it goes back to the system. Does nothing outside glibc.
class LongLineMemory {
public:
    // How long freed memory stays with the program after the last one goes.
    static constexpr int ReleaseDelayMs = 30000;

    LongLineMemory();
    ~LongLineMemory();
    LongLineMemory(const LongLineMemory&) = delete;
    LongLineMemory& operator=(const LongLineMemory&) = delete;
};

}  // namespace pelorin
