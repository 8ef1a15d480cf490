// The cost of one conversion: a child process's CPU time, with the wall clock
// as a backstop for a child that makes no progress.
//
// Shared by both engines; nothing here is exported.
#pragma once

#include <poll.h>
#include <time.h>

#include <chrono>
#include <cstddef>

namespace VantorCompiler {

// What one conversion may cost: the child's CPU time, and how long on the wall
// clock it may go without progress (less than ProgressQuantum of CPU time).
struct Budget {
    std::chrono::nanoseconds cpu;
    std::chrono::nanoseconds wall;
};

// The budget of a text of inputSize bytes: 2 s of CPU time plus 10 µs per byte
// (about ten times what libsass needs per byte), so that other programs' load
// never stops a conversion; the backstop is three times that, at least 10 s.
Budget budgetFor(std::size_t inputSize);

// Keeps one exchange with a child within its budget: the child's CPU time
// since the meter was made, over all its threads, and the wall clock since its
// CPU clock last moved on noticeably.
class CpuMeter {
public:
    // clock is the child's CPU-time clock; without one (haveClock false) only
    // the backstop counts.
    CpuMeter(clockid_t clock, bool haveClock, Budget budget);

    enum class Wait { Ready, OverBudget, Stalled };

    // Waits until one of fds is ready for its events or the budget runs out.
    // Ready also when poll fails: the read or write then reports the problem.
    Wait waitFor(pollfd* fds, nfds_t count);

    // The CPU time used since the meter was made.
    std::chrono::nanoseconds spent() const;

private:
    std::chrono::nanoseconds used() const;

    const clockid_t clock_;
    const bool haveClock_;
    const Budget budget_;
    const std::chrono::nanoseconds start_;
    std::chrono::nanoseconds progressCpu_{0};
    std::chrono::steady_clock::time_point progressAt_;
};

}  // namespace VantorCompiler
