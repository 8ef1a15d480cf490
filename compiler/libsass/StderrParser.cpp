#include "StderrParser.h"

#include "LibsassTrace.h"
#include "core/TextPrefix.h"
#include "core/WarningCollector.h"

#include <algorithm>
#include <utility>

namespace VantorCompiler {
namespace {

// Characters kept of one chunk: far more than a warning's kept text, so a cut
// chunk always gives a cut warning.
constexpr std::size_t MaxChunkBytes = 4 * WarningCollector::MaxTextBytes;
// Characters kept of a chunk of a message that is only counted: more than the
// longest of libsass's own words a chunk is compared with.
constexpr std::size_t MaxCountedBytes = 64;
constexpr std::size_t MaxDigits = 9;
const char* const Ellipsis = "\xE2\x80\xA6";  // …

bool digits(std::string_view s, std::uint32_t& value) {
    if (s.empty() || s.size() > MaxDigits)
        return false;
    std::uint32_t v = 0;
    for (const char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<std::uint32_t>(c - '0');
    }
    value = v;
    return true;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Appends each non-blank line of part, trimmed, with one space before it.
void appendLines(std::string& text, std::string_view part) {
    while (!part.empty()) {
        const std::size_t end = part.find('\n');
        const std::string_view line = trimmed(part.substr(0, end));
        if (!line.empty()) {
            if (!text.empty() && text.back() != ' ')
                text += ' ';
            text.append(line.data(), line.size());
        }
        if (end == std::string_view::npos)
            break;
        part.remove_prefix(end + 1);
    }
}

}  // namespace

struct StderrStep {
    enum Op : unsigned char {
        Literal,      // the chunk is lit
        KeptLiteral,  // the chunk is lit, which belongs to the message's text
        Fork,         // when the chunk is lit, take it and go on; else read it at step other
        KeptFork,     // the same, lit belonging to the message's text
        Line,
        Column,
        Path,
        Text,
        Trace,  // a @warn's trace, which makes the message a @warn's
        End,
    };
    Op op;
    std::string_view lit = {};
    std::size_t other = 0;
};

namespace {

using S = StderrStep;

const StderrStep ShortWarning[] = {{S::Text}, {S::Literal, "\n"}, {S::End}};
const StderrStep PlacedWarning[] = {
    {S::Line},                  // 0
    {S::Literal, ", column "},  // 1
    {S::Column},                // 2
    {S::Literal, " of "},       // 3
    {S::Path},                  // 4
    {S::Literal, ":"},          // 5
    {S::Literal, "\n"},         // 6
    {S::Text},                  // 7
    {S::Literal, "\n"},         // 8
    {S::Literal, "\n"},         // 9
    {S::End},                   // 10
};
const StderrStep ShortDeprecation[] = {
    {S::Text},                                                          // 0
    {S::Literal, "\n"},                                                 // 1
    {S::KeptFork, "will be an error in future versions of Sass.", 10},  // 2
    {S::Literal, "\n"},                                                 // 3
    {S::Literal, "        on line "},                                   // 4
    {S::Line},                                                          // 5
    {S::Literal, " of "},                                               // 6
    {S::Path},                                                          // 7
    {S::Literal, "\n"},                                                 // 8
    {S::End},                                                           // 9
    {S::Text},                                                          // 10: call() with a string
    {S::Literal, "\n"},                                                 // 11
    {S::Literal, "\n"},                                                 // 12
    {S::End},                                                           // 13
};
const StderrStep PlacedDeprecation[] = {
    {S::Line},             // 0
    {S::Fork, " of ", 3},  // 1
    {S::Path},             // 2
    {S::Literal, ":"},     // 3
    {S::Literal, "\n"},    // 4
    {S::Text},             // 5
    {S::Literal, "\n"},    // 6
    {S::Fork, "\n", 9},    // 7
    {S::End},              // 8
    {S::Text},             // 9: a second message
    {S::Literal, "\n"},    // 10
    {S::Literal, "\n"},    // 11
    {S::End},              // 12
};
const StderrStep WarningOrWarn[] = {
    {S::Text},                                                              // 0
    {S::Literal, "\n"},                                                     // 1
    {S::Fork, "        on line ", 10},                                      // 2
    {S::Line},                                                              // 3
    {S::Literal, " of "},                                                   // 4
    {S::Path},                                                              // 5
    {S::Literal, "\n"},                                                     // 6
    {S::KeptLiteral, "This will be an error in future versions of Sass."},  // 7
    {S::Literal, "\n"},                                                     // 8
    {S::End},                                                               // 9
    {S::Trace},                                                             // 10: @warn
    {S::Literal, "\n"},                                                     // 11
    {S::End},                                                               // 12
};
const StderrStep DebugText[] = {{S::Text}, {S::Literal, "\n"}, {S::End}};

struct Header {
    std::string_view chunk;
    const StderrStep* steps;
    std::string_view kind;
};

const Header Headers[] = {
    {"Warning: ", ShortWarning, "WARNING"},
    {"WARNING on line ", PlacedWarning, "WARNING"},
    {"DEPRECATION WARNING: ", ShortDeprecation, "DEPRECATION WARNING"},
    {"DEPRECATION WARNING on line ", PlacedDeprecation, "DEPRECATION WARNING"},
    {"WARNING: ", WarningOrWarn, "WARNING"},
};

}  // namespace

StderrParser::StderrParser(std::string_view directory, std::size_t most, std::function<CallSite()> callSite,
                           std::uint32_t firstLineShift)
    : directory_(directory), most_(most), callSite_(std::move(callSite)), firstLineShift_(firstLineShift) {}

void StderrParser::feed(std::string_view text) {
    Chunk chunk;
    chunk.size = text.size();
    // Of a message only counted, enough to tell libsass's own words apart.
    chunk.data.assign(text.substr(0, messages_.size() < most_ ? MaxChunkBytes : MaxCountedBytes));
    if (steps_ && step(chunk))
        return;
    atStart(std::move(chunk));
}

void StderrParser::finish() {
    if (steps_)
        emit();
    for (const Chunk& chunk : pending_)
        addUnknown(chunk);
    pending_.clear();
    flushUnknown();
}

std::vector<StderrMessage> StderrParser::take() {
    return std::move(messages_);
}

void StderrParser::addTracePath(std::string path) {
    if (std::find(tracePaths_.begin(), tracePaths_.end(), path) == tracePaths_.end())
        tracePaths_.push_back(std::move(path));
}

void StderrParser::atStart(Chunk chunk) {
    pending_.push_back(std::move(chunk));
    while (!pending_.empty()) {
        if (steps_) {
            // A message began among the pending chunks: the rest are its own.
            Chunk next = std::move(pending_.front());
            pending_.erase(pending_.begin());
            if (!step(next))
                pending_.insert(pending_.begin(), std::move(next));
            continue;
        }
        const Chunk& first = pending_.front();
        const Header* header = nullptr;
        for (const Header& h : Headers) {
            if (first.is(h.chunk))
                header = &h;
        }
        if (header) {
            flushUnknown();
            begin(header->steps, header->kind);
            pending_.erase(pending_.begin());
            continue;
        }
        // PATH ":" L " DEBUG: ", told apart only by its fourth chunk.
        std::uint32_t line = 0;
        const bool fits = (pending_.size() < 2 || pending_[1].is(":")) &&
                          (pending_.size() < 3 || (pending_[2].size <= MaxDigits && digits(pending_[2].data, line))) &&
                          (pending_.size() < 4 || pending_[3].is(" DEBUG: "));
        if (!fits) {
            addUnknown(pending_.front());
            pending_.erase(pending_.begin());
            continue;
        }
        if (pending_.size() == 4) {
            flushUnknown();
            begin(DebugText, "DEBUG");
            origin_ = StderrMessage::Origin::Debug;
            path_ = std::move(pending_[0]);
            hasPath_ = true;
            line_ = line;
            pending_.clear();
        }
        return;
    }
}

void StderrParser::begin(const StderrStep* steps, std::string_view kind) {
    steps_ = steps;
    at_ = 0;
    kind_.assign(kind.data(), kind.size());
    // Only @warn and @debug ask: libsass's own warnings name their place.
    if (callSite_ && messages_.size() < most_ && (steps == WarningOrWarn || steps == DebugText))
        site_ = callSite_();
}

// Reads chunk at the message's step; false when it does not fit there, which
// ends the message before it.
bool StderrParser::step(const Chunk& chunk) {
    for (;;) {
        const StderrStep& s = steps_[at_];
        bool fits = true;
        switch (s.op) {
        case S::Literal:
            fits = chunk.is(s.lit);
            break;
        case S::KeptLiteral:
            fits = chunk.is(s.lit);
            if (fits)
                parts_.push_back(chunk);
            break;
        case S::Fork:
        case S::KeptFork:
            if (!chunk.is(s.lit)) {
                at_ = s.other;
                continue;
            }
            if (s.op == S::KeptFork)
                parts_.push_back(chunk);
            break;
        case S::Line:
            fits = chunk.size == chunk.data.size() && digits(chunk.data, line_);
            break;
        case S::Column:
            fits = chunk.size == chunk.data.size() && digits(chunk.data, column_);
            break;
        case S::Path:
            path_ = chunk;
            hasPath_ = true;
            break;
        case S::Text:
            parts_.push_back(chunk);
            break;
        case S::Trace:
            trace_ = chunk;
            origin_ = StderrMessage::Origin::Warn;
            break;
        case S::End:
            fits = false;
            break;
        }
        if (!fits) {
            emit();
            return false;
        }
        ++at_;
        if (steps_[at_].op == S::End)
            emit();
        return true;
    }
}

void StderrParser::emit() {
    ++count_;
    if (messages_.size() < most_)
        messages_.push_back(message());
    steps_ = nullptr;
    at_ = 0;
    origin_ = StderrMessage::Origin::Libsass;
    kind_.clear();
    parts_.clear();
    line_ = 0;
    column_ = 0;
    hasPath_ = false;
    path_ = Chunk();
    trace_ = Chunk();
    site_ = CallSite();
}

StderrMessage StderrParser::message() const {
    StderrMessage m;
    m.origin = origin_;
    m.text = kind_;
    m.text += ':';
    for (const Chunk& part : parts_) {
        if (origin_ == StderrMessage::Origin::Libsass) {
            appendLines(m.text, part.data);
        } else {
            m.text += ' ';
            m.text += part.data;
        }
        if (part.size > part.data.size())
            m.text += Ellipsis;
    }
    const bool inText = hasPath_ && path_.is(TextPath);
    switch (origin_) {
    case StderrMessage::Origin::Libsass:
        if (line_ > 0 && inText) {
            m.line = line_;
            m.column = column_ > 0 ? shifted(line_, column_) : 1;
        } else if (line_ > 0) {
            m.text += otherFilePlace(line_, hasPath_ ? relative(path_.data) : std::string());
        }
        break;
    case StderrMessage::Origin::Warn: {
        const std::vector<TraceFrame> frames = readTrace(trace_.data, tracePaths_);
        if (!frames.empty() && frames.front().path == TextPath && frames.front().line > 0) {
            m.line = frames.front().line;
            m.column = shifted(m.line, frames.front().column);
            m.statement = true;
        } else if (site_.line > 0) {
            m.line = site_.line;
            m.column = site_.column;
        } else if (!frames.empty() && frames.front().line > 0) {
            m.text += otherFilePlace(frames.front().line, frames.front().path);
        }
        break;
    }
    case StderrMessage::Origin::Debug:
        if (line_ > 0 && inText) {
            m.line = line_;
            m.statement = true;
        } else if (site_.line > 0) {
            m.line = site_.line;
            m.column = site_.column;
        } else if (line_ > 0) {
            m.text += otherFilePlace(line_, relative(path_.data));
        }
        break;
    }
    return m;
}

void StderrParser::addUnknown(const Chunk& chunk) {
    if (unknown_.size() < MaxChunkBytes)
        unknown_ += chunk.data;
    hasUnknown_ = true;
}

// Text outside libsass's messages: one message per run of non-blank lines.
void StderrParser::flushUnknown() {
    if (!hasUnknown_)
        return;
    std::string_view rest = unknown_;
    std::string text;
    auto push = [&] {
        if (text.empty())
            return;
        ++count_;
        if (messages_.size() < most_) {
            StderrMessage m;
            m.text = std::move(text);
            messages_.push_back(std::move(m));
        }
        text.clear();
    };
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        if (trimmed(line).empty())
            push();
        else
            appendLines(text, line);
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    push();
    unknown_.clear();
    hasUnknown_ = false;
}

std::string StderrParser::relative(std::string_view path) const {
    if (!directory_.empty() && path.size() > directory_.size() + 1 && startsWith(path, directory_) &&
        path[directory_.size()] == '/')
        path.remove_prefix(directory_.size() + 1);
    return std::string(path);
}

std::uint32_t StderrParser::shifted(std::uint32_t line, std::uint32_t column) const {
    return line == 1 && column > 0 ? column + firstLineShift_ : column;
}

}  // namespace VantorCompiler
