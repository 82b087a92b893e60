// Profile-string lookup over a plain INI file.
//
// Why a parser of our own rather than a library such as libinih: the
// configuration files in the field are written for the Windows profile
// reader, and libinih reads some of them differently. It cuts a value at an
// inline ';' comment, while our values may contain ';'; it takes an indented
// line as the continuation of the previous value, while our files indent keys
// freely; and it limits the length of a line. The reader below follows the
// Windows rules that these files rely on and nothing more.
#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

namespace tavo::platform {
namespace {

std::string Cut(std::string_view text) { return std::string(text.substr(0, kProfileValueMax)); }

// The value part of a key line: up to a NUL byte, blanks around it removed,
// then one pair of surrounding quotes removed.
std::string_view CleanValue(std::string_view raw) {
  raw = raw.substr(0, raw.find('\0'));
  raw = TrimBlanks(raw);
  if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front()) {
    raw = raw.substr(1, raw.size() - 2);
  }
  return raw;
}

// Follows the file line by line and tells when the answer is known.
class Lookup {
 public:
  Lookup(std::string_view section, std::string_view key) : section_(section), key_(key) {}

  // Takes one line without its LF. Returns true when the search is over.
  bool OnLine(std::string_view line) {
    if (firstLine_) {
      firstLine_ = false;
      // A UTF-8 byte-order mark, as some editors write it, is not part of the text.
      constexpr std::string_view kBom = "\xEF\xBB\xBF";
      if (line.substr(0, kBom.size()) == kBom) {
        line.remove_prefix(kBom.size());
      }
    }
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    line = TrimBlanks(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') {
      return false;
    }

    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close == std::string_view::npos) {
        return false;  // not a section header
      }
      // Only the first section of the name counts: leaving it ends the search.
      if (inSection_) {
        return true;
      }
      inSection_ = EqualsIgnoreCase(TrimBlanks(line.substr(1, close - 1)), section_);
      return false;
    }
    if (!inSection_) {
      return false;
    }

    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      return false;
    }
    if (!EqualsIgnoreCase(TrimBlanks(line.substr(0, equals)), key_)) {
      return false;
    }
    value_ = Cut(CleanValue(line.substr(equals + 1)));
    return true;
  }

  std::optional<std::string>& Value() { return value_; }

 private:
  std::string_view section_;
  std::string_view key_;
  bool firstLine_ = true;
  bool inSection_ = false;
  std::optional<std::string> value_;
};

class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) {
      return;
    }
    // Non-blocking, so that a FIFO at the path cannot stall the caller; only
    // a regular file is read.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
      return;
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~ReadOnlyFile() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }

  // Bytes read into buffer, 0 at the end of the file, -1 on a read error.
  ssize_t Read(char* buffer, std::size_t size) {
    for (;;) {
      const ssize_t count = ::read(fd_, buffer, size);
      if (count >= 0 || errno != EINTR) {
        return count;
      }
    }
  }

 private:
  int fd_ = -1;
};

// Runs the lookup over the whole file; nullopt when the key is not there or
// the file cannot be read.
std::optional<std::string> Search(const std::string& path, std::string_view section,
                                  std::string_view key) {
  ReadOnlyFile file(path);
  if (!file.IsOpen()) {
    return std::nullopt;
  }

  Lookup lookup(section, key);
  std::string pending;  // the start of a line that runs past the buffer
  char buffer[8192];
  for (;;) {
    const ssize_t count = file.Read(buffer, sizeof buffer);
    if (count < 0) {
      return std::nullopt;
    }
    if (count == 0) {
      break;
    }
    std::string_view chunk(buffer, static_cast<std::size_t>(count));
    while (!chunk.empty()) {
      const std::size_t newline = chunk.find('\n');
      if (newline == std::string_view::npos) {
        pending.append(chunk);
        break;
      }
      bool done = false;
      if (pending.empty()) {
        done = lookup.OnLine(chunk.substr(0, newline));
      } else {
        pending.append(chunk.substr(0, newline));
        done = lookup.OnLine(pending);
        pending.clear();
      }
      chunk.remove_prefix(newline + 1);
      if (done) {
        return std::move(lookup.Value());
      }
    }
  }
  if (!pending.empty()) {
    lookup.OnLine(pending);  // a last line without LF
  }
  return std::move(lookup.Value());
}

}  // namespace

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue) {
  std::optional<std::string> value = Search(path, section, key);
  return value ? std::move(*value) : Cut(defaultValue);
}

}  // namespace tavo::platform
