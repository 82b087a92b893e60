// Searching one backup directory by name, renaming what a search finds, and
// the local time text of backup names.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <utility>

#include "platform/file_paths.h"
#include "platform/files.h"
#include "platform/text.h"

namespace tavo::platform {
namespace {

// A plain file: a regular file, or a link to one. Devices, pipes and sockets
// are no backups, and opening a pipe would block the caller.
bool IsPlainFile(DIR* dir, const dirent& entry) {
  if (entry.d_type == DT_REG) {
    return true;
  }
  if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK) {
    return false;
  }
  // Some file systems do not fill d_type; links are followed to their file.
  struct stat st {};
  return ::fstatat(::dirfd(dir), entry.d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (path.empty() || path.back() != '/') {
    path += '/';
  }
  path += name;
  return path;
}

bool HasNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

// The classic two-pointer matcher: on a mismatch it goes back to the last
// '*' and lets it take one more character. Earlier stars never need to be
// revisited, since the last one can absorb anything they could, so the
// time stays within pattern length times name length even for patterns
// like "*a*a*a*b" that make a recursive matcher explode.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  size_t p = 0;
  size_t n = 0;
  size_t star = std::string_view::npos;
  size_t starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      starName = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || AsciiLower(pattern[p]) == AsciiLower(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') {
    ++p;
  }
  return p == pattern.size();
}

NameFilter WildcardFilter(std::string_view pattern) {
  return [pattern = std::string(pattern)](std::string_view name) {
    return WildcardMatch(pattern, name);
  };
}

bool BuildFilePath(std::string& pathOut, std::string_view directory, std::string_view fileName) {
  if (directory.empty() || HasNul(directory)) {
    return false;
  }
  std::string base(directory);
  if (base.size() > 1 && base.back() == '/') {
    base.pop_back();
  }
  struct stat st {};
  if (::stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return false;
  }
  pathOut = JoinPath(base, fileName);
  return true;
}

std::vector<std::string> ListMatches(std::string_view directory, const NameFilter& filter) {
  std::vector<std::string> names;
  if (!filter || directory.empty() || HasNul(directory)) {
    return names;
  }
  DIR* dir = ::opendir(std::string(directory).c_str());
  if (dir == nullptr) {
    return names;
  }
  // readdir's own stream is not shared with other threads, so it is safe.
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name == "." || name == ".." || !filter(name) || !IsPlainFile(dir, *entry)) {
      continue;
    }
    names.emplace_back(name);
  }
  ::closedir(dir);
  // std::string orders through char_traits<char>::lt, which compares as
  // unsigned char even where char is signed: names with bytes above 0x7F
  // sort after plain ASCII, as in a file system's byte order.
  std::sort(names.begin(), names.end());
  return names;
}

bool FindFirstMatch(std::string* fullPathOut, std::string* nameOut, std::string_view directory,
                    const NameFilter& filter) {
  std::vector<std::string> names = ListMatches(directory, filter);
  if (names.empty()) {
    return false;
  }
  if (fullPathOut != nullptr) {
    *fullPathOut = JoinPath(directory, names.front());
  }
  if (nameOut != nullptr) {
    *nameOut = std::move(names.front());
  }
  return true;
}

std::string ReplaceExtension(std::string_view name, std::string_view newExtension) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) {
    return std::string(name);
  }
  std::string renamed(name.substr(0, dot + 1));
  renamed += newExtension;
  return renamed;
}

bool RenameMatches(std::string_view directory, const NameFilter& filter,
                   std::string_view newExtension, std::string_view keep) {
  // The whole list is taken before the first rename, so a renamed file can
  // never come round again in the same pass.
  const std::vector<std::string> names = ListMatches(directory, filter);
  bool renamed = false;
  for (const std::string& name : names) {
    if (name == keep) {
      continue;
    }
    renamed = true;
    const std::string from = JoinPath(directory, name);
    const std::string to = JoinPath(directory, ReplaceExtension(name, newExtension));
    // rename(2) replaces an existing target atomically; a failure leaves
    // this file where it was and the others are still renamed.
    static_cast<void>(std::rename(from.c_str(), to.c_str()));
  }
  // The renames only last a power cut once the directory is on disk: until
  // then the file system may bring an older backup back under its .SAV name
  // beside the newer one.
  if (renamed) {
    const int dir = ::open(std::string(directory).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      static_cast<void>(::fsync(dir));
      ::close(dir);
    }
  }
  return !names.empty();
}

std::string LocalTimeText(const char* format) {
  if (format == nullptr) {
    return {};
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);  // fails only for years beyond 2^31
  char text[64];
  // The format is the caller's by design; strftime writes no more than the
  // buffer holds whatever it says.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const size_t length = std::strftime(text, sizeof text, format, &local);
#pragma GCC diagnostic pop
  return std::string(text, length);
}

}  // namespace tavo::platform
