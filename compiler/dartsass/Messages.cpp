#include "Messages.h"

#include "SpanPlaces.h"

#include "embedded_sass.pb.h"

#include <climits>
#include <utility>

namespace VantorCompiler {
namespace dartsass {

namespace proto = sass::embedded_protocol;

std::string versionRequest(std::uint32_t id) {
    proto::InboundMessage message;
    message.mutable_version_request()->set_id(id);
    return message.SerializeAsString();
}

std::string compileRequest(const CompileOptions& options) {
    proto::InboundMessage message;
    proto::InboundMessage::CompileRequest& request = *message.mutable_compile_request();
    proto::InboundMessage::CompileRequest::StringInput& input = *request.mutable_string();
    input.set_source(options.source);
    input.set_url(options.url);
    input.set_syntax(proto::SCSS);
    request.set_style(options.style == OutputStyle::Compressed ? proto::COMPRESSED : proto::EXPANDED);
    request.set_source_map(options.sourceMap);
    request.set_source_map_include_sources(options.sourceMap);
    request.set_alert_color(false);
    request.set_alert_ascii(true);
    request.set_verbose(false);
    request.set_quiet_deps(false);
    // As the command line does: @charset in expanded CSS, a BOM in compressed.
    request.set_charset(true);
    return message.SerializeAsString();
}

std::string declineRequest(const CompilerRequest& request) {
    proto::InboundMessage message;
    switch (request.kind) {
    case CompilerRequestKind::Canonicalize:
        message.mutable_canonicalize_response()->set_id(request.id);
        break;
    case CompilerRequestKind::Import:
        message.mutable_import_response()->set_id(request.id);
        break;
    case CompilerRequestKind::FileImport:
        message.mutable_file_import_response()->set_id(request.id);
        break;
    case CompilerRequestKind::FunctionCall: {
        proto::InboundMessage::FunctionCallResponse& response = *message.mutable_function_call_response();
        response.set_id(request.id);
        response.set_error("Vantor defines no custom functions");
        break;
    }
    }
    return message.SerializeAsString();
}

namespace {

bool fail(std::string& error, std::string text) {
    error = std::move(text);
    return false;
}

SourceLocation location(const proto::SourceSpan::SourceLocation& from) {
    return {from.offset(), from.line(), from.column()};
}

bool decodeSpan(proto::SourceSpan& from, SourceSpan& span, const char* owner, std::string& error) {
    if (!from.has_start())
        return fail(error, std::string("a span without its start, in a ") + owner);
    span.text = std::move(*from.mutable_text());
    span.url = std::move(*from.mutable_url());
    span.context = std::move(*from.mutable_context());
    span.start = location(from.start());
    span.end = from.has_end() ? location(from.end()) : span.start;
    if (span.end.offset < span.start.offset || span.end.line < span.start.line)
        return fail(error, std::string("a span whose end comes before its start, in a ") + owner);
    return true;
}

std::vector<std::string> takeUrls(google::protobuf::RepeatedPtrField<std::string>& urls) {
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(urls.size()));
    for (std::string& url : urls)
        out.push_back(std::move(url));
    return out;
}

bool decodeCompileResponse(proto::OutboundMessage::CompileResponse& from, OutboundMessage& message,
                           std::string& error) {
    switch (from.result_case()) {
    case proto::OutboundMessage::CompileResponse::kSuccess: {
        // Declared as bytes in our copy of the protocol, so checked here.
        if (!isUtf8(from.success().css()))
            return fail(error, "a CompileSuccess whose CSS is not UTF-8");
        if (!isUtf8(from.success().source_map()))
            return fail(error, "a CompileSuccess whose source map is not UTF-8");
        CompileSuccess success;
        success.css = std::move(*from.mutable_success()->mutable_css());
        success.sourceMap = std::move(*from.mutable_success()->mutable_source_map());
        success.loadedUrls = takeUrls(*from.mutable_loaded_urls());
        message = std::move(success);
        return true;
    }
    case proto::OutboundMessage::CompileResponse::kFailure: {
        proto::OutboundMessage::CompileResponse::CompileFailure& f = *from.mutable_failure();
        CompileFailure failure;
        if (!f.has_span())
            return fail(error, "a CompileFailure without its span");
        if (!decodeSpan(*f.mutable_span(), failure.span, "CompileFailure", error))
            return false;
        failure.message = std::move(*f.mutable_message());
        failure.stackTrace = std::move(*f.mutable_stack_trace());
        failure.formatted = std::move(*f.mutable_formatted());
        failure.loadedUrls = takeUrls(*from.mutable_loaded_urls());
        message = std::move(failure);
        return true;
    }
    case proto::OutboundMessage::CompileResponse::RESULT_NOT_SET:
        break;
    }
    return fail(error, "a CompileResponse with neither success nor failure");
}

bool decodeLogEvent(proto::OutboundMessage::LogEvent& from, OutboundMessage& message, std::string& error) {
    LogEvent event;
    switch (from.type()) {
    case proto::WARNING:
        event.type = LogEventType::Warning;
        break;
    case proto::DEPRECATION_WARNING:
        event.type = LogEventType::DeprecationWarning;
        break;
    case proto::DEBUG:
        event.type = LogEventType::Debug;
        break;
    default:
        return fail(error, "a LogEvent of unknown type " + std::to_string(from.type()));
    }
    if (from.has_span()) {
        event.span.emplace();
        if (!decodeSpan(*from.mutable_span(), *event.span, "LogEvent", error))
            return false;
    }
    event.message = std::move(*from.mutable_message());
    event.stackTrace = std::move(*from.mutable_stack_trace());
    event.formatted = std::move(*from.mutable_formatted());
    if (from.has_deprecation_type())
        event.deprecationId = std::move(*from.mutable_deprecation_type());
    message = std::move(event);
    return true;
}

bool decodeProtocolError(proto::ProtocolError& from, OutboundMessage& message, std::string& error) {
    ProtocolError protocolError;
    switch (from.type()) {
    case proto::PARSE:
        protocolError.type = ProtocolErrorType::Parse;
        break;
    case proto::PARAMS:
        protocolError.type = ProtocolErrorType::Params;
        break;
    case proto::INTERNAL:
        protocolError.type = ProtocolErrorType::Internal;
        break;
    default:
        // Keeps the compiler's text: it is the more useful half.
        return fail(error, "a ProtocolError of unknown type " + std::to_string(from.type()) + ": " + from.message());
    }
    protocolError.id = from.id();
    protocolError.message = std::move(*from.mutable_message());
    message = std::move(protocolError);
    return true;
}

template <typename ImporterRequest>
CompilerRequest importerRequest(CompilerRequestKind kind, ImporterRequest& from) {
    CompilerRequest request;
    request.kind = kind;
    request.id = from.id();
    request.importerId = from.importer_id();
    request.url = std::move(*from.mutable_url());
    return request;
}

template <typename ImporterRequest>
void takeContainingUrl(ImporterRequest& from, CompilerRequest& request) {
    request.fromImport = from.from_import();
    if (from.has_containing_url())
        request.containingUrl = std::move(*from.mutable_containing_url());
}

}  // namespace

bool decodeOutbound(std::uint32_t compilationId, std::string_view bytes, OutboundMessage& message, std::string& error) {
    if (bytes.size() > static_cast<std::size_t>(INT_MAX))
        return fail(error, "an OutboundMessage of " + std::to_string(bytes.size()) + " bytes, too long to parse");
    // protobuf reports a string that is not UTF-8 on standard error as well as
    // failing the parse: the failure is ours to report, the program's
    // standard error is not the place.
    static const bool quiet = (google::protobuf::SetLogHandler(nullptr), true);
    (void)quiet;
    proto::OutboundMessage from;
    if (!from.ParseFromArray(bytes.data(), static_cast<int>(bytes.size())))
        return fail(error, "bytes that do not parse as an OutboundMessage");

    const auto kind = from.message_case();
    if (kind == proto::OutboundMessage::MESSAGE_NOT_SET)
        return fail(error, "an OutboundMessage of no kind this host knows");
    if (kind == proto::OutboundMessage::kVersionResponse && compilationId != 0)
        return fail(error, "a VersionResponse on compilation " + std::to_string(compilationId) + ", not 0");
    if (kind != proto::OutboundMessage::kVersionResponse && kind != proto::OutboundMessage::kError &&
        compilationId == 0)
        return fail(error, "a message of a compilation on compilation id 0, which is the version's");

    switch (kind) {
    case proto::OutboundMessage::kError:
        return decodeProtocolError(*from.mutable_error(), message, error);
    case proto::OutboundMessage::kCompileResponse:
        return decodeCompileResponse(*from.mutable_compile_response(), message, error);
    case proto::OutboundMessage::kLogEvent:
        return decodeLogEvent(*from.mutable_log_event(), message, error);
    case proto::OutboundMessage::kCanonicalizeRequest: {
        proto::OutboundMessage::CanonicalizeRequest& r = *from.mutable_canonicalize_request();
        CompilerRequest request = importerRequest(CompilerRequestKind::Canonicalize, r);
        takeContainingUrl(r, request);
        message = std::move(request);
        return true;
    }
    case proto::OutboundMessage::kImportRequest:
        message = importerRequest(CompilerRequestKind::Import, *from.mutable_import_request());
        return true;
    case proto::OutboundMessage::kFileImportRequest: {
        proto::OutboundMessage::FileImportRequest& r = *from.mutable_file_import_request();
        CompilerRequest request = importerRequest(CompilerRequestKind::FileImport, r);
        takeContainingUrl(r, request);
        message = std::move(request);
        return true;
    }
    case proto::OutboundMessage::kFunctionCallRequest: {
        proto::OutboundMessage::FunctionCallRequest& r = *from.mutable_function_call_request();
        CompilerRequest request;
        request.kind = CompilerRequestKind::FunctionCall;
        request.id = r.id();
        switch (r.identifier_case()) {
        case proto::OutboundMessage::FunctionCallRequest::kName:
            request.functionName = std::move(*r.mutable_name());
            break;
        case proto::OutboundMessage::FunctionCallRequest::kFunctionId:
            request.functionId = r.function_id();
            break;
        case proto::OutboundMessage::FunctionCallRequest::IDENTIFIER_NOT_SET:
            return fail(error, "a FunctionCallRequest naming no function");
        }
        message = std::move(request);
        return true;
    }
    case proto::OutboundMessage::kVersionResponse: {
        proto::OutboundMessage::VersionResponse& r = *from.mutable_version_response();
        VersionResponse response;
        response.id = r.id();
        response.protocolVersion = std::move(*r.mutable_protocol_version());
        response.compilerVersion = std::move(*r.mutable_compiler_version());
        response.implementationVersion = std::move(*r.mutable_implementation_version());
        response.implementationName = std::move(*r.mutable_implementation_name());
        message = std::move(response);
        return true;
    }
    case proto::OutboundMessage::MESSAGE_NOT_SET:
        break;
    }
    return fail(error, "an OutboundMessage of no kind this host knows");
}

}  // namespace dartsass
}  // namespace VantorCompiler
