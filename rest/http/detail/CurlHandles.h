// Move-only owners of libcurl's C handles (easy, multi, header list, URL), so
// that every path out of the HTTP object, exceptions included, frees them
// exactly once. Used only by the HTTP object's .cpp files.
#pragma once

#include "rest/http/detail/LazyLibs.h"

#include <string>
#include <utility>

namespace qvr::rest::detail {

template <typename T, void (*Free)(T*)>
class TCurlHandle {
 public:
  TCurlHandle() = default;
  explicit TCurlHandle(T* AHandle) : FHandle(AHandle) {}
  TCurlHandle(const TCurlHandle&) = delete;
  TCurlHandle& operator=(const TCurlHandle&) = delete;
  TCurlHandle(TCurlHandle&& AOther) noexcept : FHandle(std::exchange(AOther.FHandle, nullptr)) {}
  TCurlHandle& operator=(TCurlHandle&& AOther) noexcept {
    if (this != &AOther) {
      Reset();
      FHandle = std::exchange(AOther.FHandle, nullptr);
    }
    return *this;
  }
  ~TCurlHandle() { Reset(); }

  T* Get() const { return FHandle; }
  explicit operator bool() const { return FHandle != nullptr; }
  void Reset(T* AHandle = nullptr) {
    if (FHandle != nullptr) Free(FHandle);
    FHandle = AHandle;
  }

 private:
  T* FHandle = nullptr;
};

inline void FreeEasy(CURL* AHandle) { curl_easy_cleanup(AHandle); }
inline void FreeMulti(CURLM* AHandle) { curl_multi_cleanup(AHandle); }
inline void FreeUrl(CURLU* AHandle) { curl_url_cleanup(AHandle); }
inline void FreeSlist(curl_slist* AList) { curl_slist_free_all(AList); }

using TCurlEasy = TCurlHandle<CURL, FreeEasy>;
using TCurlMulti = TCurlHandle<CURLM, FreeMulti>;
using TCurlUrl = TCurlHandle<CURLU, FreeUrl>;

// A curl header list that grows by Append.
class TCurlSlist {
 public:
  TCurlSlist() = default;
  TCurlSlist(const TCurlSlist&) = delete;
  TCurlSlist& operator=(const TCurlSlist&) = delete;
  TCurlSlist(TCurlSlist&& AOther) noexcept : FList(std::exchange(AOther.FList, nullptr)) {}
  TCurlSlist& operator=(TCurlSlist&& AOther) noexcept {
    if (this != &AOther) {
      FreeSlist(FList);
      FList = std::exchange(AOther.FList, nullptr);
    }
    return *this;
  }
  ~TCurlSlist() { FreeSlist(FList); }

  // False when curl could not store the line (out of memory); the list keeps
  // its earlier lines.
  bool Append(const std::string& ALine) {
    curl_slist* grown = curl_slist_append(FList, ALine.c_str());
    if (grown == nullptr) return false;
    FList = grown;
    return true;
  }
  curl_slist* Get() const { return FList; }

 private:
  curl_slist* FList = nullptr;
};

}  // namespace qvr::rest::detail
