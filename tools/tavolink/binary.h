// Bytes as the data commands exchange them with a person and with files:
// binary files read and written whole, hex text parsed, and hex dumps of
// sections and records.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tavolink/context.h"
#include "tavolink/gateway.h"

namespace tool {

// A problem with a file or a value of the tool's own (not the library's):
// the command ends with exit code 2 and the message.
struct UsageProblem : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The whole file; throws UsageProblem when it cannot be read or holds more
// than maxBytes.
Bytes ReadBinaryFile(const std::string& path, size_t maxBytes);
// Writes bytes as the whole file; throws UsageProblem on failure.
void WriteBinaryFile(const std::string& path, const Bytes& bytes);

// Hex digits (blanks between bytes allowed) as bytes; false for an odd
// number of digits or another character.
bool ParseHexBytes(const std::string& text, Bytes& out);
// A number written in decimal or with 0x in hexadecimal, up to max.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t& out);

// A fixed-width text field of a record, up to its first zero byte.
std::string FieldText(const char* text, size_t width);

// 16 bytes a line: "0000: 01 02 .. 0f  ascii" with offsets in hexadecimal.
std::vector<std::string> DumpLines(const Bytes& bytes);

// Runs a command's work and turns a UsageProblem it throws into the message
// and exit code 2. Returns the exit code.
int Guarded(Context& ctx, const std::function<int()>& work);

// Shows bytes with a result: in JSON as "hex" inside it; in text as a dump
// after it (ShowDump, once the result is printed).
void AddHex(const Context& ctx, Json& result, const Bytes& bytes);
void ShowDump(const Context& ctx, const Bytes& bytes);

}  // namespace tool
