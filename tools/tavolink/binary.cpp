#include "tavolink/binary.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace tool {

Bytes ReadBinaryFile(const std::string& path, size_t maxBytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw UsageProblem(path + ": cannot be read");
  }
  Bytes bytes;
  char buffer[4096];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
    bytes.insert(bytes.end(), buffer, buffer + file.gcount());
    if (bytes.size() > maxBytes) {
      throw UsageProblem(path + ": more than " + std::to_string(maxBytes) + " bytes");
    }
  }
  if (file.bad()) {
    throw UsageProblem(path + ": cannot be read");
  }
  return bytes;
}

void WriteBinaryFile(const std::string& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    throw UsageProblem(path + ": cannot be written");
  }
}

bool ParseHexBytes(const std::string& text, Bytes& out) {
  out.clear();
  int high = -1;
  for (const char c : text) {
    if (c == ' ') {
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      return false;
    }
    const int digit = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    if (high < 0) {
      high = digit;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  return high < 0;
}

bool ParseNumber(const std::string& text, uint64_t max, uint64_t& out) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 16) {
    return false;
  }
  out = 0;
  for (const char c : digits) {
    const auto u = static_cast<unsigned char>(c);
    if (hex ? !std::isxdigit(u) : !std::isdigit(u)) {
      return false;
    }
    const uint64_t digit = std::isdigit(u) ? u - '0' : std::tolower(u) - 'a' + 10;
    out = out * (hex ? 16 : 10) + digit;
    if (out > max) {
      return false;
    }
  }
  return true;
}

std::string FieldText(const char* text, size_t width) {
  const std::string s(text, width);
  return FromCp1252(s.substr(0, s.find('\0')));
}

std::vector<std::string> DumpLines(const Bytes& bytes) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < bytes.size(); at += 16) {
    char text[24];
    std::snprintf(text, sizeof text, "%04zx:", at);
    std::string line = text;
    std::string ascii;
    for (size_t i = at; i < at + 16; ++i) {
      if (i < bytes.size()) {
        std::snprintf(text, sizeof text, " %02x", bytes[i]);
        line += text;
        ascii += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
      } else {
        line += "   ";
      }
    }
    line += "  ";
    line += ascii;
    lines.push_back(line);
  }
  return lines;
}

int Guarded(Context& ctx, const std::function<int()>& work) {
  try {
    return work();
  } catch (const UsageProblem& problem) {
    ctx.out.Error(problem.what());
    return 2;
  }
}

void AddHex(const Context& ctx, Json& result, const Bytes& bytes) {
  if (ctx.out.json) {
    result["hex"] = Hex(bytes.data(), bytes.size());
  }
}

void ShowDump(const Context& ctx, const Bytes& bytes) {
  for (const std::string& line : DumpLines(bytes)) {
    ctx.out.Note(line);
  }
}

}  // namespace tool
