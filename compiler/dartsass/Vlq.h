// Base64 VLQ, the number encoding of a version 3 source map's "mappings".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace VantorCompiler::dartsass {

// Largest magnitude a mapping field may hold: source map readers keep fields in 32-bit integers.
inline constexpr std::int64_t MaxVlqMagnitude = 0x7fffffff;

// Appends value, whose magnitude is under 2^62, to out as base64 VLQ digits.
void appendVlq(std::string& out, std::int64_t value);

// Reads the one value whose digits start at text[pos] and moves pos past them. False, with pos
// at the offending byte, when a byte is no base64 digit, the text ends inside the value, or
// its magnitude is over MaxVlqMagnitude.
bool readVlq(std::string_view text, std::size_t& pos, std::int64_t& value);

}  // namespace VantorCompiler::dartsass
