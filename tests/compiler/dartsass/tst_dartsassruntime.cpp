// The packets and messages against the real Dart Sass, started with --embedded and spoken to over
// its standard input and output: the version, conversions that succeed, fail and warn, and a clean
// end of the stream when the host closes it.
//
// The runtime is taken from $VANTOR_DART_SASS_DIR when set (a folder holding dart and
// sass.snapshot, such as an unpacked sass-embedded-linux-x64), else from the build tree's
// lib/dart-sass/; without either, the tests are skipped.
#include <Messages.h>
#include <Packet.h>

#include <QtTest>

#include <deque>

using namespace VantorCompiler::dartsass;

namespace {

// Far beyond the second or so a reply takes on a busy machine.
constexpr int ReplyTimeoutMs = 60000;

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

class TstDartSassRuntime : public QObject {
    Q_OBJECT

    QProcess sass_;
    PacketDecoder decoder_;
    std::deque<Packet> packets_;
    QString skipReason_;
    std::uint32_t compilationId_ = 0;

    void send(std::uint32_t compilationId, const std::string& message) {
        const std::string packet = encodePacket(compilationId, message);
        sass_.write(packet.data(), qint64(packet.size()));
    }

    // The next message from the compiler; its packet's compilation id in compilationId.
    bool receive(std::uint32_t& compilationId, OutboundMessage& message, QString& failure) {
        while (packets_.empty()) {
            if (!sass_.waitForReadyRead(ReplyTimeoutMs)) {
                failure = "no reply from Dart Sass: " + sass_.errorString() +
                          "; its stderr: " + QString::fromUtf8(sass_.readAllStandardError());
                return false;
            }
            const QByteArray chunk = sass_.readAllStandardOutput();
            std::vector<Packet> arrived;
            if (!decoder_.feed(chunk.constData(), std::size_t(chunk.size()), arrived)) {
                failure = text(decoder_.error());
                return false;
            }
            packets_.insert(packets_.end(), std::make_move_iterator(arrived.begin()),
                            std::make_move_iterator(arrived.end()));
        }
        Packet packet = std::move(packets_.front());
        packets_.pop_front();
        compilationId = packet.compilationId;
        std::string error;
        if (!decodeOutbound(packet.compilationId, packet.message, message, error)) {
            failure = text(error);
            return false;
        }
        return true;
    }

private slots:
    void initTestCase() {
        QString dir = qEnvironmentVariable("VANTOR_DART_SASS_DIR");
        if (dir.isEmpty())
            dir = DART_SASS_BUILD_DIR;
        const QString dart = dir + "/dart";
        const QString snapshot = dir + "/sass.snapshot";
        if (!QFileInfo(dart).isExecutable() || !QFileInfo::exists(snapshot)) {
            // A build that requires Dart Sass has it: there, its absence is a failure.
            QVERIFY2(!VANTOR_REQUIRE_DART_SASS, qPrintable("no Dart Sass runtime in " + dir));
            skipReason_ = "no Dart Sass runtime in " + dir +
                          " (set VANTOR_DART_SASS_DIR to a folder holding dart and sass.snapshot)";
            return;
        }
        sass_.start(dart, {snapshot, "--embedded"});
        QVERIFY2(sass_.waitForStarted(ReplyTimeoutMs), qPrintable(sass_.errorString()));
    }

    void version() {
        if (!skipReason_.isEmpty())
            QSKIP(qPrintable(skipReason_));
        send(0, versionRequest(1));
        std::uint32_t compilationId = 99;
        OutboundMessage message;
        QString failure;
        QVERIFY2(receive(compilationId, message, failure), qPrintable(failure));
        QCOMPARE(compilationId, 0u);
        const auto* version = std::get_if<VersionResponse>(&message);
        QVERIFY(version);
        QCOMPARE(version->id, 1u);
        QVERIFY2(text(version->protocolVersion).startsWith("3."), version->protocolVersion.c_str());
        QCOMPARE(text(version->compilerVersion), "1.108.2");
    }

    // What arrives for each conversion: its log events, then its CompileResponse, described.
    void compile_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("sourceMap");
        QTest::addColumn<QStringList>("logs");
        QTest::addColumn<QString>("css");
        QTest::addColumn<QString>("failure");

        QTest::newRow("expanded") << "a{b:c}" << int(OutputStyle::Expanded) << false << QStringList()
                                  << "a {\n  b: c;\n}" << QString();
        QTest::newRow("compressed") << "a{b:c}" << int(OutputStyle::Compressed) << false << QStringList() << "a{b:c}"
                                    << QString();
        QTest::newRow("with a source map")
            << "a{b:c}" << int(OutputStyle::Expanded) << true << QStringList() << "a {\n  b: c;\n}" << QString();
        QTest::newRow("a warning") << "@warn \"careful\";\na{b:c}" << int(OutputStyle::Expanded) << false
                                   << QStringList{"0 careful at no span"} << "a {\n  b: c;\n}" << QString();
        QTest::newRow("a deprecation") << "a{b:darken(#fff, 10%)}" << int(OutputStyle::Expanded) << false
                                       << QStringList{"1 global-builtin at 0:4", "1 color-functions at 0:4"}
                                       << "a {\n  b: rgb(90%, 90%, 90%);\n}" << QString();
        QTest::newRow("a syntax error") << "a{b:c" << int(OutputStyle::Expanded) << false << QStringList() << QString()
                                        << "expected end of rule. at 0:5-0:5 in file:///vantor/input.scss";
        QTest::newRow("an import nothing provides")
            << "@use \"nowhere\";" << int(OutputStyle::Expanded) << false << QStringList() << QString()
            << "Can't find stylesheet to import. at 0:0-0:14 in "
               "file:///vantor/input.scss";
    }
    void compile() {
        if (!skipReason_.isEmpty())
            QSKIP(qPrintable(skipReason_));
        QFETCH(QString, source);
        QFETCH(int, style);
        QFETCH(bool, sourceMap);
        QFETCH(QStringList, logs);
        QFETCH(QString, css);
        QFETCH(QString, failure);

        CompileOptions options;
        options.source = source.toStdString();
        options.url = "file:///vantor/input.scss";
        options.style = OutputStyle(style);
        options.sourceMap = sourceMap;
        const std::uint32_t id = ++compilationId_;
        send(id, compileRequest(options));

        QStringList logged;
        for (;;) {
            std::uint32_t compilationId = 0;
            OutboundMessage message;
            QString error;
            QVERIFY2(receive(compilationId, message, error), qPrintable(error));
            QCOMPARE(compilationId, id);
            if (const auto* log = std::get_if<LogEvent>(&message)) {
                // Deprecations by their id: their texts change between releases.
                const QString what = log->deprecationId ? text(*log->deprecationId) : text(log->message);
                logged << QString("%1 %2 at %3")
                              .arg(int(log->type))
                              .arg(what)
                              .arg(log->span ? QString("%1:%2").arg(log->span->start.line).arg(log->span->start.column)
                                             : QString("no span"));
                QVERIFY(!log->formatted.empty());
                continue;
            }
            if (const auto* request = std::get_if<CompilerRequest>(&message)) {
                send(id, declineRequest(*request));
                continue;
            }
            QCOMPARE(logged.join(" / "), logs.join(" / "));
            if (const auto* success = std::get_if<CompileSuccess>(&message)) {
                QVERIFY2(failure.isEmpty(), "the conversion succeeded");
                QCOMPARE(text(success->css), css);
                QCOMPARE(success->sourceMap.empty(), !sourceMap);
                if (sourceMap)
                    QVERIFY2(text(success->sourceMap).contains("\"sourcesContent\":[\"a{b:c}\"]"),
                             success->sourceMap.c_str());
            } else {
                const auto* f = std::get_if<CompileFailure>(&message);
                QVERIFY2(f, qPrintable("neither success nor failure but message kind " +
                                       QString::number(message.index())));
                QCOMPARE(QString("%1 at %2:%3-%4:%5 in %6")
                             .arg(text(f->message))
                             .arg(f->span.start.line)
                             .arg(f->span.start.column)
                             .arg(f->span.end.line)
                             .arg(f->span.end.column)
                             .arg(text(f->span.url)),
                         failure);
                QVERIFY(!f->formatted.empty());
            }
            break;
        }
    }

    // Closing its input ends the compiler, and its output ends between packets.
    void cleanEnd() {
        if (!skipReason_.isEmpty())
            QSKIP(qPrintable(skipReason_));
        sass_.closeWriteChannel();
        QVERIFY(sass_.waitForFinished(ReplyTimeoutMs));
        const QByteArray rest = sass_.readAllStandardOutput();
        std::vector<Packet> arrived;
        QVERIFY(decoder_.feed(rest.constData(), std::size_t(rest.size()), arrived));
        QVERIFY(arrived.empty());
        QVERIFY2(decoder_.finish(), decoder_.error().c_str());
        QCOMPARE(sass_.exitStatus(), QProcess::NormalExit);
    }

    void cleanupTestCase() {
        if (sass_.state() != QProcess::NotRunning) {
            sass_.kill();
            sass_.waitForFinished();
        }
    }
};

QTEST_GUILESS_MAIN(TstDartSassRuntime)
#include "tst_dartsassruntime.moc"
