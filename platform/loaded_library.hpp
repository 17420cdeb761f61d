#pragma once
// A shared library loaded when it is first needed (dlopen) rather than when the program starts,
// and never unloaded. For the libraries of one kind of link (NATS, MQTT) that bring OpenSSL with
// them: a run that uses neither does not pay for resolving their symbols at every start.

#include <string>

namespace quorvane {

class LoadedLibrary {
 public:
  // `soname` as the loader finds it ("libnats.so.3.4"); `package`, the Debian package that
  // brings it, for the message. Throws std::runtime_error saying what is missing.
  LoadedLibrary(std::string soname, std::string package);

  // The function called `name`; throws std::runtime_error when the library lacks it.
  void* Function(const char* name) const;

 private:
  [[noreturn]] void Fail() const;

  std::string soname_;
  std::string package_;
  void* handle_ = nullptr;
};

// A library's table of functions is a struct with a pointer for each name of its list (an
// X-macro: see mqtt/mosquitto_library.hpp), and its fill finds each by that name.
#define QGPS_FUNCTION_POINTER(name) decltype(&::name) name = nullptr;
#define QGPS_FIND_FUNCTION(name) \
  functions.name = reinterpret_cast<decltype(functions.name)>(library.Function(#name));

// The table of `Functions` (a struct of function pointers) that `fill` finds in the library,
// loaded and filled on the first call from any thread, kept for the process's life. A throwing
// first try leaves both unmade, and the next call tries again.
template <typename Functions>
const Functions& LoadedFunctions(const char* soname, const char* package,
                                 void (*fill)(const LoadedLibrary&, Functions&)) {
  static const Functions functions = [&] {
    static const LoadedLibrary library(soname, package);
    Functions found;
    fill(library, found);
    return found;
  }();
  return functions;
}

}  // namespace quorvane
