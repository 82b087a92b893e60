#include "tavolink/output.h"

namespace tool {
namespace {

std::string Plain(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  return value.dump();
}

void PrintField(std::FILE* out, const std::string& indent, const std::string& name,
                const Json& value) {
  if (value.is_object()) {
    std::fprintf(out, "%s%s:\n", indent.c_str(), name.c_str());
    for (const auto& [key, inner] : value.items()) PrintField(out, indent + "  ", key, inner);
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
    std::fprintf(out, "%s\n", result.dump(2).c_str());
  } else if (result.is_object()) {
    for (const auto& [key, value] : result.items()) PrintField(out, "", key, value);
  } else {
    std::fprintf(out, "%s\n", Plain(result).c_str());
  }
  std::fflush(out);
}

void Output::Note(const std::string& line) const {
  if (json) return;
  std::fprintf(out, "%s\n", line.c_str());
  std::fflush(out);
}

Json FailureJson(int32_t status, const std::string& message, const std::string& explanation) {
  Json failure = {{"ok", false}, {"status", status}, {"message", message}};
  if (!explanation.empty()) failure["explanation"] = explanation;
  return failure;
}

void Output::Failure(const std::string& port, int32_t status, const std::string& message,
                     const std::string& explanation) const {
  if (json) {
    Json failure = {{"port", port}};
    failure.update(FailureJson(status, message, explanation));
    std::fprintf(out, "%s\n", failure.dump(2).c_str());
    std::fflush(out);
    return;
  }
  std::fprintf(err, "tavolink: %s: status %d: %s\n", port.c_str(), status, message.c_str());
  if (!explanation.empty()) std::fprintf(err, "  %s\n", explanation.c_str());
}

void Output::Error(const std::string& message) const {
  if (json) {
    std::fprintf(out, "%s\n", Json{{"ok", false}, {"error", message}}.dump(2).c_str());
    std::fflush(out);
    return;
  }
  std::fprintf(err, "tavolink: %s\n", message.c_str());
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
