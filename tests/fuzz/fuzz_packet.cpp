// libFuzzer target for the Embedded Sass protocol's packet decoder.
//
// The first byte seeds the chunk sizes; the rest is a stream. Fed in those chunks, the stream
// must give the same packets and the same error as fed whole: a decoder that keeps the wrong
// state across chunks differs here. Every packet it yields must encode back and decode to itself.
#include "Packet.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using namespace VantorCompiler::dartsass;

namespace {

void require(bool condition) {
    if (!condition)
        __builtin_trap();
}

struct Outcome {
    std::vector<Packet> packets;
    bool ended = false;
    std::string error;
};

bool same(const std::vector<Packet>& a, const std::vector<Packet>& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].compilationId != b[i].compilationId || a[i].message != b[i].message)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::uint32_t seed = data[0] | 1u;
    const char* stream = reinterpret_cast<const char*>(data + 1);
    --size;

    Outcome whole;
    {
        PacketDecoder decoder;
        decoder.feed(stream, size, whole.packets);
        whole.ended = decoder.finish();
        whole.error = decoder.error();
        require(whole.ended == whole.error.empty());
    }

    Outcome chunked;
    {
        PacketDecoder decoder;
        std::size_t at = 0;
        while (at < size) {
            seed = seed * 1103515245u + 12345u;
            // Mostly short chunks, where the stages meet, now and then a long one.
            std::size_t n = (seed >> 16) % 8 == 0 ? (seed >> 8) % 4096 : (seed >> 16) % 5;
            if (n > size - at)
                n = size - at;
            const bool ok = decoder.feed(stream + at, n, chunked.packets);
            require(ok == !decoder.failed());
            at += n;
        }
        chunked.ended = decoder.finish();
        chunked.error = decoder.error();
    }
    require(same(whole.packets, chunked.packets));
    require(whole.error == chunked.error);

    for (const Packet& packet : whole.packets) {
        require(packet.message.size() < MaxPacketLength);
        const std::string encoded = encodePacket(packet.compilationId, packet.message);
        std::vector<Packet> again;
        PacketDecoder decoder;
        require(decoder.feed(encoded.data(), encoded.size(), again));
        require(decoder.finish());
        require(again.size() == 1 && again[0].compilationId == packet.compilationId &&
                again[0].message == packet.message);
    }
    return 0;
}
