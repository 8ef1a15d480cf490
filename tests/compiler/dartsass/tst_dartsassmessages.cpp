// The Embedded Sass protocol's messages: the host's requests read back with the generated
// classes, and the compiler's messages, well-formed and malformed, decoded into plain structs.
#include <Messages.h>

#include "embedded_sass.pb.h"

#include <QtTest>

using namespace VantorCompiler::dartsass;
namespace proto = sass::embedded_protocol;

namespace {

QByteArray bytes(const std::string& s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}
QString text(const std::string& s) {
    return QString::fromStdString(s);
}

template <typename Message>
QByteArray serialized(const Message& message) {
    return bytes(message.SerializeAsString());
}

QString describe(const SourceSpan& s) {
    return QString("%1@%2 %3:%4:%5-%6:%7:%8 [%9]")
        .arg(text(s.text), text(s.url))
        .arg(s.start.offset)
        .arg(s.start.line)
        .arg(s.start.column)
        .arg(s.end.offset)
        .arg(s.end.line)
        .arg(s.end.column)
        .arg(text(s.context));
}

QString join(const std::vector<std::string>& list) {
    QStringList out;
    for (const std::string& s : list)
        out << text(s);
    return out.join(',');
}

// One line per message: its kind, then its fields in a fixed order.
QString describe(const OutboundMessage& message) {
    if (const auto* m = std::get_if<VersionResponse>(&message))
        return QString("version %1 protocol=%2 compiler=%3 implementation=%4 %5")
            .arg(m->id)
            .arg(text(m->protocolVersion), text(m->compilerVersion), text(m->implementationName),
                 text(m->implementationVersion));
    if (const auto* m = std::get_if<CompileSuccess>(&message))
        return QString("success css=%1 map=%2 urls=%3").arg(text(m->css), text(m->sourceMap), join(m->loadedUrls));
    if (const auto* m = std::get_if<CompileFailure>(&message))
        return QString("failure %1 span=%2 trace=%3 formatted=%4 urls=%5")
            .arg(text(m->message), describe(m->span), text(m->stackTrace), text(m->formatted), join(m->loadedUrls));
    if (const auto* m = std::get_if<LogEvent>(&message))
        return QString("log %1 %2 span=%3 trace=%4 formatted=%5 deprecation=%6")
            .arg(int(m->type))
            .arg(text(m->message), m->span ? describe(*m->span) : "none", text(m->stackTrace), text(m->formatted),
                 m->deprecationId ? text(*m->deprecationId) : "none");
    if (const auto* m = std::get_if<ProtocolError>(&message))
        return QString("protocol error %1 id=%2 %3").arg(int(m->type)).arg(m->id).arg(text(m->message));
    const auto& m = std::get<CompilerRequest>(message);
    return QString("request %1 id=%2 importer=%3 url=%4 fromImport=%5 containing=%6 function=%7/%8")
        .arg(int(m.kind))
        .arg(m.id)
        .arg(m.importerId)
        .arg(text(m.url))
        .arg(m.fromImport)
        .arg(m.containingUrl ? text(*m.containingUrl) : "none", text(m.functionName),
             m.functionId ? QString::number(*m.functionId) : "none");
}

void setSpan(proto::SourceSpan& span, bool withEnd) {
    span.set_text("b: c");
    span.set_url("file:///x.scss");
    span.set_context("a { b: c }");
    span.mutable_start()->set_offset(4);
    span.mutable_start()->set_line(0);
    span.mutable_start()->set_column(4);
    if (withEnd) {
        span.mutable_end()->set_offset(8);
        span.mutable_end()->set_line(0);
        span.mutable_end()->set_column(8);
    }
}

const QString SpanWithEnd = "b: c@file:///x.scss 4:0:4-8:0:8 [a { b: c }]";
const QString SpanWithoutEnd = "b: c@file:///x.scss 4:0:4-4:0:4 [a { b: c }]";

}  // namespace

class TstDartSassMessages : public QObject {
    Q_OBJECT

private slots:
    void versionRequest() {
        proto::InboundMessage message;
        QVERIFY(message.ParseFromString(VantorCompiler::dartsass::versionRequest(42)));
        QCOMPARE(message.message_case(), proto::InboundMessage::kVersionRequest);
        QCOMPARE(message.version_request().id(), 42u);
    }

    void compileRequest_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("sourceMap");
        QTest::addColumn<QString>("url");
        QTest::newRow("expanded, no map, no url") << int(OutputStyle::Expanded) << false << QString();
        QTest::newRow("compressed with map") << int(OutputStyle::Compressed) << true << "file:///home/u/a.scss";
    }
    void compileRequest() {
        QFETCH(int, style);
        QFETCH(bool, sourceMap);
        QFETCH(QString, url);
        CompileOptions options;
        options.source = "a { b: c; }  // é";
        options.url = url.toStdString();
        options.style = OutputStyle(style);
        options.sourceMap = sourceMap;

        proto::InboundMessage message;
        QVERIFY(message.ParseFromString(VantorCompiler::dartsass::compileRequest(options)));
        QCOMPARE(message.message_case(), proto::InboundMessage::kCompileRequest);
        const proto::InboundMessage::CompileRequest& r = message.compile_request();
        QCOMPARE(r.input_case(), proto::InboundMessage::CompileRequest::kString);
        QCOMPARE(text(r.string().source()), QString::fromUtf8("a { b: c; }  // é"));
        QCOMPARE(text(r.string().url()), url);
        QCOMPARE(r.string().syntax(), proto::SCSS);
        QVERIFY(!r.string().has_importer());
        QCOMPARE(r.style(), style == int(OutputStyle::Compressed) ? proto::COMPRESSED : proto::EXPANDED);
        QCOMPARE(r.source_map(), sourceMap);
        QCOMPARE(r.source_map_include_sources(), sourceMap);
        QCOMPARE(r.importers_size(), 0);
        QCOMPARE(r.global_functions_size(), 0);
        QVERIFY(!r.alert_color());
        QVERIFY(r.alert_ascii());
        QVERIFY(!r.verbose());
        QVERIFY(!r.quiet_deps());
        QVERIFY(!r.silent());
    }

    // Importer requests get a response without a result, function calls an error; each keeps the
    // request's id.
    void declineRequest_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("response");
        QTest::newRow("canonicalize") << int(CompilerRequestKind::Canonicalize)
                                      << int(proto::InboundMessage::kCanonicalizeResponse);
        QTest::newRow("import") << int(CompilerRequestKind::Import) << int(proto::InboundMessage::kImportResponse);
        QTest::newRow("file import") << int(CompilerRequestKind::FileImport)
                                     << int(proto::InboundMessage::kFileImportResponse);
        QTest::newRow("function call") << int(CompilerRequestKind::FunctionCall)
                                       << int(proto::InboundMessage::kFunctionCallResponse);
    }
    void declineRequest() {
        QFETCH(int, kind);
        QFETCH(int, response);
        CompilerRequest request;
        request.kind = CompilerRequestKind(kind);
        request.id = 77;
        proto::InboundMessage message;
        QVERIFY(message.ParseFromString(VantorCompiler::dartsass::declineRequest(request)));
        QCOMPARE(int(message.message_case()), response);
        switch (message.message_case()) {
        case proto::InboundMessage::kCanonicalizeResponse:
            QCOMPARE(message.canonicalize_response().id(), 77u);
            QCOMPARE(message.canonicalize_response().result_case(),
                     proto::InboundMessage::CanonicalizeResponse::RESULT_NOT_SET);
            break;
        case proto::InboundMessage::kImportResponse:
            QCOMPARE(message.import_response().id(), 77u);
            QCOMPARE(message.import_response().result_case(), proto::InboundMessage::ImportResponse::RESULT_NOT_SET);
            break;
        case proto::InboundMessage::kFileImportResponse:
            QCOMPARE(message.file_import_response().id(), 77u);
            QCOMPARE(message.file_import_response().result_case(),
                     proto::InboundMessage::FileImportResponse::RESULT_NOT_SET);
            break;
        default:
            QCOMPARE(message.function_call_response().id(), 77u);
            QCOMPARE(message.function_call_response().result_case(),
                     proto::InboundMessage::FunctionCallResponse::kError);
            QVERIFY(!message.function_call_response().error().empty());
        }
    }

    void decode_data() {
        QTest::addColumn<quint32>("compilationId");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("decoded");

        {
            proto::OutboundMessage m;
            auto& v = *m.mutable_version_response();
            v.set_id(1);
            v.set_protocol_version("3.4.0");
            v.set_compiler_version("1.108.2");
            v.set_implementation_version("1.108.2");
            v.set_implementation_name("dart-sass");
            // A field of a newer protocol is skipped.
            std::string newer = m.SerializeAsString();
            newer += std::string("\xfa\x06\x03new", 6);  // field 111, 3 bytes
            QTest::newRow("version response, with a newer field")
                << quint32(0) << bytes(newer)
                << "version 1 protocol=3.4.0 compiler=1.108.2 implementation=dart-sass 1.108.2";
        }
        {
            proto::OutboundMessage m;
            auto& r = *m.mutable_compile_response();
            r.mutable_success()->set_css("a {\n  b: c;\n}");
            r.mutable_success()->set_source_map("{\"version\":3}");
            r.add_loaded_urls("file:///a.scss");
            r.add_loaded_urls("file:///_b.scss");
            QTest::newRow("success")
                << quint32(5) << serialized(m)
                << "success css=a {\n  b: c;\n} map={\"version\":3} urls=file:///a.scss,file:///_b.scss";
        }
        {
            proto::OutboundMessage m;
            m.mutable_compile_response()->mutable_success();
            QTest::newRow("success of empty css") << quint32(1) << serialized(m) << "success css= map= urls=";
        }
        {
            // Two, three and four byte sequences between runs of ASCII, and at the very end.
            proto::OutboundMessage m;
            m.mutable_compile_response()->mutable_success()->set_css(
                "a::before {\n  content: \"caf\xc3\xa9 \xe2\x86\x92 \xf0\x9f\x98\x80\";\n}\xc3\xa9");
            QTest::newRow("success with UTF-8 beyond ASCII")
                << quint32(1) << serialized(m)
                << QString::fromUtf8("success css=a::before {\n  content: \"caf\xc3\xa9 \xe2\x86\x92 \xf0\x9f\x98\x80\";\n}\xc3\xa9 map= urls=");
        }
        {
            proto::OutboundMessage m;
            auto& f = *m.mutable_compile_response()->mutable_failure();
            f.set_message("expected \"}\".");
            setSpan(*f.mutable_span(), true);
            f.set_stack_trace("x.scss 1:5  root stylesheet");
            f.set_formatted("Error: expected \"}\".");
            m.mutable_compile_response()->add_loaded_urls("file:///x.scss");
            QTest::newRow("failure") << quint32(2) << serialized(m)
                                     << "failure expected \"}\". span=" + SpanWithEnd +
                                            " trace=x.scss 1:5  root stylesheet formatted=Error: expected \"}\". "
                                            "urls=file:///x.scss";
            setSpan(*f.mutable_span(), false);
            f.mutable_span()->clear_end();
            QTest::newRow("failure, empty span ends where it starts")
                << quint32(2) << serialized(m)
                << "failure expected \"}\". span=" + SpanWithoutEnd +
                       " trace=x.scss 1:5  root stylesheet formatted=Error: expected \"}\". urls=file:///x.scss";
        }
        {
            proto::OutboundMessage m;
            auto& e = *m.mutable_log_event();
            e.set_type(proto::DEPRECATION_WARNING);
            e.set_message("slash as division");
            setSpan(*e.mutable_span(), true);
            e.set_stack_trace("t");
            e.set_formatted("DEPRECATION WARNING: slash as division");
            e.set_deprecation_type("slash-div");
            QTest::newRow("deprecation warning") << quint32(3) << serialized(m)
                                                 << "log 1 slash as division span=" + SpanWithEnd +
                                                        " trace=t formatted=DEPRECATION WARNING: slash as division "
                                                        "deprecation=slash-div";
            e.set_type(proto::WARNING);
            e.clear_span();
            e.clear_deprecation_type();
            e.clear_stack_trace();
            QTest::newRow("warning without a span")
                << quint32(3) << serialized(m)
                << "log 0 slash as division span=none trace= formatted=DEPRECATION WARNING: slash as division "
                   "deprecation=none";
            e.set_type(proto::DEBUG);
            QTest::newRow("debug") << quint32(3) << serialized(m)
                                   << "log 2 slash as division span=none trace= formatted=DEPRECATION WARNING: slash "
                                      "as division deprecation=none";
        }
        {
            proto::OutboundMessage m;
            m.mutable_error()->set_type(proto::PARAMS);
            m.mutable_error()->set_id(4294967295u);
            m.mutable_error()->set_message("missing input");
            QTest::newRow("protocol error")
                << quint32(9) << serialized(m) << "protocol error 1 id=4294967295 missing input";
            m.mutable_error()->set_type(proto::PARSE);
            m.mutable_error()->set_id(0);
            QTest::newRow("protocol error on the version's id")
                << quint32(0) << serialized(m) << "protocol error 0 id=0 missing input";
        }
        {
            proto::OutboundMessage m;
            auto& r = *m.mutable_canonicalize_request();
            r.set_id(4);
            r.set_importer_id(8);
            r.set_url("foo");
            r.set_from_import(true);
            r.set_containing_url("file:///a.scss");
            QTest::newRow("canonicalize") << quint32(6) << serialized(m)
                                          << "request 0 id=4 importer=8 url=foo fromImport=1 "
                                             "containing=file:///a.scss function=/none";
        }
        {
            proto::OutboundMessage m;
            m.mutable_import_request()->set_id(5);
            m.mutable_import_request()->set_importer_id(1);
            m.mutable_import_request()->set_url("vantor:foo");
            QTest::newRow("import") << quint32(6) << serialized(m)
                                    << "request 1 id=5 importer=1 url=vantor:foo fromImport=0 containing=none "
                                       "function=/none";
        }
        {
            proto::OutboundMessage m;
            m.mutable_file_import_request()->set_id(6);
            m.mutable_file_import_request()->set_importer_id(2);
            m.mutable_file_import_request()->set_url("bar");
            QTest::newRow("file import") << quint32(6) << serialized(m)
                                         << "request 2 id=6 importer=2 url=bar fromImport=0 containing=none "
                                            "function=/none";
        }
        {
            proto::OutboundMessage m;
            m.mutable_function_call_request()->set_id(7);
            m.mutable_function_call_request()->set_name("double");
            m.mutable_function_call_request()->add_arguments()->mutable_string()->set_text("x");
            QTest::newRow("function call by name") << quint32(6) << serialized(m)
                                                   << "request 3 id=7 importer=0 url= fromImport=0 containing=none "
                                                      "function=double/none";
            m.mutable_function_call_request()->set_function_id(0);
            QTest::newRow("function call by id") << quint32(6) << serialized(m)
                                                 << "request 3 id=7 importer=0 url= fromImport=0 containing=none "
                                                    "function=/0";
        }
    }
    void decode() {
        QFETCH(quint32, compilationId);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, decoded);
        OutboundMessage message;
        std::string error;
        QVERIFY2(decodeOutbound(compilationId, std::string_view(bytes.constData(), std::size_t(bytes.size())), message,
                                error),
                 error.c_str());
        QCOMPARE(describe(message), decoded);
    }

    void malformed_data() {
        QTest::addColumn<quint32>("compilationId");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");

        QTest::newRow("not protobuf") << quint32(1) << QByteArray("\xff\xff\xff", 3)
                                      << "bytes that do not parse as an OutboundMessage";
        QTest::newRow("cut inside a field")
            << quint32(1) << QByteArray("\x12\x05\x12\x03", 4) << "bytes that do not parse as an OutboundMessage";
        QTest::newRow("empty") << quint32(1) << QByteArray() << "an OutboundMessage of no kind this host knows";
        QTest::newRow("a kind of a newer protocol")
            << quint32(1) << QByteArray("\xfa\x06\x00", 3) << "an OutboundMessage of no kind this host knows";
        {
            proto::OutboundMessage m;
            m.mutable_compile_response()->mutable_success()->set_css(std::string("\xc3\x28", 2));
            QTest::newRow("css not UTF-8") << quint32(1) << serialized(m) << "a CompileSuccess whose CSS is not UTF-8";
            // Past a run of ASCII longer than the eight bytes checked at a time.
            m.mutable_compile_response()->mutable_success()->set_css(std::string("a{b:c}\n.long-selector{\xed\xa0\x80}"));
            QTest::newRow("css with a surrogate after ASCII")
                << quint32(1) << serialized(m) << "a CompileSuccess whose CSS is not UTF-8";
            m.mutable_compile_response()->mutable_success()->set_css(std::string("a{b:\"caf\xc3\xa9\"}"));
            m.mutable_compile_response()->mutable_success()->set_source_map(std::string("{\"version\":3,\xff}"));
            QTest::newRow("source map not UTF-8")
                << quint32(1) << serialized(m) << "a CompileSuccess whose source map is not UTF-8";
        }
        {
            proto::OutboundMessage m;
            m.mutable_compile_response()->add_loaded_urls("file:///a.scss");
            QTest::newRow("compile response without a result")
                << quint32(1) << serialized(m) << "a CompileResponse with neither success nor failure";
        }
        {
            proto::OutboundMessage m;
            m.mutable_compile_response()->mutable_failure()->set_message("bad");
            QTest::newRow("failure without a span")
                << quint32(1) << serialized(m) << "a CompileFailure without its span";
            m.mutable_compile_response()->mutable_failure()->mutable_span()->set_text("x");
            QTest::newRow("span without a start")
                << quint32(1) << serialized(m) << "a span without its start, in a CompileFailure";
            setSpan(*m.mutable_compile_response()->mutable_failure()->mutable_span(), true);
            m.mutable_compile_response()->mutable_failure()->mutable_span()->mutable_end()->set_offset(3);
            QTest::newRow("span ending before its start")
                << quint32(1) << serialized(m) << "a span whose end comes before its start, in a CompileFailure";
        }
        {
            proto::OutboundMessage m;
            m.mutable_log_event()->set_type(proto::LogEventType(7));
            QTest::newRow("log event of unknown type") << quint32(1) << serialized(m) << "a LogEvent of unknown type 7";
            m.mutable_log_event()->set_type(proto::WARNING);
            m.mutable_log_event()->mutable_span()->set_url("u");
            QTest::newRow("log event span without a start")
                << quint32(1) << serialized(m) << "a span without its start, in a LogEvent";
        }
        {
            proto::OutboundMessage m;
            m.mutable_error()->set_type(proto::ProtocolErrorType(9));
            m.mutable_error()->set_message("odd");
            QTest::newRow("protocol error of unknown type")
                << quint32(1) << serialized(m) << "a ProtocolError of unknown type 9: odd";
        }
        {
            proto::OutboundMessage m;
            m.mutable_function_call_request()->set_id(1);
            QTest::newRow("function call naming nothing")
                << quint32(1) << serialized(m) << "a FunctionCallRequest naming no function";
        }
        {
            proto::OutboundMessage m;
            m.mutable_version_response()->set_protocol_version("3.4.0");
            QTest::newRow("version response on a compilation")
                << quint32(3) << serialized(m) << "a VersionResponse on compilation 3, not 0";
        }
        {
            proto::OutboundMessage m;
            m.mutable_compile_response()->mutable_success();
            QTest::newRow("compile response on the version's id")
                << quint32(0) << serialized(m)
                << "a message of a compilation on compilation id 0, which is the version's";
        }
    }
    void malformed() {
        QFETCH(quint32, compilationId);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        OutboundMessage message;
        std::string actual;
        QVERIFY(!decodeOutbound(compilationId, std::string_view(bytes.constData(), std::size_t(bytes.size())), message,
                                actual));
        QCOMPARE(text(actual), error);
    }
};

QTEST_APPLESS_MAIN(TstDartSassMessages)
#include "tst_dartsassmessages.moc"
