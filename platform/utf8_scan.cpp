#include "platform/utf8_scan.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VM_UTF8_X86 1
#endif

namespace platform::utf8 {

namespace {

// --- counting --------------------------------------------------------------

// Continuation bytes in a 64-bit word: bit 7 set and bit 6 clear. The bits
// are summed by a multiplication (a popcount is a library call on machines
// the compiler cannot assume have the instruction).
inline unsigned ContinuationsInWord(uint64_t w) {
  const uint64_t ones = (w & ~(w << 1) & 0x8080808080808080ull) >> 7;
  return static_cast<unsigned>((ones * 0x0101010101010101ull) >> 56);
}

size_t CountCharsScalar(const unsigned char* p, size_t n) {
  size_t chars = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    chars += 8 - ContinuationsInWord(w);
  }
  for (; i < n; ++i) chars += !IsContinuation(p[i]);
  return chars;
}

#if VM_UTF8_X86 && defined(__SSE2__)
// 16 bytes a step: a byte is a character start when, read as signed, it is
// above -65 (0xBF is the largest continuation byte).
size_t CountCharsSse2(const unsigned char* p, size_t n) {
  const __m128i threshold = _mm_set1_epi8(-65);
  size_t chars = 0;
  size_t i = 0;
  while (i + 16 <= n) {
    __m128i acc = _mm_setzero_si128();
    // At most 255 steps before the byte lanes of the accumulator overflow.
    size_t steps = (n - i) / 16;
    if (steps > 255) steps = 255;
    for (size_t k = 0; k < steps; ++k, i += 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      acc = _mm_sub_epi8(acc, _mm_cmpgt_epi8(v, threshold));
    }
    __m128i sums = _mm_sad_epu8(acc, _mm_setzero_si128());
    chars += static_cast<size_t>(_mm_cvtsi128_si64(sums)) +
             static_cast<size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
  }
  return chars + CountCharsScalar(p + i, n - i);
}
#endif

// --- validation: the scalar path ------------------------------------------

bool IsValidScalar(const unsigned char* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    // Runs of ASCII go 8 bytes at a time.
    while (i + 8 <= n) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      if (w & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i >= n) break;
    unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (n - i < len) return false;
    if (p[i + 1] < lo || p[i + 1] > hi) return false;
    for (size_t k = 2; k < len; ++k)
      if (!IsContinuation(p[i + k])) return false;
    i += len;
  }
  return true;
}

bool IsValidScalarCopying(const unsigned char* p, size_t n, unsigned char* dst) {
  if (dst) std::memcpy(dst, p, n);
  return IsValidScalar(p, n);
}

#if VM_UTF8_X86
// --- validation: vector paths ---------------------------------------------
//
// The lookup method: every error in UTF-8 shows in the high and low nibble
// of a byte together with the high nibble of the byte after it, except that
// a third or fourth byte must be a continuation, which is checked from the
// bytes two and three back. Three table lookups and a few logic operations
// check 16 (SSSE3) or 32 (AVX2) bytes at once.

constexpr uint8_t kTooShort = 1 << 0;   // lead byte, then no continuation
constexpr uint8_t kTooLong = 1 << 1;    // ASCII, then a continuation
constexpr uint8_t kOverlong3 = 1 << 2;  // E0 80..9F
constexpr uint8_t kTooLarge = 1 << 3;   // F4 90..BF, F5..FF
constexpr uint8_t kSurrogate = 1 << 4;  // ED A0..BF
constexpr uint8_t kOverlong2 = 1 << 5;  // C0, C1
constexpr uint8_t kTooLarge1000 = 1 << 6;
constexpr uint8_t kOverlong4 = 1 << 6;  // F0 80..8F
constexpr uint8_t kTwoConts = 1 << 7;   // two continuations after a non-lead
constexpr uint8_t kCarry = kTooShort | kTooLong | kTwoConts;

#define VM_BYTE1_HIGH                                                                       \
  kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTwoConts, \
      kTwoConts, kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort,                    \
      kTooShort | kOverlong3 | kSurrogate, kTooShort | kTooLarge | kTooLarge1000 | kOverlong4
#define VM_BYTE1_LOW                                                                         \
  kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry,        \
      kCarry | kTooLarge, kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000, \
      kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,                 \
      kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,                 \
      kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,                 \
      kCarry | kTooLarge | kTooLarge1000 | kSurrogate, kCarry | kTooLarge | kTooLarge1000,    \
      kCarry | kTooLarge | kTooLarge1000
#define VM_BYTE2_HIGH                                                                        \
  kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,   \
      kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4,           \
      kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,                            \
      kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,                            \
      kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge, kTooShort, kTooShort,      \
      kTooShort, kTooShort

struct Ssse3State {
  __m128i byte1_high, byte1_low, byte2_high, max_incomplete;
  __m128i error, prev_input, prev_incomplete;
};

__attribute__((target("ssse3"))) inline void CheckSsse3(Ssse3State& st, __m128i input) {
  const __m128i nibble = _mm_set1_epi8(0x0F);
  __m128i prev1 = _mm_alignr_epi8(input, st.prev_input, 15);
  __m128i prev2 = _mm_alignr_epi8(input, st.prev_input, 14);
  __m128i prev3 = _mm_alignr_epi8(input, st.prev_input, 13);
  __m128i sc = _mm_and_si128(
      _mm_and_si128(
          _mm_shuffle_epi8(st.byte1_high, _mm_and_si128(_mm_srli_epi16(prev1, 4), nibble)),
          _mm_shuffle_epi8(st.byte1_low, _mm_and_si128(prev1, nibble))),
      _mm_shuffle_epi8(st.byte2_high, _mm_and_si128(_mm_srli_epi16(input, 4), nibble)));
  __m128i third = _mm_subs_epu8(prev2, _mm_set1_epi8(static_cast<char>(0xE0 - 0x80)));
  __m128i fourth = _mm_subs_epu8(prev3, _mm_set1_epi8(static_cast<char>(0xF0 - 0x80)));
  __m128i must23 =
      _mm_and_si128(_mm_or_si128(third, fourth), _mm_set1_epi8(static_cast<char>(0x80)));
  st.error = _mm_or_si128(st.error, _mm_xor_si128(must23, sc));
  st.prev_incomplete = _mm_subs_epu8(input, st.max_incomplete);
  st.prev_input = input;
}

// With `dst`, every vector read is also stored there: validation and copy in
// one pass.
__attribute__((target("ssse3"))) bool IsValidSsse3(const unsigned char* p, size_t n,
                                                   unsigned char* dst) {
  static const uint8_t t1h[16] = {VM_BYTE1_HIGH};
  static const uint8_t t1l[16] = {VM_BYTE1_LOW};
  static const uint8_t t2h[16] = {VM_BYTE2_HIGH};
  static const uint8_t incomplete_max[16] = {255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
                                             255, 255, 255, 0xEF, 0xDF, 0xBF};
  Ssse3State st;
  st.byte1_high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t1h));
  st.byte1_low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t1l));
  st.byte2_high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t2h));
  st.max_incomplete = _mm_loadu_si128(reinterpret_cast<const __m128i*>(incomplete_max));
  st.error = st.prev_input = st.prev_incomplete = _mm_setzero_si128();

  size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    const __m128i* q = reinterpret_cast<const __m128i*>(p + i);
    __m128i a = _mm_loadu_si128(q), b = _mm_loadu_si128(q + 1);
    __m128i c = _mm_loadu_si128(q + 2), d = _mm_loadu_si128(q + 3);
    if (dst) {
      __m128i* out = reinterpret_cast<__m128i*>(dst + i);
      _mm_storeu_si128(out, a);
      _mm_storeu_si128(out + 1, b);
      _mm_storeu_si128(out + 2, c);
      _mm_storeu_si128(out + 3, d);
    }
    __m128i any = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
    if (_mm_movemask_epi8(any) == 0) {
      st.error = _mm_or_si128(st.error, st.prev_incomplete);
      st.prev_incomplete = _mm_setzero_si128();
      st.prev_input = d;
      continue;
    }
    CheckSsse3(st, a);
    CheckSsse3(st, b);
    CheckSsse3(st, c);
    CheckSsse3(st, d);
  }
  // The tail: whole vectors, then the last 16 bytes read again together
  // with the 16 before them (n >= 64), so no byte is read past the end. The
  // check of a byte depends only on it and the three before it, so reading
  // some bytes twice changes nothing.
  for (; i + 16 < n; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    if (dst) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
    CheckSsse3(st, v);
  }
  if (i < n) {
    st.prev_input = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 32));
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 16));
    if (dst) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - 16), v);
    CheckSsse3(st, v);
  }
  __m128i error = _mm_or_si128(st.error, st.prev_incomplete);
  return _mm_movemask_epi8(_mm_cmpeq_epi8(error, _mm_setzero_si128())) == 0xFFFF;
}

struct Avx2State {
  __m256i byte1_high, byte1_low, byte2_high, max_incomplete;
  __m256i error, prev_input, prev_incomplete;
};

__attribute__((target("avx2"))) inline void CheckAvx2(Avx2State& st, __m256i input) {
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  // The 32 bytes before input's bytes, across the two 128-bit lanes.
  __m256i shifted = _mm256_permute2x128_si256(st.prev_input, input, 0x21);
  __m256i prev1 = _mm256_alignr_epi8(input, shifted, 15);
  __m256i prev2 = _mm256_alignr_epi8(input, shifted, 14);
  __m256i prev3 = _mm256_alignr_epi8(input, shifted, 13);
  __m256i sc = _mm256_and_si256(
      _mm256_and_si256(
          _mm256_shuffle_epi8(st.byte1_high, _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble)),
          _mm256_shuffle_epi8(st.byte1_low, _mm256_and_si256(prev1, nibble))),
      _mm256_shuffle_epi8(st.byte2_high, _mm256_and_si256(_mm256_srli_epi16(input, 4), nibble)));
  __m256i third = _mm256_subs_epu8(prev2, _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
  __m256i fourth = _mm256_subs_epu8(prev3, _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
  __m256i must23 = _mm256_and_si256(_mm256_or_si256(third, fourth),
                                    _mm256_set1_epi8(static_cast<char>(0x80)));
  st.error = _mm256_or_si256(st.error, _mm256_xor_si256(must23, sc));
  st.prev_incomplete = _mm256_subs_epu8(input, st.max_incomplete);
  st.prev_input = input;
}

__attribute__((target("avx2"))) bool IsValidAvx2(const unsigned char* p, size_t n,
                                                 unsigned char* dst) {
  static const uint8_t t1h[32] = {VM_BYTE1_HIGH, VM_BYTE1_HIGH};
  static const uint8_t t1l[32] = {VM_BYTE1_LOW, VM_BYTE1_LOW};
  static const uint8_t t2h[32] = {VM_BYTE2_HIGH, VM_BYTE2_HIGH};
  static const uint8_t incomplete_max[32] = {
      255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,  255,
      255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 0xEF, 0xDF, 0xBF};
  Avx2State st;
  st.byte1_high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t1h));
  st.byte1_low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t1l));
  st.byte2_high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t2h));
  st.max_incomplete = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(incomplete_max));
  st.error = st.prev_input = st.prev_incomplete = _mm256_setzero_si256();

  size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    const __m256i* q = reinterpret_cast<const __m256i*>(p + i);
    __m256i a = _mm256_loadu_si256(q), b = _mm256_loadu_si256(q + 1);
    if (dst) {
      __m256i* out = reinterpret_cast<__m256i*>(dst + i);
      _mm256_storeu_si256(out, a);
      _mm256_storeu_si256(out + 1, b);
    }
    if (_mm256_movemask_epi8(_mm256_or_si256(a, b)) == 0) {
      st.error = _mm256_or_si256(st.error, st.prev_incomplete);
      st.prev_incomplete = _mm256_setzero_si256();
      st.prev_input = b;
      continue;
    }
    CheckAvx2(st, a);
    CheckAvx2(st, b);
  }
  // The tail as in the SSSE3 path: the last vector overlaps, with its true
  // preceding bytes.
  if (i + 32 < n) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    if (dst) _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), v);
    CheckAvx2(st, v);
    i += 32;
  }
  if (i < n) {
    st.prev_input = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + n - 64));
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + n - 32));
    if (dst) _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + n - 32), v);
    CheckAvx2(st, v);
  }
  __m256i error = _mm256_or_si256(st.error, st.prev_incomplete);
  return _mm256_testz_si256(error, error) != 0;
}

using ValidateFn = bool (*)(const unsigned char*, size_t, unsigned char*);

ValidateFn ChooseValidator() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return IsValidAvx2;
  if (__builtin_cpu_supports("ssse3")) return IsValidSsse3;
  return IsValidScalarCopying;
}
#endif

}  // namespace

size_t CountChars(const char* p, size_t n) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  if (n < 16) {
    size_t chars = 0;
    for (size_t i = 0; i < n; ++i) chars += !IsContinuation(u[i]);
    return chars;
  }
#if VM_UTF8_X86 && defined(__SSE2__)
  return CountCharsSse2(u, n);
#else
  return CountCharsScalar(u, n);
#endif
}

size_t AdvanceChars(const char* p, size_t n, size_t count) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  size_t pos = 0, seen = 0;
  // Whole words while they cannot hold the character we stop at.
  while (pos + 8 <= n && count - seen >= 8) {
    uint64_t w;
    std::memcpy(&w, u + pos, 8);
    seen += 8 - ContinuationsInWord(w);
    pos += 8;
  }
  for (; pos < n; ++pos) {
    if (!IsContinuation(u[pos])) {
      if (seen == count) return pos;
      ++seen;
    }
  }
  return n;
}

namespace {

bool Validate(const unsigned char* p, size_t n, unsigned char* dst) {
  if (n < 64) return IsValidScalarCopying(p, n, dst);
#if VM_UTF8_X86
  static const ValidateFn validate = ChooseValidator();
  return validate(p, n, dst);
#else
  return IsValidScalarCopying(p, n, dst);
#endif
}

}  // namespace

bool IsValid(const char* p, size_t n) {
  return Validate(reinterpret_cast<const unsigned char*>(p), n, nullptr);
}

bool CopyValidating(char* dst, const char* src, size_t n) {
  return Validate(reinterpret_cast<const unsigned char*>(src), n,
                  reinterpret_cast<unsigned char*>(dst));
}

void AppendCodePoint(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace platform::utf8
