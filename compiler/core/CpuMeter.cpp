#include "CpuMeter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace VantorCompiler {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::steady_clock;

constexpr std::chrono::seconds CpuBase{2};
constexpr std::chrono::microseconds CpuPerByte{10};
constexpr std::chrono::seconds MinBackstop{10};
constexpr int BackstopFactor = 3;

// How often a wait looks at the child's CPU clock. A child with several busy
// threads can overrun its budget by this much times their number.
constexpr milliseconds MeterInterval{250};
// Less CPU time than this within the backstop is no progress: a child blocked
// on a pipe or stopped, not one that converts slowly on a busy machine.
constexpr milliseconds ProgressQuantum{50};

}  // namespace

Budget budgetFor(std::size_t inputSize) {
    Budget budget;
    budget.cpu = CpuBase + CpuPerByte * static_cast<std::int64_t>(inputSize);
    budget.wall = std::max<nanoseconds>(MinBackstop, budget.cpu * BackstopFactor);
    return budget;
}

CpuMeter::CpuMeter(clockid_t clock, bool haveClock, Budget budget)
    : clock_(clock), haveClock_(haveClock), budget_(budget), start_(used()), progressAt_(steady_clock::now()) {}

nanoseconds CpuMeter::used() const {
    timespec t{};
    if (!haveClock_ || clock_gettime(clock_, &t) != 0)
        return nanoseconds(0);  // gone: the next read or write tells
    return std::chrono::seconds(t.tv_sec) + nanoseconds(t.tv_nsec);
}

nanoseconds CpuMeter::spent() const { return used() - start_; }

CpuMeter::Wait CpuMeter::waitFor(pollfd* fds, nfds_t count) {
    for (;;) {
        const nanoseconds spent = used() - start_;
        if (spent >= budget_.cpu)
            return Wait::OverBudget;
        const auto now = steady_clock::now();
        if (spent - progressCpu_ >= ProgressQuantum) {
            progressCpu_ = spent;
            progressAt_ = now;
        }
        const auto deadline = progressAt_ + budget_.wall;
        if (now >= deadline)
            return Wait::Stalled;
        // One busy thread cannot use up what is left of the budget sooner than
        // that much wall-clock time; the interval bounds the overrun of more.
        const nanoseconds wait =
            std::min({budget_.cpu - spent, nanoseconds(deadline - now), nanoseconds(MeterInterval)});
        const int ms = static_cast<int>(std::max<milliseconds::rep>(1, std::chrono::ceil<milliseconds>(wait).count()));
        for (nfds_t i = 0; i < count; ++i)
            fds[i].revents = 0;
        const int n = poll(fds, count, ms);
        if (n > 0 || (n < 0 && errno != EINTR))
            return Wait::Ready;
    }
}

}  // namespace VantorCompiler
