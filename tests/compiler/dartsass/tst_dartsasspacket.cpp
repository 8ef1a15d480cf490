// The Embedded Sass protocol's packets: varints, the encoder, and the incremental decoder over
// well-formed, bogus, oversized and truncated streams in every split.
#include <Packet.h>

#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <new>

using namespace VantorCompiler::dartsass;

// The largest single allocation while tracking is on: a decoder that reserves what a length
// claims shows here at once.
namespace {
std::atomic<bool> tracking{false};
std::atomic<std::size_t> largestAllocation{0};
}  // namespace

void* operator new(std::size_t size) {
    if (tracking.load(std::memory_order_relaxed) && size > largestAllocation.load(std::memory_order_relaxed))
        largestAllocation.store(size, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

QByteArray bytes(const std::string& s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}

QByteArray varint(quint64 value) {
    std::string out;
    appendVarint(out, value);
    return bytes(out);
}

// "id:message" per packet, the form the tables use.
QStringList describe(const std::vector<Packet>& packets) {
    QStringList out;
    for (const Packet& p : packets)
        out << QString::number(p.compilationId) + ":" + QString::fromLatin1(bytes(p.message));
    return out;
}

struct Outcome {
    QStringList packets;
    QString error;
};

// Feeds the chunks, then ends the stream.
Outcome decodeChunks(const QList<QByteArray>& chunks) {
    PacketDecoder decoder;
    std::vector<Packet> packets;
    for (const QByteArray& chunk : chunks)
        decoder.feed(chunk.constData(), std::size_t(chunk.size()), packets);
    decoder.finish();
    return {describe(packets), QString::fromStdString(decoder.error())};
}

}  // namespace

class TstDartSassPacket : public QObject {
    Q_OBJECT

private slots:
    void varints_data() {
        QTest::addColumn<quint64>("value");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("0") << quint64(0) << QByteArray::fromHex("00");
        QTest::newRow("127, the largest of one byte") << quint64(127) << QByteArray::fromHex("7f");
        QTest::newRow("128, the smallest of two") << quint64(128) << QByteArray::fromHex("8001");
        QTest::newRow("300") << quint64(300) << QByteArray::fromHex("ac02");
        QTest::newRow("32-bit top") << quint64(0xFFFFFFFFu) << QByteArray::fromHex("ffffffff0f");
        QTest::newRow("bit 63 alone") << (quint64(1) << 63) << QByteArray::fromHex("80808080808080808001");
        QTest::newRow("64-bit top") << ~quint64(0) << QByteArray::fromHex("ffffffffffffffffff01");
    }
    void varints() {
        QFETCH(quint64, value);
        QFETCH(QByteArray, encoded);
        QCOMPARE(varint(value), encoded);
    }

    void encode_data() {
        QTest::addColumn<quint32>("id");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("packet");
        QTest::newRow("version id, empty") << quint32(0) << QByteArray() << QByteArray::fromHex("0100");
        QTest::newRow("short") << quint32(1) << QByteArray("ab") << QByteArray::fromHex("03016162");
        // 1 id byte + 127 = 128: the length takes two bytes.
        QTest::newRow("length of two bytes")
            << quint32(7) << QByteArray(127, 'x') << QByteArray::fromHex("800107") + QByteArray(127, 'x');
        QTest::newRow("largest id") << quint32(0xFFFFFFFFu) << QByteArray("z")
                                    << QByteArray::fromHex("06ffffffff0f") + "z";
    }
    void encode() {
        QFETCH(quint32, id);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, packet);
        QCOMPARE(bytes(encodePacket(id, std::string_view(message.constData(), std::size_t(message.size())))), packet);
        QCOMPARE(decodeChunks({packet}).packets, QStringList{QString::number(id) + ":" + QString::fromLatin1(message)});
    }

    // Each stream decodes the same whole, split in two at every byte, and a byte at a time.
    void decode_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("packets");
        QTest::addColumn<QString>("error");

        const QByteArray x200(200, 'x');
        QTest::newRow("nothing") << QByteArray() << QStringList() << QString();
        QTest::newRow("one-byte length") << QByteArray::fromHex("0205") + "x" << QStringList{"5:x"} << QString();
        QTest::newRow("empty message") << QByteArray::fromHex("0100") << QStringList{"0:"} << QString();
        QTest::newRow("two packets in one chunk")
            << QByteArray::fromHex("030161620100") << QStringList{"1:ab", "0:"} << QString();
        QTest::newRow("two-byte length") << varint(201) + varint(9) + x200 << QStringList{"9:" + x200} << QString();
        QTest::newRow("largest compilation id")
            << QByteArray::fromHex("05ffffffff0f") << QStringList{"4294967295:"} << QString();
        // Protobuf's varints may carry zero groups on top; both varints here do.
        QTest::newRow("padded varints") << QByteArray::fromHex("838080808080808080008500") + "b" << QStringList{"5:b"}
                                        << QString();

        QTest::newRow("length of 11 bytes") << QByteArray::fromHex("8080808080808080808000") << QStringList()
                                            << "broken packet: its length is a varint of more than 10 bytes";
        QTest::newRow("length past 64 bits") << QByteArray::fromHex("ffffffffffffffffff02") << QStringList()
                                             << "broken packet: its length does not fit in 64 bits";
        QTest::newRow("largest 64-bit length") << varint(~quint64(0)) + "abc" << QStringList()
                                               << "broken packet: its length of 18446744073709551615 bytes is past "
                                                  "the limit of 1073741824 bytes";
        QTest::newRow("length one past the limit")
            << varint(MaxPacketLength + 1) << QStringList()
            << "broken packet: its length of 1073741825 bytes is past the limit of 1073741824 bytes";
        QTest::newRow("length at the limit, then the end")
            << varint(MaxPacketLength) + varint(3) + "abc" << QStringList()
            << "truncated packet: the stream ended after 4 of its 1073741824 bytes";
        QTest::newRow("zero length") << QByteArray::fromHex("00") << QStringList()
                                     << "broken packet: its length is 0, leaving no room for its compilation id";
        QTest::newRow("compilation id past 32 bits") << varint(5) + varint(quint64(1) << 32) << QStringList()
                                                     << "broken packet: its compilation id 4294967296 does not fit "
                                                        "in 32 bits";
        QTest::newRow("compilation id past the length") << QByteArray::fromHex("0180010000") << QStringList()
                                                        << "broken packet: its compilation id runs past the packet's "
                                                           "end, 1 byte after its length";
        QTest::newRow("compilation id of 11 bytes")
            << varint(20) + QByteArray::fromHex("8080808080808080808001") << QStringList()
            << "broken packet: its compilation id is a varint of more "
               "than 10 bytes";
        QTest::newRow("good packet, then a broken one")
            << QByteArray::fromHex("0201") + "a" + QByteArray::fromHex("00") << QStringList{"1:a"}
            << "broken packet: its length is 0, leaving no room for its "
               "compilation id";

        QTest::newRow("truncated in the length")
            << QByteArray::fromHex("0201") + "a" + QByteArray::fromHex("80") << QStringList{"1:a"}
            << "truncated packet: the stream ended inside a packet's length";
        QTest::newRow("truncated in the compilation id")
            << QByteArray::fromHex("0380") << QStringList()
            << "truncated packet: the stream ended inside the compilation id of a packet of 3 bytes";
        QTest::newRow("truncated in the message") << QByteArray::fromHex("030161") << QStringList()
                                                  << "truncated packet: the stream ended after 2 of its 3 bytes";
    }
    void decode() {
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, packets);
        QFETCH(QString, error);

        const Outcome whole = decodeChunks(QList<QByteArray>{stream});
        QCOMPARE(whole.packets, packets);
        QCOMPARE(whole.error, error);
        for (qsizetype at = 1; at < stream.size(); ++at) {
            const Outcome split = decodeChunks({stream.left(at), stream.mid(at)});
            QVERIFY2(split.packets == packets && split.error == error, qPrintable(QString("split at %1").arg(at)));
        }
        QList<QByteArray> single;
        for (char c : stream)
            single << QByteArray(1, c);
        const Outcome bytewise = decodeChunks(single);
        QCOMPARE(bytewise.packets, packets);
        QCOMPARE(bytewise.error, error);
    }

    // A broken stream stays broken: later bytes, even a good packet, yield nothing.
    void staysBroken() {
        PacketDecoder decoder;
        std::vector<Packet> packets;
        QVERIFY(!decoder.feed("\0", 1, packets));
        QVERIFY(
            !decoder.feed("\x02\x01"
                          "a",
                          3, packets));
        QVERIFY(packets.empty());
        QVERIFY(!decoder.finish());
        QVERIFY(decoder.failed());
    }

    // What a length claims is not allocated ahead of the bytes: a 1 GiB claim followed by a
    // trickle allocates about the trickle, and a message in chunks arrives whole.
    void growsWithWhatArrived() {
        PacketDecoder decoder;
        std::vector<Packet> packets;
        const QByteArray header = varint(MaxPacketLength) + varint(2);
        const QByteArray chunk(64 * 1024, 'c');
        largestAllocation = 0;
        tracking = true;
        decoder.feed(header.constData(), std::size_t(header.size()), packets);
        for (int i = 0; i < 16; ++i)
            decoder.feed(chunk.constData(), std::size_t(chunk.size()), packets);
        tracking = false;
        QVERIFY(packets.empty());
        QVERIFY2(largestAllocation <= std::size_t(4 * 16 * chunk.size()),
                 qPrintable(QString("largest allocation %1 bytes for 1 MiB received").arg(largestAllocation.load())));
        QVERIFY(!decoder.finish());
        QCOMPARE(QString::fromStdString(decoder.error()),
                 "truncated packet: the stream ended after 1048577 of its 1073741824 bytes");

        const std::string message(300000, 'm');
        const std::string packet = encodePacket(3, message);
        PacketDecoder whole;
        for (std::size_t at = 0; at < packet.size(); at += 4096)
            whole.feed(packet.data() + at, std::min<std::size_t>(4096, packet.size() - at), packets);
        QVERIFY(whole.finish());
        QCOMPARE(packets.size(), std::size_t(1));
        QCOMPARE(packets[0].compilationId, 3u);
        QVERIFY(packets[0].message == message);
    }
};

QTEST_APPLESS_MAIN(TstDartSassPacket)
#include "tst_dartsasspacket.moc"
