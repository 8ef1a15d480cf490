#include "Packet.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace VantorCompiler {
namespace dartsass {

namespace {
constexpr std::uint64_t MaxReserved = std::uint64_t(1) << 20;
}

void appendVarint(std::string& out, std::uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

std::string encodePacket(std::uint32_t compilationId, std::string_view message) {
    std::string id;
    appendVarint(id, compilationId);
    std::string packet;
    packet.reserve(MaxVarintSize + id.size() + message.size());
    appendVarint(packet, id.size() + message.size());
    packet += id;
    packet.append(message.data(), message.size());
    return packet;
}

bool PacketDecoder::fail(std::string message) {
    error_ = std::move(message);
    return false;
}

bool PacketDecoder::takeVarintByte(unsigned char byte) {
    const char* what = stage_ == Stage::Length ? "length" : "compilation id";
    if (varintBytes_ == MaxVarintSize)
        return fail(std::string("broken packet: its ") + what + " is a varint of more than 10 bytes");
    // The tenth byte holds bit 63 alone.
    if (varintBytes_ == MaxVarintSize - 1 && (byte & 0x7F) > 1)
        return fail(std::string("broken packet: its ") + what + " does not fit in 64 bits");
    varint_ |= std::uint64_t(byte & 0x7F) << (7 * varintBytes_);
    ++varintBytes_;
    return !(byte & 0x80);
}

bool PacketDecoder::feed(const char* data, std::size_t size, std::vector<Packet>& packets) {
    if (failed())
        return false;
    const char* const end = data + size;
    while (data != end) {
        if (stage_ == Stage::Message) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, static_cast<std::uint64_t>(end - data)));
            packet_.message.append(data, n);
            data += n;
            remaining_ -= n;
        } else {
            const bool done = takeVarintByte(static_cast<unsigned char>(*data++));
            if (failed())
                return false;
            if (!done) {
                if (stage_ == Stage::CompilationId && varintBytes_ == remaining_)
                    return fail("broken packet: its compilation id runs past the packet's end, " +
                                std::to_string(length_) + (length_ == 1 ? " byte" : " bytes") + " after its length");
                continue;
            }
            if (stage_ == Stage::Length) {
                if (varint_ > MaxPacketLength)
                    return fail("broken packet: its length of " + std::to_string(varint_) +
                                " bytes is past the limit of " + std::to_string(MaxPacketLength) + " bytes");
                if (varint_ == 0)
                    return fail("broken packet: its length is 0, leaving no room for its compilation id");
                length_ = remaining_ = varint_;
                stage_ = Stage::CompilationId;
                // The message is built in one buffer, not grown chunk by chunk (a CSS reply
                // runs to hundreds of KB); what the length claims is trusted up to 1 MiB ahead of the bytes.
                packet_.message.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(length_, MaxReserved)));
            } else {
                if (varint_ > std::numeric_limits<std::uint32_t>::max())
                    return fail("broken packet: its compilation id " + std::to_string(varint_) +
                                " does not fit in 32 bits");
                packet_.compilationId = static_cast<std::uint32_t>(varint_);
                remaining_ -= varintBytes_;
                stage_ = Stage::Message;
            }
            varint_ = 0;
            varintBytes_ = 0;
        }
        if (stage_ == Stage::Message && remaining_ == 0) {
            packets.push_back(std::move(packet_));
            packet_ = Packet();
            stage_ = Stage::Length;
        }
    }
    return true;
}

bool PacketDecoder::finish() {
    if (failed())
        return false;
    switch (stage_) {
    case Stage::Length:
        if (varintBytes_ == 0)
            return true;
        return fail("truncated packet: the stream ended inside a packet's length");
    case Stage::CompilationId:
        return fail("truncated packet: the stream ended inside the compilation id of a packet of " +
                    std::to_string(length_) + " bytes");
    case Stage::Message:
        break;
    }
    return fail("truncated packet: the stream ended after " + std::to_string(length_ - remaining_) + " of its " +
                std::to_string(length_) + " bytes");
}

}  // namespace dartsass
}  // namespace VantorCompiler
