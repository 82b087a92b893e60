// How results leave the tool: human-readable text on stdout, or one JSON
// document (--json). Failures go to stderr as text, or into the JSON
// document, with the library's status number and message and a plain
// explanation of what to try next.
#pragma once

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace tool {

using Json = nlohmann::ordered_json;

class Output {
 public:
  bool json = false;
  std::FILE* out = stdout;
  std::FILE* err = stderr;

  // Prints a command's result: in text mode one "name: value" line per
  // field (arrays and objects indented below their name); in JSON mode the
  // object itself.
  void Result(const Json& result) const;
  // A line of text for people; nothing in JSON mode.
  void Note(const std::string& line) const;
  // A failure of the library for one port.
  void Failure(const std::string& port, int32_t status, const std::string& message,
               const std::string& explanation) const;
  // A usage or file problem of the tool itself.
  void Error(const std::string& message) const;
};

// The JSON form of a failure, as it appears inside results.
Json FailureJson(int32_t status, const std::string& message, const std::string& explanation);

// The library's texts are Windows-1252 bytes (its French messages, a
// module's record texts); the tool writes UTF-8, which JSON requires.
std::string FromCp1252(std::string_view text);
// A JSON document as text; a string that is not UTF-8 (never made by the
// tool itself) is written with replacement characters, never thrown on.
std::string Dump(const Json& value, int indent = -1);

// Lower-case hexadecimal of bytes, with no separators.
std::string Hex(const uint8_t* bytes, size_t count);

}  // namespace tool
