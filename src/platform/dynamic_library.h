// A shared library loaded at run time, unloaded when the object goes.
//
// The library is opened by the name given; a plain file name (no '/') goes
// through the system's search order: LD_LIBRARY_PATH, the run path of the
// object that asks (ours carries $ORIGIN, so a library placed beside it is
// found), then the system directories; when none of these has it, the
// directory of the binary that holds this code is tried as well, so that a
// library beside ours is found even where the run path is lost (see Open).
// Each object holds its own reference:
// several threads may load the same library at once, the system counts the
// loads.
#pragma once

namespace tavo::platform {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary() { Close(); }
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  DynamicLibrary(DynamicLibrary&& other) noexcept : handle_(other.handle_) {
    other.handle_ = nullptr;
  }
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;

  // True when the library is loaded (already, or now). A library already
  // loaded by this object is kept as it is.
  bool Open(const char* name);
  // Unloads the library when this object holds it.
  void Close();
  bool IsOpen() const { return handle_ != nullptr; }
  // The address of an exported symbol, or null (also when nothing is loaded).
  void* Symbol(const char* name) const;

 private:
  void* handle_ = nullptr;
};

}  // namespace tavo::platform
