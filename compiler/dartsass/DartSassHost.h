// The one Dart Sass process the library keeps for its Dart Sass conversions,
// and the Embedded Sass protocol spoken with it: one compilation at a time,
// each with a fresh id.
//
// For one thread at a time, as the library's functions are.
#pragma once

#include "Messages.h"
#include "Packet.h"
#include "core/ChildProcess.h"
#include "core/CpuMeter.h"

#include <sys/resource.h>

#include <cstdint>
#include <functional>
#include <string>
#include <variant>

namespace VantorCompiler {
namespace dartsass {

// What the host runs: our launcher, and the runtime's two files.
struct RuntimeFiles {
    std::string launcher;  // vantor-dart-sass
    std::string dart;
    std::string snapshot;

    bool operator==(const RuntimeFiles& other) const {
        return launcher == other.launcher && dart == other.dart && snapshot == other.snapshot;
    }
    bool operator!=(const RuntimeFiles& other) const { return !(*this == other); }
};

// The program's current folder, "/" when it cannot be told.
std::string currentFolder();

class DartSassHost {
public:
    enum class Outcome {
        Answered,     // result holds the compiler's CompileSuccess or CompileFailure
        TimedOut,     // the CPU budget ran out; the process was killed
        Stalled,      // no progress for the backstop; the process was killed
        OutOfMemory,  // the process ran out of its address space
        Died,         // the process ended, crashed or broke the protocol; detail says how
        CannotRun,    // the process does not start or is not the pinned compiler; detail says why
    };

    struct Exchange {
        Outcome outcome = Outcome::Died;
        std::variant<std::monostate, CompileSuccess, CompileFailure> result;
        std::string detail;
    };

    // The address space the runtime may have: it starts and converts the
    // largest frameworks at 512 MiB; past this a runaway stylesheet is stopped.
    static constexpr rlim_t AddressSpace = rlim_t(2) << 30;

    // Compiles within budget, starting the process first when none is running
    // (its start and version check are not counted). A process started from
    // other files, or in another current folder, is replaced first: the
    // runtime names files relative to the folder it started in, and cannot
    // follow the program's. onLog receives each of
    // the compilation's log events as it arrives. After anything but
    // Answered, no process is left running.
    Exchange compile(const RuntimeFiles& files, const CompileOptions& options, Budget budget,
                     const std::function<void(LogEvent&)>& onLog);

private:
    enum class Step { Ok, NotTaken, Ended, OverBudget, Stalled, Broken };

    // What a read or write's outcome means for the exchange; closed is what the
    // child's closed pipe means there.
    static Step stepOf(ChildProcess::Io io, Step closed);
    bool start(const RuntimeFiles& files, Exchange& result);
    Step send(std::uint32_t id, const std::string& message, CpuMeter& meter);
    // Reads until one packet is whole; sets detail when the stream is broken.
    Step nextPacket(Packet& packet, CpuMeter& meter, std::string& detail);
    Step converse(std::uint32_t id, CpuMeter& meter, Exchange& result, const std::function<void(LogEvent&)>& onLog);
    // Ends the process after a failed exchange and fills result from how.
    void fail(Step step, Exchange& result);

    ChildProcess child_;
    PacketDecoder decoder_;
    std::vector<Packet> pending_;
    std::uint32_t lastId_ = 0;
    RuntimeFiles running_;      // what the process was started from
    std::string runningFolder_;  // and in which current folder
};

}  // namespace dartsass
}  // namespace VantorCompiler
