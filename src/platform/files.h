// The file operations of the parameter backups: one directory searched by
// name, renames that replace, whole-file reads with a size bound, and a
// durable write that never leaves a half-written file under its final name.
//
// Names are 8-bit text passed through unchanged; the separator is '/'. A
// search lists the plain files of one directory (never its subdirectories)
// in ascending byte order of their names, so that "the first match" is the
// same on every run and every file system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tavo::platform {

// Decides whether a bare file name belongs to a search.
using NameFilter = std::function<bool(std::string_view name)>;

// True when name matches the wildcard pattern: '*' any run of characters
// (none included), '?' exactly one character, every other character itself
// with ASCII letters compared without regard to case.
bool WildcardMatch(std::string_view pattern, std::string_view name);
// A filter over WildcardMatch with the pattern (copied).
NameFilter WildcardFilter(std::string_view pattern);

// The directory joined with a name: one trailing '/' of the directory is
// dropped and one '/' put back before the name, so "dir" and "dir/" give the
// same path; the root "/" stays the root. False, pathOut untouched, when the
// directory is empty or is not an existing directory.
bool BuildFilePath(std::string& pathOut, std::string_view directory, std::string_view fileName);

// The names of the plain files of the directory that the filter accepts, in
// ascending byte order. A plain file is a regular file or a link to one.
// Empty when the directory cannot be read or the filter is empty.
std::vector<std::string> ListMatches(std::string_view directory, const NameFilter& filter);

// The first match of ListMatches: its bare name into nameOut and the
// directory, a '/' unless the directory already ends with one, and the name
// into fullPathOut (either output may be null). False when nothing matches.
bool FindFirstMatch(std::string* fullPathOut, std::string* nameOut, std::string_view directory,
                    const NameFilter& filter);

// The name with everything after its last '.' replaced by newExtension
// (unchanged without a '.').
std::string ReplaceExtension(std::string_view name, std::string_view newExtension);

// Renames every match, except the name keep, to ReplaceExtension(match,
// newExtension), replacing a file of that name, then flushes the directory
// to disk. A failing rename is skipped; the others still happen. False when
// nothing matched.
bool RenameMatches(std::string_view directory, const NameFilter& filter,
                   std::string_view newExtension, std::string_view keep = {});

// Outcome of ReadWholeFile.
enum class ReadResult {
  kOk,
  kCannotOpen,  // missing, not a plain file, or no permission
  kTooLarge,    // larger than maxSize: nothing was read
  kReadError,   // the file shrank or a read failed part-way
};

// Reads the whole file into bytesOut (replaced). sizeOut receives the file's
// size as soon as the file is open, also when the result is kTooLarge.
ReadResult ReadWholeFile(const std::string& path, std::size_t maxSize,
                         std::vector<uint8_t>& bytesOut, uint64_t* sizeOut = nullptr);

// Writes bytes as directory/fileName so that the file either appears
// complete or not at all: the bytes go to a new temporary file of the same
// directory (a hidden name ending in ".tmp" that no backup search takes), are
// flushed to disk, and the file is renamed to its final name (replacing a
// file of that name), after which the directory itself is flushed. On any
// failure the temporary file is removed, the final name is untouched, false
// is returned and whyNot (may be null) receives the reason.
bool WriteFileDurably(std::string_view directory, std::string_view fileName,
                      const std::vector<uint8_t>& bytes, std::string* whyNot = nullptr);

// The local time formatted with strftime, e.g. "%Y%m%d_%H%M%S"; empty when
// format is null or the text would not fit in 63 characters.
std::string LocalTimeText(const char* format);

}  // namespace tavo::platform
