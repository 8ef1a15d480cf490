// The Embedded Sass protocol's messages as the host uses them: the InboundMessage bytes it sends,
// and the OutboundMessage bytes it receives decoded into plain structs, so that nothing outside
// Messages.cpp sees protobuf. Each message travels in a packet with its compilation id (Packet.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace VantorCompiler {
namespace dartsass {

enum class OutputStyle { Expanded, Compressed };

struct CompileOptions {
    // SCSS text, UTF-8.
    std::string source;
    // Where the text came from, as errors, warnings and the source map name it; empty for none.
    std::string url;
    OutputStyle style = OutputStyle::Expanded;
    // A source map with the source inside it: the text lives in the editor, where nothing that
    // reads the map could load it from.
    bool sourceMap = false;
};

// --- What the host sends ---

std::string versionRequest(std::uint32_t id);
// The compilation id is the packet's. No importers and no custom functions; warnings uncoloured,
// in ASCII, with repeated deprecations folded and those from dependencies kept.
std::string compileRequest(const CompileOptions& options);

// --- What the compiler sends ---

// 0-based, like the protocol.
struct SourceLocation {
    std::uint32_t offset = 0;
    std::uint32_t line = 0;
    std::uint32_t column = 0;
};

struct SourceSpan {
    std::string text;
    // Empty for a CompileOptions text without a url.
    std::string url;
    // The lines around the span; may be empty.
    std::string context;
    SourceLocation start;
    // The position after the span; equal to start for an empty span.
    SourceLocation end;
};

struct VersionResponse {
    std::uint32_t id = 0;
    std::string protocolVersion;
    std::string compilerVersion;
    std::string implementationVersion;
    std::string implementationName;
};

struct CompileSuccess {
    std::string css;
    // JSON; empty unless CompileOptions::sourceMap.
    std::string sourceMap;
    std::vector<std::string> loadedUrls;
};

struct CompileFailure {
    std::string message;
    SourceSpan span;
    // Empty when there is none.
    std::string stackTrace;
    // Message, span and trace as one text for people.
    std::string formatted;
    std::vector<std::string> loadedUrls;
};

enum class LogEventType { Warning, DeprecationWarning, Debug };

struct LogEvent {
    LogEventType type = LogEventType::Warning;
    std::string message;
    std::optional<SourceSpan> span;
    std::string stackTrace;
    std::string formatted;
    // Such as "slash-div", for deprecation warnings.
    std::optional<std::string> deprecationId;
};

enum class ProtocolErrorType { Parse, Params, Internal };

// The compiler found the host breaking the protocol.
struct ProtocolError {
    ProtocolErrorType type = ProtocolErrorType::Parse;
    // The request it concerns, or 4294967295 for none.
    std::uint32_t id = 0;
    std::string message;
};

enum class CompilerRequestKind { Canonicalize, Import, FileImport, FunctionCall };

// A request from the compiler for an importer or a custom function of the host. The host defines
// none, so it answers each with declineRequest().
struct CompilerRequest {
    CompilerRequestKind kind = CompilerRequestKind::Canonicalize;
    std::uint32_t id = 0;
    // Importer requests.
    std::uint32_t importerId = 0;
    std::string url;
    bool fromImport = false;
    std::optional<std::string> containingUrl;
    // Function calls: by name, or by the id of a function value.
    std::string functionName;
    std::optional<std::uint32_t> functionId;
};

using OutboundMessage =
    std::variant<VersionResponse, CompileSuccess, CompileFailure, LogEvent, ProtocolError, CompilerRequest>;

// Decodes the message of a packet with the given compilation id. False with error set for bytes
// that are not an OutboundMessage, one of a kind this host does not know, one without a field the
// protocol makes mandatory, a span ending before it starts, or a message on the wrong compilation
// id (the version response on 0, everything else but protocol errors elsewhere). The error names
// what arrived ("a CompileFailure without its span"), to follow words such as "Dart Sass sent".
bool decodeOutbound(std::uint32_t compilationId, std::string_view bytes, OutboundMessage& message, std::string& error);

// The host's answer to a request from the compiler, refusing it as the protocol has it: importer
// requests get a response without a result (the URL is not one this importer knows), function
// calls an error, the protocol's one way to answer those.
std::string declineRequest(const CompilerRequest& request);

}  // namespace dartsass
}  // namespace VantorCompiler
