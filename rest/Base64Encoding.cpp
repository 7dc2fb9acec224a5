// The base64 codec of dataset-list blobs; see Base64Encoding.h. Both
// directions work on whole groups through lookup tables so that a 20 MB blob
// is encoded or decoded well above 1 GB/s.
#include "rest/Base64Encoding.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>

namespace qvr::rest {

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
      const auto hi = static_cast<std::uint8_t>(kAlphabet[i >> 6]);
      const auto lo = static_cast<std::uint8_t>(kAlphabet[i & 63]);
      // Stored so that a little- or big-endian memcpy writes hi then lo.
      const std::uint8_t bytes[2] = {hi, lo};
      std::uint16_t v = 0;
      std::memcpy(&v, bytes, 2);
      Pairs[i] = v;
    }
  }
};

struct TDecodeTable {
  std::array<std::uint8_t, 256> Values{};
  constexpr TDecodeTable() {
    for (auto& v : Values) v = kInvalid;
    for (unsigned i = 0; i < 64; ++i)
      Values[static_cast<std::uint8_t>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
  }
};

const TEncodeTable kEncode;
const TDecodeTable kDecode;

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
  const auto* in = reinterpret_cast<const unsigned char*>(ABytes.data());
  const std::size_t n = ABytes.size();
  std::string out(EncodedLength(n), '\0');
  char* o = out.data();
  const std::size_t groups = n / 3;
  std::size_t g = 0;
  // Whole lines: 19 groups then CR LF.
  for (; g + kGroupsPerLine <= groups; g += kGroupsPerLine) {
    for (std::size_t k = 0; k < kGroupsPerLine; ++k) {
      EncodeGroup(in, o);
      in += 3;
      o += 4;
    }
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

std::string TBase64Encoding::Decode(std::string_view AText) const {
  const auto* in = reinterpret_cast<const unsigned char*>(AText.data());
  const std::size_t n = AText.size();
  std::string out(n / 4 * 3 + 3, '\0');
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  const auto& t = kDecode.Values;
  std::size_t i = 0;
  std::uint32_t acc = 0;  // sextets of a group being assembled character by character
  int have = 0;
  while (i < n) {
    if (have == 0) {
      // Fast path: four alphabet characters in a row.
      while (i + 4 <= n) {
        const std::uint8_t a = t[in[i]], b = t[in[i + 1]], c = t[in[i + 2]], d = t[in[i + 3]];
        if (((a | b | c | d) & kInvalid) != 0) break;
        const std::uint32_t v =
            (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) | (std::uint32_t{c} << 6) | d;
        o[0] = static_cast<unsigned char>(v >> 16);
        o[1] = static_cast<unsigned char>(v >> 8);
        o[2] = static_cast<unsigned char>(v);
        o += 3;
        i += 4;
      }
      if (i >= n) break;
    }
    // Slow path: one character at a time until a group is complete.
    const std::uint8_t v = t[in[i++]];
    if ((v & kInvalid) != 0) continue;
    acc = (acc << 6) | v;
    if (++have == 4) {
      o[0] = static_cast<unsigned char>(acc >> 16);
      o[1] = static_cast<unsigned char>(acc >> 8);
      o[2] = static_cast<unsigned char>(acc);
      o += 3;
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
  out.resize(static_cast<std::size_t>(o - reinterpret_cast<unsigned char*>(out.data())));
  return out;
}

}  // namespace qvr::rest
