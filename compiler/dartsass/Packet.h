// The Embedded Sass protocol's packets on a byte stream (Dart Sass's standard input and output).
//
// A packet is varint(length of the rest), varint(compilation id), then the rest: one protobuf
// message. Varints are protobuf's: 7 bits a byte, least significant group first, the top bit set
// on every byte but the last. Compilation id 0 carries the version request and its response.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace VantorCompiler {
namespace dartsass {

// 64 bits in groups of 7.
constexpr std::size_t MaxVarintSize = 10;
// Largest length accepted (compilation id and message together). A compiled stylesheet with its
// source map and sources stays within tens of megabytes; 1 GiB leaves room for anything real,
// stays below the 2 GiB protobuf parses at most, and bounds what a broken stream can make the
// host buffer while its bytes arrive.
constexpr std::uint64_t MaxPacketLength = std::uint64_t(1) << 30;

struct Packet {
    std::uint32_t compilationId = 0;
    std::string message;
};

// Appends value as a varint of 1 to MaxVarintSize bytes.
void appendVarint(std::string& out, std::uint64_t value);

// One whole packet: both varints, then message.
std::string encodePacket(std::uint32_t compilationId, std::string_view message);

// Splits a byte stream into packets, whatever the chunks it arrives in. The bytes of a message
// are kept as they arrive, never reserved from the length ahead of them, and a length past
// MaxPacketLength is refused before any of its message is kept.
class PacketDecoder {
public:
    // Consumes all of data, appending each packet it completes to packets. False once the stream
    // is broken (now or before): then error() says why, and nothing more is read.
    bool feed(const char* data, std::size_t size, std::vector<Packet>& packets);
    // The stream has ended. False if it ended inside a packet, or was broken before.
    bool finish();

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

private:
    enum class Stage { Length, CompilationId, Message };

    // Takes one byte of the varint under way; true when that byte ends it.
    bool takeVarintByte(unsigned char byte);
    bool fail(std::string message);

    Stage stage_ = Stage::Length;
    // The varint under way.
    std::uint64_t varint_ = 0;
    std::size_t varintBytes_ = 0;
    // Bytes of the current packet still to come after its length.
    std::uint64_t remaining_ = 0;
    std::uint64_t length_ = 0;
    Packet packet_;
    std::string error_;
};

}  // namespace dartsass
}  // namespace VantorCompiler
