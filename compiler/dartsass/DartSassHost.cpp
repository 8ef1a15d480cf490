#include "DartSassHost.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <climits>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace VantorCompiler {
namespace dartsass {
namespace {

// The protocol's major version this host speaks (proto/README.md), and the
// compiler it was built and tested with.
constexpr const char* ProtocolMajor = "3";
constexpr const char* PinnedVersion = "1.108.2";
// The version request's own id, carried in compilation id 0.
constexpr std::uint32_t VersionRequestId = 1;

// The start and the version check: the runtime loads its snapshot (about a
// tenth of a second of CPU time), far within this.
Budget startBudget() { return Budget{std::chrono::seconds(10), std::chrono::seconds(30)}; }

// A version's major part: "3" of "3.4.0".
std::string major(const std::string& version) { return version.substr(0, version.find('.')); }

// The runtime's own words when it runs out of memory: "Out of Memory" as its
// internal error, or "Exhausted heap space" on its standard error.
bool saysOutOfMemory(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text.find("out of memory") != std::string::npos || text.find("exhausted heap space") != std::string::npos;
}

}  // namespace

std::string currentFolder() {
    std::string folder(PATH_MAX, '\0');
    if (!getcwd(folder.data(), folder.size()))
        return "/";
    folder.resize(std::char_traits<char>::length(folder.c_str()));
    return folder;
}

DartSassHost::Exchange DartSassHost::compile(const RuntimeFiles& files, const CompileOptions& options, Budget budget,
                                             const std::function<void(LogEvent&)>& onLog) {
    Exchange result;
    child_.dropInherited();
    const std::string request = compileRequest(options);
    const std::string folder = currentFolder();
    if (child_.running() && (files != running_ || folder != runningFolder_))
        child_.stop(true);
    for (int attempt = 0;; ++attempt) {
        // A process with something to say while idle is out of step: start afresh.
        if (child_.running() && !child_.idle() && child_.running())
            child_.stop(true);
        const bool fresh = !child_.running();
        if (fresh && !start(files, result))
            return result;

        ChildProcess::Discard discard(child_);
        // Ids from 1 up; 0 is the version request's, 4294967295 the protocol's "none".
        lastId_ = lastId_ >= 0xFFFFFFF0u ? 1 : lastId_ + 1;
        CpuMeter meter = child_.meter(budget);
        Step step = send(lastId_, request, meter);
        if (step == Step::Ok)
            step = converse(lastId_, meter, result, onLog);
        if (step == Step::NotTaken && !fresh && attempt == 0) {
            // It ended while idle (killed from outside, say) without reading
            // the request, even if it was not yet seen to end: once more with
            // a fresh process.
            child_.stop(false);
            result.detail.clear();
            continue;
        }
        discard.keep();
        if (step == Step::Ok) {
            result.outcome = Outcome::Answered;
            return result;
        }
        fail(step, result);
        return result;
    }
}

bool DartSassHost::start(const RuntimeFiles& files, Exchange& result) {
    ChildProcess::Spawn spawn;
    spawn.path = files.launcher;
    spawn.argv = {files.launcher, std::to_string(getpid()), std::to_string(AddressSpace), files.dart, files.snapshot};
    spawn.requestFd = 0;
    spawn.responseFd = 1;
    spawn.captureErrors = true;
    if (const int error = child_.start(spawn)) {
        result.outcome = Outcome::CannotRun;
        result.detail = files.launcher + ": " + std::strerror(error);
        return false;
    }
    decoder_ = PacketDecoder();
    pending_.clear();
    running_ = files;
    runningFolder_ = currentFolder();

    CpuMeter meter = child_.meter(startBudget());
    Step step = send(0, versionRequest(VersionRequestId), meter);
    Packet packet;
    std::string detail;
    if (step == Step::Ok)
        step = nextPacket(packet, meter, detail);
    OutboundMessage message;
    if (step == Step::Ok && !decodeOutbound(packet.compilationId, packet.message, message, detail))
        step = Step::Broken;
    const VersionResponse* version = step == Step::Ok ? std::get_if<VersionResponse>(&message) : nullptr;
    if (step == Step::Ok && !version) {
        step = Step::Broken;
        detail = "it answered the version request with another message";
    }
    if (version) {
        if (major(version->protocolVersion) != ProtocolMajor)
            detail = "it speaks protocol " + version->protocolVersion + ", and this program speaks " + ProtocolMajor +
                     ".x";
        else if (version->compilerVersion != PinnedVersion)
            detail = "it is version " + version->compilerVersion + ", and this program is built for " + PinnedVersion;
        if (detail.empty())
            return true;
        child_.stop(true);
        result.outcome = Outcome::CannotRun;
        result.detail = detail;
        return false;
    }
    const bool ended = step == Step::Ended || step == Step::NotTaken;
    const std::string how = child_.stop(!ended);
    result.outcome = Outcome::CannotRun;
    if (ended) {
        std::string errors = child_.errorText();
        while (!errors.empty() && (errors.back() == '\n' || errors.back() == ' '))
            errors.pop_back();
        result.detail = "its process ended as it started (" + how + (errors.empty() ? "" : ": " + errors) + ")";
    } else if (step == Step::OverBudget || step == Step::Stalled) {
        result.detail = "its process did not answer its version request";
    } else {
        result.detail = "its process broke the protocol as it started (" + detail + ")";
    }
    return false;
}

DartSassHost::Step DartSassHost::stepOf(ChildProcess::Io io, Step closed) {
    switch (io) {
    case ChildProcess::Io::Ok:
        return Step::Ok;
    case ChildProcess::Io::Closed:
        return closed;
    case ChildProcess::Io::OverBudget:
        return Step::OverBudget;
    case ChildProcess::Io::Stalled:
        return Step::Stalled;
    }
    return Step::Broken;
}

DartSassHost::Step DartSassHost::send(std::uint32_t id, const std::string& message, CpuMeter& meter) {
    const std::string packet = encodePacket(id, message);
    return stepOf(child_.write(packet.data(), packet.size(), meter), Step::NotTaken);
}

DartSassHost::Step DartSassHost::nextPacket(Packet& packet, CpuMeter& meter, std::string& detail) {
    char chunk[64 * 1024];
    while (pending_.empty()) {
        std::size_t got = 0;
        const Step step = stepOf(child_.read(chunk, sizeof chunk, got, meter), Step::Ended);
        if (step == Step::Ended && pending_.empty()) {
            // Gone: had it read what was sent? Bytes left in its pipe say not.
            int unread = 0;
            if (ioctl(child_.requestFd(), FIONREAD, &unread) == 0 && unread > 0)
                return Step::NotTaken;
        }
        if (step != Step::Ok)
            return step;
        if (!decoder_.feed(chunk, got, pending_)) {
            detail = decoder_.error();
            return Step::Broken;
        }
    }
    packet = std::move(pending_.front());
    pending_.erase(pending_.begin());
    return Step::Ok;
}

DartSassHost::Step DartSassHost::converse(std::uint32_t id, CpuMeter& meter, Exchange& result,
                                          const std::function<void(LogEvent&)>& onLog) {
    for (;;) {
        Packet packet;
        std::string detail;
        const Step step = nextPacket(packet, meter, detail);
        if (step != Step::Ok) {
            result.detail = detail;
            return step;
        }
        OutboundMessage message;
        if (!decodeOutbound(packet.compilationId, packet.message, message, detail)) {
            result.detail = detail;
            return Step::Broken;
        }
        if (auto* error = std::get_if<ProtocolError>(&message)) {
            // The compiler's own failure on this input (deep recursion is a
            // "Stack Overflow"), or its verdict on ours: either way the process
            // is done with.
            // Its first line: an internal error carries the compiler's own stack after it.
            const std::string first = error->message.substr(0, error->message.find('\n'));
            result.detail = error->type == ProtocolErrorType::Internal ? first : "it reported a protocol error: " + first;
            return Step::Broken;
        }
        if (packet.compilationId != id) {
            result.detail = "it answered for compilation " + std::to_string(packet.compilationId) + " during " +
                            std::to_string(id);
            return Step::Broken;
        }
        if (auto* log = std::get_if<LogEvent>(&message)) {
            onLog(*log);
        } else if (auto* request = std::get_if<CompilerRequest>(&message)) {
            // No importers and no functions of ours: refused by the protocol's rules.
            const Step answered = send(id, declineRequest(*request), meter);
            if (answered != Step::Ok)
                return answered == Step::NotTaken ? Step::Ended : answered;
        } else if (auto* success = std::get_if<CompileSuccess>(&message)) {
            result.result = std::move(*success);
            return Step::Ok;
        } else if (auto* failure = std::get_if<CompileFailure>(&message)) {
            result.result = std::move(*failure);
            return Step::Ok;
        } else {
            result.detail = "it sent a version response during a compilation";
            return Step::Broken;
        }
    }
}

void DartSassHost::fail(Step step, Exchange& result) {
    switch (step) {
    case Step::OverBudget:
        child_.stop(true);
        result.outcome = Outcome::TimedOut;
        return;
    case Step::Stalled:
        child_.stop(true);
        result.outcome = Outcome::Stalled;
        return;
    case Step::Ended:
    case Step::NotTaken: {
        const std::string how = child_.stop(false);
        result.outcome = saysOutOfMemory(child_.errorText()) ? Outcome::OutOfMemory : Outcome::Died;
        // Ended in the middle of a message: say so beside how it ended.
        result.detail = decoder_.finish() ? how : how + ", in the middle of a message";
        return;
    }
    case Step::Broken:
    case Step::Ok:
        child_.stop(true);
        result.outcome = saysOutOfMemory(result.detail) ? Outcome::OutOfMemory : Outcome::Died;
        if (result.detail.empty())
            result.detail = "an unreadable reply";
        return;
    }
}

}  // namespace dartsass
}  // namespace VantorCompiler
