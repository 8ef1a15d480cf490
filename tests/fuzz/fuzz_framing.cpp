// libFuzzer target for the messages between the library and its worker.
//
// The first byte picks the decoder (even: response, odd: request); the rest
// is a payload. Decoding must never read out of bounds, and whatever decodes
// must encode back to exactly the same bytes: the encoding is canonical, so a
// decoder that accepts more or less than the encoder writes is a fault.
#include "libsass/Framing.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

using namespace VantorCompiler::framing;

namespace {

void require(bool condition) {
    if (!condition)
        __builtin_trap();
}

void requireSameFrame(const std::string& frame, const std::uint8_t* payload, std::size_t size) {
    require(frame.size() == HeaderSize + size);
    require(payloadLength(reinterpret_cast<const unsigned char*>(frame.data())) == size);
    require(std::memcmp(frame.data() + HeaderSize, payload, size) == 0);
}

bool hasNul(const std::optional<std::string>& s) { return s && s->find('\0') != std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const bool request = data[0] & 1;
    ++data;
    --size;
    if (request) {
        Request r;
        if (decodeRequest(data, size, r))
            requireSameFrame(encodeRequest(r), data, size);
    } else {
        Response r;
        // Responses carry C strings, so only NUL-free texts can round-trip;
        // warning texts are counted strings and may hold anything.
        if (decodeResponse(data, size, r) && !hasNul(r.css) && !hasNul(r.error) && !hasNul(r.error_file)) {
            require(r.warnings.size() <= MaxWarnings);
            requireSameFrame(encodeResponse(r.css ? r.css->c_str() : nullptr, r.error ? r.error->c_str() : nullptr,
                                            r.error_line, r.error_column,
                                            r.error_file ? r.error_file->c_str() : nullptr, r.warnings,
                                            r.error_file_line, r.error_file_column),
                             data, size);
        }
    }
    return 0;
}
