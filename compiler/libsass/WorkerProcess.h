// The one vantor-compiler-worker process the library keeps for its libsass
// conversions.
//
// For one thread at a time, as the library's functions are: nothing here is
// locked. The worker may be started from any thread; it lives as long as the
// process that started it, not the thread.
#pragma once

#include "Framing.h"
#include "core/ChildProcess.h"
#include "core/CpuMeter.h"

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

    // Sends one request frame and waits for the reply within budget, starting
    // the worker first when none is running. A worker that ended while idle is
    // replaced silently and the request sent once more. After anything but
    // Answered, exceptions included, no worker is left running: nothing it
    // still had to say can be read as the next answer.
    Exchange exchange(const std::string& frame, Budget budget);

private:
    enum class Step { Ok, NotTaken, Ended, OverBudget, Stalled, Malformed };

    bool start(Exchange& result);
    Step talk(const std::string& frame, Budget budget, framing::Response& response);
    Step receive(std::string& payload, CpuMeter& meter);

    ChildProcess child_;
};

}  // namespace VantorCompiler
