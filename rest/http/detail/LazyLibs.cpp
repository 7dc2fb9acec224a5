// Lazy loading of libcurl and OpenSSL for the HTTP layer; see LazyLibs.h.
#include "rest/http/detail/LazyLibs.h"

#include <dlfcn.h>

#include <mutex>

#include "rest/http/NetHTTPExceptions.h"

namespace qvr::rest::detail::lazy {

namespace {

// The shared objects the build was made against (set by the build from the
// libraries' own names), so that the versions loaded are the ones whose
// headers the HTTP layer was compiled with.
const char* LibraryName(TLibrary ALibrary) {
  switch (ALibrary) {
    case TLibrary::Curl:
      return QVR_LIBCURL_SONAME;
    case TLibrary::Ssl:
      return QVR_LIBSSL_SONAME;
    case TLibrary::Crypto:
      return QVR_LIBCRYPTO_SONAME;
  }
  return "";
}

std::mutex& LoadLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

void* Symbol(TLibrary ALibrary, const char* ASymbol) {
  static void* handles[3] = {nullptr, nullptr, nullptr};
  void* handle = nullptr;
  {
    std::scoped_lock lock(LoadLock());
    void*& slot = handles[static_cast<int>(ALibrary)];
    // Loaded once for the life of the process, never closed: the functions
    // stay callable from any object that outlives a request.
    if (slot == nullptr) slot = ::dlopen(LibraryName(ALibrary), RTLD_NOW | RTLD_LOCAL);
    handle = slot;
  }
  void* symbol = handle != nullptr ? ::dlsym(handle, ASymbol) : nullptr;
  if (symbol == nullptr) throw ENetHTTPClientException("Error obtaining session handle");
  return symbol;
}

}  // namespace qvr::rest::detail::lazy
