#include "platform/loaded_library.hpp"

#include <dlfcn.h>

#include <stdexcept>
#include <utility>

namespace quorvane {

LoadedLibrary::LoadedLibrary(std::string soname, std::string package)
    : soname_(std::move(soname)), package_(std::move(package)) {
  // Local: its symbols serve only the calls made through Function.
  handle_ = ::dlopen(soname_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) Fail();
}

void* LoadedLibrary::Function(const char* name) const {
  void* function = ::dlsym(handle_, name);
  if (function == nullptr) Fail();
  return function;
}

void LoadedLibrary::Fail() const {
  const char* reason = ::dlerror();
  throw std::runtime_error(soname_ + " (Debian's " + package_ + ") cannot be loaded: " +
                           (reason != nullptr ? reason : "unknown reason"));
}

}  // namespace quorvane
