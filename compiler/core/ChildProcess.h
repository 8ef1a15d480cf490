// One helper process of the library: a compiler's worker or runtime, started
// with a pipe to it and one from it, timed by a CpuMeter, and ended without
// ever signalling another process by a recycled pid.
//
// For one thread at a time, as the library's functions are. The child may be
// started from any thread; it lives as long as the process that started it.
// Shared by both engines; nothing here is exported.
#pragma once

#include "CpuMeter.h"

#include <sys/types.h>
#include <time.h>

#include <cstddef>
#include <string>
#include <vector>

namespace VantorCompiler {

class ChildProcess {
public:
    struct Spawn {
        std::string path;               // absolute
        std::vector<std::string> argv;  // argv[0] included
        int requestFd = 3;              // the child's descriptor for what it reads from here
        int responseFd = 4;             // the child's descriptor for what it writes here
        // Standard error: the program's own, or a pipe read here into a bounded
        // buffer (errorText()), so the child can never block on it.
        bool captureErrors = false;
    };

    enum class Io {
        Ok,
        Closed,      // the child closed its end (EOF, EPIPE) or the pipe failed
        OverBudget,  // the meter's CPU budget ran out
        Stalled,     // the meter's backstop: no progress
    };

    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Lets the child go without waiting for it: it is killed and left to the
    // system to reap, so the program's exit is not held up.
    ~ChildProcess();

    // Starts the child with its pipes on the given descriptors, /dev/null on
    // the other standard ones, and nothing else this process has open.
    // Returns 0, or the errno of what failed.
    int start(const Spawn& spawn);

    bool running() const { return pid_ >= 0; }
    pid_t pid() const { return pid_; }
    int requestFd() const { return requestFd_; }
    // A meter for one exchange with this child.
    CpuMeter meter(Budget budget) const { return CpuMeter(cpuClock_, haveCpuClock_, budget); }

    // True while the child runs and has nothing to say; a child that ended is
    // forgotten, and one with bytes or the end of its pipe waiting is not idle
    // (they would be taken for the next answer).
    bool idle();

    // Writes all of data, waiting within the meter's budget.
    Io write(const char* data, std::size_t size, CpuMeter& meter);
    // Reads at least one byte and at most size, waiting within the meter's
    // budget; got is what was read.
    Io read(char* into, std::size_t size, std::size_t& got, CpuMeter& meter);

    // Ends the child: killed unless it already ended (then it is given 500 ms
    // to end by itself, so its own status is known), reaped, pipes closed.
    // Returns how it ended, e.g. "SIGSEGV" or "exit status 1"; killedHere
    // tells whether it was still running and killed by this call.
    std::string stop(bool kill, bool* killedHere = nullptr);

    // After a fork, the child process holds copies of the pipes to its
    // parent's child: forgets them there, leaving that child to its parent.
    void dropInherited();

    // The start of what the child wrote to its standard error, when captured.
    const std::string& errorText() const { return errors_; }

private:
    // Waits until fd is ready for events, within the meter's budget, reading
    // what the child writes to its standard error meanwhile; Ok to try again.
    Io waitUntilReady(int fd, short events, CpuMeter& meter);
    void drainErrors();
    void signalKill();
    void forget();

    pid_t pid_ = -1;
    pid_t owner_ = -1;  // the process that started the child
    int pidFd_ = -1;    // a pidfd of the child, or -1 where the system has none
    int requestFd_ = -1;
    int responseFd_ = -1;
    int errorFd_ = -1;
    clockid_t cpuClock_ = 0;
    bool haveCpuClock_ = false;
    std::string errors_;
};

// How a child ended, from its wait status: "SIGSEGV", "exit status 1".
std::string describeStatus(int status);

}  // namespace VantorCompiler
