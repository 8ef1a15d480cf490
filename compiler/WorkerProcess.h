// The one vantor-compiler-worker process the library keeps for its conversions.
#pragma once

#include "Framing.h"

#include <sys/types.h>

#include <chrono>
#include <string>

namespace VantorCompiler {

class WorkerProcess {
public:
    enum class Outcome {
        Answered,     // response holds the worker's reply
        TimedOut,     // no reply within the limit; the worker was killed
        Died,         // the worker ended or broke the protocol; detail says how
        NotStarted,   // the worker could not be started; detail says why
    };

    struct Exchange {
        Outcome outcome = Outcome::Died;
        framing::Response response;
        std::string detail;
    };

    WorkerProcess() = default;
    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;
    ~WorkerProcess();

    // Sends one request frame and waits at most limit for the reply, starting the
    // worker first when none is running. After anything but Answered no worker
    // is left running; the next call starts a fresh one.
    Exchange exchange(const std::string& frame, std::chrono::milliseconds limit);

    // Where the worker executable is: $VANTOR_COMPILER_WORKER, else beside this
    // library, else in ../libexec relative to it.
    static std::string executablePath();

private:
    bool start(std::string& detail);
    // Ends the worker: killed unless it already ended, reaped, pipes closed.
    // Returns how it ended, e.g. "SIGSEGV" or "exit status 1".
    std::string stop(bool kill);
    void forget();
    void dropInherited();
    bool send(const std::string& frame, std::chrono::steady_clock::time_point deadline, bool& timedOut);
    bool receive(std::string& payload, std::chrono::steady_clock::time_point deadline, bool& timedOut);

    pid_t pid_ = -1;
    pid_t owner_ = -1;  // the process that started the worker
    int requestFd_ = -1;
    int responseFd_ = -1;
};

}  // namespace VantorCompiler
