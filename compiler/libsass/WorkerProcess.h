// The one vantor-compiler-worker process the library keeps for its conversions.
//
// For one thread at a time, as the library's functions are: nothing here is
// locked. The worker may be started from any thread; it lives as long as the
// process that started it, not the thread.
#pragma once

#include "Framing.h"

#include <sys/types.h>
#include <time.h>

#include <chrono>
#include <string>

namespace VantorCompiler {

class WorkerProcess {
public:
    enum class Outcome {
        Answered,    // response holds the worker's reply
        TimedOut,    // the worker used up its CPU budget; it was killed
        Stalled,     // the worker made no progress (next to no CPU time) for the
                     // wall-clock backstop: waiting on a pipe, stopped; it was killed
        Died,        // the worker ended or broke the protocol while converting; detail says how
        CannotRun,   // the environment keeps the worker from running; detail says why
        NotStarted,  // the worker could not be started; detail says why
    };

    struct Exchange {
        Outcome outcome = Outcome::Died;
        framing::Response response;
        std::string detail;
    };

    // What one conversion may cost: the worker's CPU time, and how long on the
    // wall clock it may go without progress (less than 50 ms of CPU time).
    struct Budget {
        std::chrono::nanoseconds cpu;
        std::chrono::nanoseconds wall;
    };

    WorkerProcess() = default;
    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;
    // Lets the worker go without waiting for it: an idle worker is killed and
    // left to the system to reap, so the program's exit is not held up.
    ~WorkerProcess();

    // Sends one request frame and waits for the reply within budget, starting
    // the worker first when none is running. A worker that ended while idle is
    // replaced silently and the request sent once more. After anything but
    // Answered, exceptions included, no worker is left running: nothing it
    // still had to say can be read as the next answer.
    Exchange exchange(const std::string& frame, Budget budget);

private:
    enum class Step { Ok, NotTaken, Ended, OverBudget, Stalled, Malformed };
    class Meter;

    bool start(Exchange& result);
    bool idle();
    Step talk(const std::string& frame, Budget budget, framing::Response& response);
    Step send(const std::string& frame, Meter& meter);
    Step receive(std::string& payload, Meter& meter);
    // Ends the worker: killed unless it already ended, reaped, pipes closed.
    // Returns how it ended, e.g. "SIGSEGV" or "exit status 1"; killedHere tells
    // whether it was still running and killed by this call.
    std::string stop(bool kill, bool* killedHere = nullptr);
    void killWorker();
    void forget();
    void dropInherited();

    pid_t pid_ = -1;
    pid_t owner_ = -1;  // the process that started the worker
    int pidFd_ = -1;  // a pidfd of the worker, or -1 where the system has none
    int requestFd_ = -1;
    int responseFd_ = -1;
    clockid_t cpuClock_ = 0;  // the worker's CPU-time clock
    bool haveCpuClock_ = false;
};

}  // namespace VantorCompiler
