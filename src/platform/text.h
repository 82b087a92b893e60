// Small text helpers shared by the configuration reader, the module data code
// and the detection's speed list: one definition of each rule.
#pragma once

#include <cstdint>
#include <string_view>

namespace tavo::platform {

// A blank inside a configuration line: space or tab.
constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// White space as the C library's number conversions skip it.
constexpr bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// ASCII letters compared without regard to case, as the INI names are.
constexpr char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// The text without the blanks at either end.
std::string_view TrimBlanks(std::string_view text);

// The value of a hexadecimal digit (either case), or -1 for any other character.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// The C atoi rule without its undefined overflow: leading white space, an
// optional sign, then decimal digits; 0 without digits. Numbers beyond the
// int32 range are held at its limits.
int32_t ParseDecimal(std::string_view text);

}  // namespace tavo::platform
