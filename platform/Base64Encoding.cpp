// The base64 codec of dataset-list blobs; see Base64Encoding.h. Both
// directions work on whole groups through lookup tables, and decoding takes
// sixteen characters at a time where the processor can, so that a 20 MB blob
// goes through faster than a general-purpose codec takes it.
#include "platform/Base64Encoding.h"

#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace qvr {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0x80;
constexpr std::size_t kGroupsPerLine = TBase64Encoding::kCharsPerLine / 4;

// Two output characters for every 12-bit value, so a group of three bytes
// takes two look-ups.
struct TEncodeTable {
  std::array<std::uint16_t, 4096> Pairs{};
  constexpr TEncodeTable() {
    for (unsigned i = 0; i < 4096; ++i) {
      const auto hi = static_cast<std::uint16_t>(static_cast<std::uint8_t>(kAlphabet[i >> 6]));
      const auto lo = static_cast<std::uint16_t>(static_cast<std::uint8_t>(kAlphabet[i & 63]));
      // Stored so that copying the two bytes out writes hi, then lo.
      Pairs[i] = std::endian::native == std::endian::little
                     ? static_cast<std::uint16_t>(hi | (lo << 8))
                     : static_cast<std::uint16_t>((hi << 8) | lo);
    }
  }
};

// Per position in a group, the sextet already shifted into place; characters
// outside the alphabet carry kBad, so one OR over a group tells whether all
// four are valid.
constexpr std::uint32_t kBad = 0xFF000000u;
struct TDecodeTable {
  std::array<std::uint32_t, 256> Shifted[4]{};
  constexpr TDecodeTable() {
    for (auto& table : Shifted) {
      for (auto& v : table) v = kBad;
    }
    for (unsigned i = 0; i < 64; ++i) {
      const auto c = static_cast<std::uint8_t>(kAlphabet[i]);
      Shifted[0][c] = i << 18;
      Shifted[1][c] = i << 12;
      Shifted[2][c] = i << 6;
      Shifted[3][c] = i;
    }
  }
  // The sextet of one character, or kInvalid.
  std::uint8_t Value(unsigned char c) const {
    return Shifted[3][c] == kBad ? kInvalid : static_cast<std::uint8_t>(Shifted[3][c]);
  }
};

// Built at compile time, so they are ready before any static initialiser runs.
constexpr TEncodeTable kEncode;
constexpr TDecodeTable kDecode;

std::atomic<TBase64Encoding*> GInstance{nullptr};
std::atomic<int> GLive{0};

// Releases the process-wide encoder when the program ends.
struct TInstanceReleaser {
  ~TInstanceReleaser() { delete GInstance.exchange(nullptr, std::memory_order_acq_rel); }
} GReleaser;

inline void EncodeGroup(const unsigned char* AIn, char* AOut) {
  const std::uint32_t v = (std::uint32_t{AIn[0]} << 16) | (std::uint32_t{AIn[1]} << 8) | AIn[2];
  std::memcpy(AOut, &kEncode.Pairs[v >> 12], 2);
  std::memcpy(AOut + 2, &kEncode.Pairs[v & 0xFFF], 2);
}

inline std::uint64_t LoadBigEndian64(const unsigned char* AIn) {
  std::uint64_t w = 0;
  std::memcpy(&w, AIn, 8);
  if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
  return w;
}

// Two groups (six bytes, reading eight) into eight characters with one store.
inline void EncodeTwoGroups(const unsigned char* AIn, char* AOut) {
  const std::uint64_t w = LoadBigEndian64(AIn);
  const auto& p = kEncode.Pairs;
  char buf[8];
  std::memcpy(buf, &p[(w >> 52) & 0xFFF], 2);
  std::memcpy(buf + 2, &p[(w >> 40) & 0xFFF], 2);
  std::memcpy(buf + 4, &p[(w >> 28) & 0xFFF], 2);
  std::memcpy(buf + 6, &p[(w >> 16) & 0xFFF], 2);
  std::memcpy(AOut, buf, 8);
}

// Writes the three bytes of a 24-bit group value with one four-byte store;
// the fourth byte is overwritten by the next group (the output has room).
inline unsigned char* StoreGroup(unsigned char* AOut, std::uint32_t AValue) {
  std::uint32_t be = AValue << 8;
  if constexpr (std::endian::native == std::endian::little) be = __builtin_bswap32(be);
  std::memcpy(AOut, &be, 4);
  return AOut + 3;
}

#if defined(__x86_64__)
// Sixteen characters at a time with SSSE3 (byte shuffles), which nearly every
// x86-64 processor has; whether this one does is asked once. The lookups map
// each character to its sextet and tell alphabet characters from others
// without a table per character.
bool HasSsse3() noexcept {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}

// Decodes the 16 characters at AIn into 12 bytes at AOut (writing 16) when all
// are in the alphabet; otherwise writes nothing and returns false.
__attribute__((target("ssse3"))) inline bool Decode16(const unsigned char* AIn,
                                                      unsigned char* AOut) noexcept {
  const __m128i nibbleMask = _mm_set1_epi8(0x2F);  // pshufb reads bits 0-3 (and 7)
  const __m128i loLut = _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                      0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m128i hiLut = _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10,
                                      0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  const __m128i rollLut = _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(AIn));
  const __m128i hiNibbles = _mm_and_si128(_mm_srli_epi32(text, 4), nibbleMask);
  const __m128i loNibbles = _mm_and_si128(text, nibbleMask);
  const __m128i hi = _mm_shuffle_epi8(hiLut, hiNibbles);
  const __m128i lo = _mm_shuffle_epi8(loLut, loNibbles);
  // A character is in the alphabet exactly when its two lookups share no bit.
  if (_mm_movemask_epi8(_mm_cmpgt_epi8(_mm_and_si128(lo, hi), _mm_setzero_si128())) != 0) {
    return false;
  }
  const __m128i slash = _mm_cmpeq_epi8(text, nibbleMask);  // '/' is 0x2F too
  text = _mm_add_epi8(text, _mm_shuffle_epi8(rollLut, _mm_add_epi8(slash, hiNibbles)));
  // Sextets to 24-bit groups, then the groups' bytes in order.
  const __m128i pairs = _mm_maddubs_epi16(text, _mm_set1_epi32(0x01400140));
  const __m128i groups = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
  const __m128i bytes = _mm_shuffle_epi8(
      groups, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(AOut), bytes);
  return true;
}

// Decodes whole lines of the layout Encode writes (76 characters and CR LF,
// 57 bytes each; the last 16 characters are read overlapping the fourth
// block) and then blocks of 16 alphabet characters, from AIn[AFrom] on while
// AIn holds ACount characters. Returns how far it got; AOut advances.
__attribute__((target("ssse3"))) std::size_t DecodeBlocks(const unsigned char* AIn,
                                                          std::size_t AFrom, std::size_t ACount,
                                                          unsigned char*& AOut) noexcept {
  std::size_t i = AFrom;
  unsigned char* o = AOut;
  while (i + 78 <= ACount && AIn[i + 76] == '\r' && AIn[i + 77] == '\n') {
    const unsigned char* line = AIn + i;
    if (!Decode16(line, o) || !Decode16(line + 16, o + 12) || !Decode16(line + 32, o + 24) ||
        !Decode16(line + 48, o + 36) || !Decode16(line + 60, o + 45)) {
      break;  // written bytes are written again by the slower path
    }
    i += 78;
    o += 57;
  }
  while (i + 16 <= ACount && Decode16(AIn + i, o)) {
    i += 16;
    o += 12;
  }
  AOut = o;
  return i;
}
#endif

}  // namespace

TBase64Encoding::TBase64Encoding() { GLive.fetch_add(1, std::memory_order_relaxed); }
TBase64Encoding::~TBase64Encoding() { GLive.fetch_sub(1, std::memory_order_relaxed); }

int TBase64Encoding::LiveInstances() { return GLive.load(std::memory_order_relaxed); }

TBase64Encoding& TBase64Encoding::Base64() {
  TBase64Encoding* current = GInstance.load(std::memory_order_acquire);
  if (current != nullptr) return *current;
  auto fresh = std::make_unique<TBase64Encoding>();
  TBase64Encoding* expected = nullptr;
  if (GInstance.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel,
                                        std::memory_order_acquire)) {
    return *fresh.release();
  }
  // Another thread won; our instance goes with `fresh`.
  return *expected;
}

std::size_t TBase64Encoding::EncodedLength(std::size_t ACount) {
  const std::size_t groups = ACount / 3;
  const std::size_t chars = groups * 4 + (ACount % 3 != 0 ? 4 : 0);
  return chars + 2 * (groups / kGroupsPerLine);
}

std::string TBase64Encoding::Encode(std::string_view ABytes) const {
  return EncodeImpl(ABytes, true);
}

std::string TBase64Encoding::EncodeLine(std::string_view ABytes) const {
  return EncodeImpl(ABytes, false);
}

std::string TBase64Encoding::EncodeImpl(std::string_view ABytes, bool ALineBreaks) const {
  const auto* in = reinterpret_cast<const unsigned char*>(ABytes.data());
  const std::size_t n = ABytes.size();
  const std::size_t groups = n / 3;
  std::string out(ALineBreaks ? EncodedLength(n) : groups * 4 + (n % 3 != 0 ? 4 : 0), '\0');
  char* o = out.data();
  std::size_t g = 0;
  // Whole lines: 19 groups (nine pairs and one) then CR LF. The pairs read
  // eight bytes, which stay inside the line's 57.
  for (; ALineBreaks && g + kGroupsPerLine <= groups; g += kGroupsPerLine) {
    for (std::size_t k = 0; k < kGroupsPerLine / 2; ++k) {
      EncodeTwoGroups(in, o);
      in += 6;
      o += 8;
    }
    EncodeGroup(in, o);
    in += 3;
    o += 4;
    o[0] = '\r';
    o[1] = '\n';
    o += 2;
  }
  for (; g < groups; ++g) {
    EncodeGroup(in, o);
    in += 3;
    o += 4;
  }
  const std::size_t rest = n % 3;
  if (rest != 0) {
    const unsigned char b0 = in[0];
    const unsigned char b1 = rest == 2 ? in[1] : 0;
    o[0] = kAlphabet[b0 >> 2];
    o[1] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    o[2] = rest == 2 ? kAlphabet[(b1 & 15) << 2] : '=';
    o[3] = '=';
  }
  return out;
}

std::size_t TBase64Encoding::DecodedCapacity(std::size_t ACount) { return ACount / 4 * 3 + 16; }

std::string TBase64Encoding::Decode(std::string_view AText) const {
  std::string out(DecodedCapacity(AText.size()), '\0');
  out.resize(DecodeTo(AText, out.data()));
  return out;
}

std::size_t TBase64Encoding::DecodeTo(std::string_view AText, char* AOut) const {
  const auto* in = reinterpret_cast<const unsigned char*>(AText.data());
  const std::size_t n = AText.size();
  auto* const begin = reinterpret_cast<unsigned char*>(AOut);
  unsigned char* o = begin;
  const auto& t = kDecode.Shifted;
  std::size_t i = 0;
  std::uint32_t acc = 0;  // sextets of a group being assembled character by character
  int have = 0;
#if defined(__x86_64__)
  const bool simd = HasSsse3();
#endif
  while (i < n) {
    if (have == 0) {
#if defined(__x86_64__)
      if (simd) i = DecodeBlocks(in, i, n, o);
#endif
      // Fast path: whole groups of four alphabet characters.
      while (i + 8 <= n) {
        const std::uint32_t a = t[0][in[i]] | t[1][in[i + 1]] | t[2][in[i + 2]] | t[3][in[i + 3]];
        const std::uint32_t b =
            t[0][in[i + 4]] | t[1][in[i + 5]] | t[2][in[i + 6]] | t[3][in[i + 7]];
        if (((a | b) & kBad) != 0) break;
        o = StoreGroup(StoreGroup(o, a), b);
        i += 8;
      }
      if (i + 4 <= n) {
        const std::uint32_t a = t[0][in[i]] | t[1][in[i + 1]] | t[2][in[i + 2]] | t[3][in[i + 3]];
        if ((a & kBad) == 0) {
          o = StoreGroup(o, a);
          i += 4;
          continue;
        }
      }
      if (i >= n) break;
    }
    // Slow path: one character at a time until a group is complete.
    const std::uint8_t v = kDecode.Value(in[i++]);
    if ((v & kInvalid) != 0) continue;
    acc = (acc << 6) | v;
    if (++have == 4) {
      o = StoreGroup(o, acc);
      acc = 0;
      have = 0;
    }
  }
  if (have == 2) {
    *o++ = static_cast<unsigned char>(acc >> 4);
  } else if (have == 3) {
    *o++ = static_cast<unsigned char>(acc >> 10);
    *o++ = static_cast<unsigned char>(acc >> 2);
  }
  return static_cast<std::size_t>(o - begin);
}

}  // namespace qvr
