#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <mutex>
#include <string>
#include <string_view>

namespace tavo::platform {
namespace {

// Loading and unloading take this lock. The system's loader already does
// them one at a time under a lock of its own, but that lock is taken inside
// the loader, where ThreadSanitizer cannot see it: slots that load and
// unload the vault at once (16 IMEI writes) would show the loader's own
// bookkeeping, allocated by one thread's dlopen and freed by another's
// dlclose, as a race. Holding a lock of ours costs nothing more, and
// keeps the thread checks free of suppressions.
std::mutex loaderLock;

// The directory of the binary that holds this code: our shared library when
// a host loaded it, or the program that linked us. Empty when unknown.
std::string OwnDirectory() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&OwnDirectory), &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  const std::string path = info.dli_fname;
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

bool DynamicLibrary::Open(const char* name) {
  if (handle_ != nullptr) {
    return true;
  }
  if (name == nullptr || name[0] == '\0') {
    return false;
  }
  const std::lock_guard<std::mutex> lock(loaderLock);
  // RTLD_LOCAL keeps the library's symbols to itself; RTLD_NOW makes a
  // library with unresolved symbols fail here rather than in the middle of
  // a call.
  handle_ = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
  // Our run path ($ORIGIN) promises that a library beside us is found. The
  // system honours it only for the object that calls dlopen, and a layer
  // that wraps dlopen (a sanitizer runtime, a preloaded tracer) becomes that
  // caller; so a plain name is also looked for beside us, explicitly.
  if (handle_ == nullptr && std::string_view(name).find('/') == std::string_view::npos) {
    const std::string directory = OwnDirectory();
    if (!directory.empty()) {
      handle_ = ::dlopen((directory + "/" + name).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
  }
  return handle_ != nullptr;
}

void DynamicLibrary::Close() {
  if (handle_ != nullptr) {
    const std::lock_guard<std::mutex> lock(loaderLock);
    ::dlclose(handle_);
    handle_ = nullptr;
  }
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (handle_ == nullptr || name == nullptr) {
    return nullptr;
  }
  return ::dlsym(handle_, name);
}

}  // namespace tavo::platform
