#include "WorkerProcess.h"

#include "core/Installation.h"

#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace VantorCompiler {
namespace {

const char* const WorkerName = "vantor-compiler-worker";

// Below this address-space limit the worker cannot start: its conversion
// thread alone takes a 256 MiB stack.
constexpr rlim_t WorkerAddressSpace = rlim_t(512) << 20;

// The worker to start: $VANTOR_COMPILER_WORKER, else the installed one. False
// with problem set when there is none.
bool workerPath(std::string& path, std::string& problem) {
    if (pathFromEnvironment("VANTOR_COMPILER_WORKER", path, problem) || !problem.empty())
        return problem.empty();
    path = besideLibrary(WorkerName);
    if (path.empty()) {
        problem = std::string("the place of its library is unknown, so ") + WorkerName + " cannot be found";
        return false;
    }
    return true;
}

// The address-space limit (ulimit -v) when it is too small for the worker, else 0.
rlim_t smallAddressSpaceLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= WorkerAddressSpace)
        return 0;
    return limit.rlim_cur;
}

std::string addressSpaceProblem(rlim_t limit) {
    return "the address-space limit (ulimit -v) of " + std::to_string(limit >> 20) +
           " MB is too small for it to start";
}

}  // namespace

WorkerProcess::Exchange WorkerProcess::exchange(const std::string& frame, Budget budget) {
    Exchange result;
    child_.dropInherited();
    for (int attempt = 0;; ++attempt) {
        // idle() forgets a worker that ended; one still running that is not
        // idle is ended here. Either way a fresh one starts, silently.
        if (child_.running() && !child_.idle() && child_.running())
            child_.stop(true);
        const bool fresh = !child_.running();
        if (fresh && !start(result))
            return result;

        ChildProcess::Discard discard(child_);
        const Step step = talk(frame, budget, result.response);
        bool killedHere = false;
        switch (step) {
        case Step::Ok:  // answered
            discard.keep();
            result.outcome = Outcome::Answered;
            return result;
        case Step::NotTaken: {
            // It ended, or stopped reading, before it had the whole request:
            // the text did not cause it.
            const std::string how = child_.stop(false, &killedHere);
            if (!fresh && attempt == 0)
                continue;  // ended while idle: once more with a fresh worker
            result.outcome = Outcome::CannotRun;
            if (const rlim_t limit = smallAddressSpaceLimit())
                result.detail = addressSpaceProblem(limit);
            else if (killedHere)
                result.detail = "its process stopped reading the text";
            else
                result.detail = "its process ended before it read the text (" + how + ")";
            return result;
        }
        case Step::Ended:
            result.outcome = Outcome::Died;
            result.detail = child_.stop(false);
            return result;
        case Step::OverBudget:
            result.outcome = Outcome::TimedOut;
            return result;
        case Step::Stalled:
            result.outcome = Outcome::Stalled;
            return result;
        case Step::Malformed:
            result.outcome = Outcome::Died;
            result.detail = "an unreadable reply";
            return result;
        }
        return result;
    }
}

bool WorkerProcess::start(Exchange& result) {
    std::string path;
    if (!workerPath(path, result.detail)) {
        result.outcome = Outcome::NotStarted;
        return false;
    }
    // The worker gets its two pipes on 3 and 4 (off the standard descriptors,
    // which libsass writes to), /dev/null as standard input and output, and the
    // program's standard error, where its parent's pid tells it whom to watch.
    ChildProcess::Spawn spawn;
    spawn.path = path;
    spawn.argv = {path, std::to_string(getpid())};
    spawn.requestFd = 3;
    spawn.responseFd = 4;
    const int error = child_.start(spawn);
    if (error == 0)
        return true;
    const rlim_t limit = smallAddressSpaceLimit();
    if (error == ENOMEM && limit) {
        result.outcome = Outcome::CannotRun;
        result.detail = addressSpaceProblem(limit);
    } else {
        result.outcome = Outcome::NotStarted;
        result.detail = path + ": " + std::strerror(error);
    }
    return false;
}

WorkerProcess::Step WorkerProcess::talk(const std::string& frame, Budget budget, framing::Response& response) {
    CpuMeter meter = child_.meter(budget);
    switch (child_.write(frame.data(), frame.size(), meter)) {
    case ChildProcess::Io::Ok:
        break;
    case ChildProcess::Io::Closed:
        return Step::NotTaken;  // the worker closed its end before taking it all
    case ChildProcess::Io::OverBudget:
        return Step::OverBudget;
    case ChildProcess::Io::Stalled:
        return Step::Stalled;
    }
    std::string payload;
    const Step step = receive(payload, meter);
    if (step != Step::Ok)
        return step;
    if (!framing::decodeResponse(reinterpret_cast<const unsigned char*>(payload.data()), payload.size(), response))
        return Step::Malformed;
    return Step::Ok;
}

WorkerProcess::Step WorkerProcess::receive(std::string& payload, CpuMeter& meter) {
    unsigned char header[framing::HeaderSize];
    std::size_t headerGot = 0;
    std::size_t announced = 0;
    // The payload grows with what arrives, never ahead of it from the header.
    char chunk[64 * 1024];
    for (;;) {
        char* into;
        std::size_t want;
        if (headerGot < framing::HeaderSize) {
            into = reinterpret_cast<char*>(header) + headerGot;
            want = framing::HeaderSize - headerGot;
        } else {
            if (payload.size() == announced)
                return Step::Ok;
            into = chunk;
            want = std::min(sizeof chunk, announced - payload.size());
        }
        std::size_t got = 0;
        switch (child_.read(into, want, got, meter)) {
        case ChildProcess::Io::Ok:
            break;
        case ChildProcess::Io::OverBudget:
            return Step::OverBudget;
        case ChildProcess::Io::Stalled:
            return Step::Stalled;
        case ChildProcess::Io::Closed:
            if (headerGot == 0) {
                // Gone without a word: had it taken the whole request?
                int unread = 0;
                if (ioctl(child_.requestFd(), FIONREAD, &unread) == 0 && unread > 0)
                    return Step::NotTaken;
            }
            return Step::Ended;
        }
        if (headerGot < framing::HeaderSize) {
            headerGot += got;
            if (headerGot == framing::HeaderSize) {
                const std::uint32_t length = framing::payloadLength(header);
                if (length > framing::MaxPayload)
                    return Step::Malformed;
                announced = length;
            }
        } else {
            payload.append(chunk, got);
        }
    }
}

}  // namespace VantorCompiler
