#include "tavolink/output.h"

namespace tool {
namespace {

std::string Plain(const Json& value) {
  if (value.is_string()) {
    return value.get<std::string>();
  }
  return Dump(value);
}

void PrintField(std::FILE* out, const std::string& indent, const std::string& name,
                const Json& value) {
  if (value.is_object()) {
    std::fprintf(out, "%s%s:\n", indent.c_str(), name.c_str());
    for (const auto& [key, inner] : value.items()) {
      PrintField(out, indent + "  ", key, inner);
    }
  } else if (value.is_array()) {
    std::fprintf(out, "%s%s:\n", indent.c_str(), name.c_str());
    for (const Json& item : value) {
      if (item.is_object()) {
        std::string line;
        for (const auto& [key, inner] : item.items()) {
          line += (line.empty() ? "" : "  ") + key + "=" + Plain(inner);
        }
        std::fprintf(out, "%s  - %s\n", indent.c_str(), line.c_str());
      } else {
        std::fprintf(out, "%s  - %s\n", indent.c_str(), Plain(item).c_str());
      }
    }
  } else {
    std::fprintf(out, "%s%-16s %s\n", indent.c_str(), (name + ":").c_str(), Plain(value).c_str());
  }
}

}  // namespace

void Output::Result(const Json& result) const {
  if (json) {
    std::fprintf(out, "%s\n", Dump(result, 2).c_str());
  } else if (result.is_object()) {
    for (const auto& [key, value] : result.items()) {
      PrintField(out, "", key, value);
    }
  } else {
    std::fprintf(out, "%s\n", Plain(result).c_str());
  }
  std::fflush(out);
}

void Output::Note(const std::string& line) const {
  if (json) {
    return;
  }
  std::fprintf(out, "%s\n", line.c_str());
  std::fflush(out);
}

Json FailureJson(int32_t status, const std::string& message, const std::string& explanation) {
  Json failure = {{"ok", false}, {"status", status}, {"message", message}};
  if (!explanation.empty()) {
    failure["explanation"] = explanation;
  }
  return failure;
}

void Output::Failure(const std::string& port, int32_t status, const std::string& message,
                     const std::string& explanation) const {
  if (json) {
    Json failure = {{"port", port}};
    failure.update(FailureJson(status, message, explanation));
    std::fprintf(out, "%s\n", Dump(failure, 2).c_str());
    std::fflush(out);
    return;
  }
  std::fprintf(err, "tavolink: %s: status %d: %s\n", port.c_str(), status, message.c_str());
  if (!explanation.empty()) {
    std::fprintf(err, "  %s\n", explanation.c_str());
  }
}

void Output::Error(const std::string& message) const {
  if (json) {
    std::fprintf(out, "%s\n", Dump(Json{{"ok", false}, {"error", message}}, 2).c_str());
    std::fflush(out);
    return;
  }
  std::fprintf(err, "tavolink: %s\n", message.c_str());
}

std::string FromCp1252(std::string_view text) {
  // 0x80 to 0x9F: the characters Windows-1252 puts where Latin-1 has
  // control codes (0 where it has none); above 0x9F it is Latin-1.
  static const char16_t kHigh[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::string utf8;
  utf8.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    char32_t code = byte;
    if (byte >= 0x80 && byte < 0xA0) {
      code = kHigh[byte - 0x80] != 0 ? kHigh[byte - 0x80] : 0xFFFD;
    }
    if (code < 0x80) {
      utf8 += static_cast<char>(code);
    } else if (code < 0x800) {
      utf8 += static_cast<char>(0xC0 | (code >> 6));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      utf8 += static_cast<char>(0xE0 | (code >> 12));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return utf8;
}

std::string Dump(const Json& value, int indent) {
  return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

std::string Hex(const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

}  // namespace tool
