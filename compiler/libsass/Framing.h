// The messages between Vantor.Compiler and vantor-compiler-worker.
//
// Every message is one frame: a 4-byte little-endian payload length, then the
// payload. Integers in a payload are 4-byte little-endian; a string is a 4-byte
// length followed by that many bytes, with the length NullString standing for
// a null string (so null and "" stay distinct).
//
//   request:  i32 output_style, u8 source_map_embed, i32 indent_type,
//             i32 indent_width, string input
//   response: string css, string error, u32 error_line, u32 error_column,
//             string error_file, u32 error_file_line, u32 error_file_column,
//             u32 warning count, then per warning:
//             string text (never null), u32 line, u32 column
//
// Compiled into both the library and the worker; nothing here is exported.
#pragma once

#include "core/Warning.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace VantorCompiler {
namespace framing {

constexpr std::uint32_t NullString = 0xFFFFFFFFu;
constexpr std::size_t HeaderSize = 4;
// Largest payload either side accepts; a longer announced length is a broken peer.
constexpr std::uint32_t MaxPayload = 1u << 30;
// Most warnings one response carries: the kept ones and a last "… and N more".
constexpr std::uint32_t MaxWarnings = 101;

struct Request {
    std::int32_t output_style = 0;
    bool source_map_embed = false;
    std::int32_t indent_type = 0;
    std::int32_t indent_width = 0;
    std::optional<std::string> input;
};

using Warning = VantorCompiler::Warning;

struct Response {
    std::optional<std::string> css;
    std::optional<std::string> error;
    std::uint32_t error_line = 0;
    std::uint32_t error_column = 0;
    // The file of the error when it is not the converted text.
    std::optional<std::string> error_file;
    // The error's place inside error_file, 0 when unknown.
    std::uint32_t error_file_line = 0;
    std::uint32_t error_file_column = 0;
    std::vector<Warning> warnings;
};

// Whole frames, header included.
std::string encodeRequest(const Request& request);
// The text pointers may be null. Saves building std::strings on the worker side.
// At most MaxWarnings warnings are written; the caller keeps within that.
std::string encodeResponse(const char* css, const char* error, std::uint32_t line, std::uint32_t column,
                           const char* errorFile = nullptr, const std::vector<Warning>& warnings = {},
                           std::uint32_t fileLine = 0, std::uint32_t fileColumn = 0);

// The payload length announced by a header of HeaderSize bytes.
std::uint32_t payloadLength(const unsigned char* header);

// Payload only (without the header). False for any payload that is not exactly
// one well-formed message.
bool decodeRequest(const unsigned char* data, std::size_t size, Request& request);
bool decodeResponse(const unsigned char* data, std::size_t size, Response& response);

}  // namespace framing
}  // namespace VantorCompiler
