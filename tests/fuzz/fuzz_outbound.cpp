// libFuzzer target for the decoder of the Embedded Sass compiler's messages.
//
// The first byte is the packet's compilation id, the rest the message. Whatever decodes must keep
// the protocol's rules the decoder promises (the version on 0, spans ending at or after their
// start), and a request from the compiler must get a refusal that parses, with its id.
#include "Messages.h"

#include "embedded_sass.pb.h"

#include <google/protobuf/stubs/common.h>

#include <cstddef>
#include <cstdint>

using namespace VantorCompiler::dartsass;

namespace {

void require(bool condition) {
    if (!condition)
        __builtin_trap();
}

void requireSpan(const SourceSpan& span) { require(span.end.offset >= span.start.offset); }

std::uint32_t responseId(const sass::embedded_protocol::InboundMessage& m) {
    switch (m.message_case()) {
    case sass::embedded_protocol::InboundMessage::kCanonicalizeResponse:
        return m.canonicalize_response().id();
    case sass::embedded_protocol::InboundMessage::kImportResponse:
        return m.import_response().id();
    case sass::embedded_protocol::InboundMessage::kFileImportResponse:
        return m.file_import_response().id();
    case sass::embedded_protocol::InboundMessage::kFunctionCallResponse:
        return m.function_call_response().id();
    default:
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Protobuf logs every string that is not UTF-8; the decoder reports those itself.
    google::protobuf::SetLogHandler(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint32_t compilationId = data[0];
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    OutboundMessage message;
    std::string error;
    if (!decodeOutbound(compilationId, bytes, message, error)) {
        require(!error.empty());
        return 0;
    }
    if (std::holds_alternative<VersionResponse>(message))
        require(compilationId == 0);
    else if (!std::holds_alternative<ProtocolError>(message))
        require(compilationId != 0);
    if (const auto* failure = std::get_if<CompileFailure>(&message))
        requireSpan(failure->span);
    if (const auto* log = std::get_if<LogEvent>(&message); log && log->span)
        requireSpan(*log->span);
    if (const auto* request = std::get_if<CompilerRequest>(&message)) {
        sass::embedded_protocol::InboundMessage refusal;
        require(refusal.ParseFromString(declineRequest(*request)));
        require(responseId(refusal) == request->id);
    }
    return 0;
}
