#include "Vlq.h"

namespace VantorCompiler::dartsass {

namespace {

constexpr char Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned ContinuationBit = 32;

int digitValue(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

}  // namespace

void appendVlq(std::string& out, std::int64_t value) {
    // The sign goes into the lowest bit, then five bits per digit, lowest first.
    std::uint64_t rest = value < 0 ? ((~std::uint64_t(value) + 1) << 1) | 1 : std::uint64_t(value) << 1;
    do {
        unsigned digit = unsigned(rest & 31);
        rest >>= 5;
        if (rest != 0)
            digit |= ContinuationBit;
        out += Digits[digit];
    } while (rest != 0);
}

bool readVlq(std::string_view text, std::size_t& pos, std::int64_t& value) {
    // Seven digits carry 35 bits, enough for a sign and a 32-bit magnitude; a longer run is
    // refused before its bits could overflow.
    std::uint64_t bits = 0;
    for (unsigned shift = 0; shift < 35; shift += 5) {
        if (pos >= text.size())
            return false;
        const int digit = digitValue(text[pos]);
        if (digit < 0)
            return false;
        ++pos;
        bits |= std::uint64_t(digit & 31) << shift;
        if ((digit & ContinuationBit) == 0) {
            const std::int64_t magnitude = std::int64_t(bits >> 1);
            if (magnitude > MaxVlqMagnitude) {
                --pos;
                return false;
            }
            value = bits & 1 ? -magnitude : magnitude;
            return true;
        }
    }
    return false;
}

}  // namespace VantorCompiler::dartsass
