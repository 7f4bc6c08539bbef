// corv-vector-kernels: the small kernels that the vector paths share, so that
// each idea is written once. Included by vector code only.
#pragma once

#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define CORV_VECTOR_X86 1
#include <immintrin.h>
#endif

namespace corv_vector {

// Nibble-lookup classification, the standard way of telling many kinds of
// byte apart at once: a byte's class bits are low[byte & 15] & high[byte >> 4],
// so a class is any set of bytes that two tables of 16 can describe. A byte
// above 0x7F looks up high[8] to high[15].
inline unsigned char ClassifyNibbles(unsigned char byte, const unsigned char* low, const unsigned char* high)
{
    return low[byte & 15] & high[byte >> 4];
}

#ifdef CORV_VECTOR_X86

// The same for 16 bytes at once: two byte shuffles (SSSE3) and an AND.
__attribute__((target("ssse3"))) inline __m128i ClassifyNibbles(__m128i bytes, __m128i low, __m128i high)
{
    const __m128i nibble = _mm_set1_epi8(0x0F);
    return _mm_and_si128(_mm_shuffle_epi8(low, _mm_and_si128(bytes, nibble)),
                         _mm_shuffle_epi8(high, _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble)));
}

// For 32 bytes (AVX2 shuffles within each half: the tables are given twice).
__attribute__((target("avx2"))) inline __m256i ClassifyNibbles(__m256i bytes, __m256i low, __m256i high)
{
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    return _mm256_and_si256(_mm256_shuffle_epi8(low, _mm256_and_si256(bytes, nibble)),
                            _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble)));
}

// A table of 16 bytes in both halves of a 32-byte register.
__attribute__((target("avx2"))) inline __m256i TwiceOver(const unsigned char* table)
{
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table)));
}

// A bit per byte, the first byte lowest: the top bit of each byte (movemask).
inline uint32_t MaskOf(__m128i bytes) { return static_cast<uint32_t>(_mm_movemask_epi8(bytes)); }
__attribute__((target("avx2"))) inline uint32_t MaskOf(__m256i bytes)
{
    return static_cast<uint32_t>(_mm256_movemask_epi8(bytes));
}

// The bytes whose class bits are all clear, a bit each.
inline uint32_t ZeroBytes(__m128i bytes) { return MaskOf(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())); }
__attribute__((target("avx2"))) inline uint32_t ZeroBytes(__m256i bytes)
{
    return MaskOf(_mm256_cmpeq_epi8(bytes, _mm256_setzero_si256()));
}

#endif

}  // namespace corv_vector
