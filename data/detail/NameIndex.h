// The index of column names: a hash table from a name, with ASCII letters
// taken without regard to case (the rule of SameText), to its column index, so
// that defining, loading and finding columns costs the same per column for
// forty columns as for forty thousand. Used by TFieldDefs and TAdaptedDataSet
// only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/SysUtils.h"

namespace qvr::data::detail {

class TNameIndex {
 public:
  // The index of AName, or -1.
  int Find(std::string_view AName) const {
    const auto it = FMap.find(AName);
    return it == FMap.end() ? -1 : it->second;
  }
  // Records AName at AIndex; false (and nothing recorded) when AName is
  // already there.
  bool Insert(std::string_view AName, int AIndex) {
    return FMap.try_emplace(std::string(AName), AIndex).second;
  }
  void Clear() { FMap.clear(); }
  void Reserve(std::size_t ACount) { FMap.reserve(ACount); }

 private:
  static char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

  // FNV-1a over the folded bytes; transparent, so a lookup by string_view
  // allocates nothing.
  struct THash {
    using is_transparent = void;
    std::size_t operator()(std::string_view AName) const noexcept {
      std::uint64_t h = 14695981039346656037ull;
      for (const char c : AName) {
        h ^= static_cast<unsigned char>(Fold(c));
        h *= 1099511628211ull;
      }
      return static_cast<std::size_t>(h);
    }
  };
  struct TEqual {
    using is_transparent = void;
    bool operator()(std::string_view A, std::string_view B) const noexcept {
      return SameText(A, B);
    }
  };

  std::unordered_map<std::string, int, THash, TEqual> FMap;
};

}  // namespace qvr::data::detail
