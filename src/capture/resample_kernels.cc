#include "capture/resample_kernels.h"

#include <immintrin.h>

#include <algorithm>

namespace vistaro {
namespace {

// Fixed point: source bytes times 2^14 weights, kept as 2^6 units between the
// passes (room for the kernel's overshoot in 16 bits), 2^20 after the second.
constexpr int columnShift = 8;
constexpr int rowShift = 20;

uint8_t clampToByte(int32_t value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

int16_t columnValue(const uint8_t* const* rows, const int16_t* weights, int taps, size_t i) {
  int32_t sum = 1 << (columnShift - 1);
  for (int t = 0; t < taps; ++t) sum += weights[t] * rows[t][i];
  return static_cast<int16_t>(sum >> columnShift);
}

void filterColumnsPortable(const uint8_t* const* rows, const int16_t* weights, int taps, size_t count,
                           int16_t* out) {
  for (size_t i = 0; i < count; ++i) out[i] = columnValue(rows, weights, taps, i);
}

void filterRowPortable(const int16_t* columns, const int32_t* starts, const int16_t* weights, int paddedTaps,
                       int outputWidth, uint8_t* bgra) {
  for (int i = 0; i < outputWidth; ++i) {
    const int16_t* pixel = columns + static_cast<size_t>(starts[i]) * 4;
    const int16_t* weight = weights + static_cast<size_t>(i) * static_cast<size_t>(paddedTaps);
    int32_t sums[4] = {1 << (rowShift - 1), 1 << (rowShift - 1), 1 << (rowShift - 1), 1 << (rowShift - 1)};
    for (int t = 0; t < paddedTaps; ++t, pixel += 4) {
      for (int c = 0; c < 4; ++c) sums[c] += weight[t] * pixel[c];
    }
    for (int c = 0; c < 4; ++c) bgra[i * 4 + c] = clampToByte(sums[c] >> rowShift);
  }
}

// Two source rows per step: their bytes widened to 16 bits and interleaved, so
// that one multiply-add applies both weights. An odd last tap pairs with a zero
// weight on its own row.
__attribute__((target("avx2"))) void filterColumnsAvx2(const uint8_t* const* rows, const int16_t* weights,
                                                       int taps, size_t count, int16_t* out) {
  constexpr int maxPairs = 64;
  if (taps > 2 * maxPairs) return filterColumnsPortable(rows, weights, taps, count, out);
  const int pairs = (taps + 1) / 2;
  __m256i pairWeights[maxPairs];
  const uint8_t* pairRows[2 * maxPairs];
  for (int p = 0; p < pairs; ++p) {
    const bool odd = 2 * p + 1 == taps;
    const uint32_t w0 = static_cast<uint16_t>(weights[2 * p]);
    const uint32_t w1 = odd ? 0 : static_cast<uint16_t>(weights[2 * p + 1]);
    pairWeights[p] = _mm256_set1_epi32(static_cast<int32_t>(w0 | (w1 << 16)));
    pairRows[2 * p] = rows[2 * p];
    pairRows[2 * p + 1] = rows[odd ? 2 * p : 2 * p + 1];
  }
  const __m256i rounding = _mm256_set1_epi32(1 << (columnShift - 1));
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    __m256i low = rounding;
    __m256i high = rounding;
    for (int p = 0; p < pairs; ++p) {
      const __m256i a =
          _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pairRows[2 * p] + i)));
      const __m256i b =
          _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pairRows[2 * p + 1] + i)));
      low = _mm256_add_epi32(low, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), pairWeights[p]));
      high = _mm256_add_epi32(high, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), pairWeights[p]));
    }
    const __m256i packed =
        _mm256_packs_epi32(_mm256_srai_epi32(low, columnShift), _mm256_srai_epi32(high, columnShift));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), packed);
  }
  for (; i < count; ++i) out[i] = columnValue(rows, weights, taps, i);
}

// Four taps per step: two pixels per 128-bit lane, shuffled so that each
// channel's pair meets its pair of weights in one multiply-add. Two output
// pixels share the final reduction.
__attribute__((target("avx2"))) inline __m256i sumTaps(const int16_t* pixel, const int16_t* weight,
                                                       int paddedTaps) {
  const __m256i pairChannels = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15,  //
                                                0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
  const __m256i spreadPairs = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
  __m256i sum = _mm256_setzero_si256();
  for (int t = 0; t < paddedTaps; t += 4, pixel += 16) {
    const __m256i four =
        _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixel)), pairChannels);
    const __m256i w = _mm256_permutevar8x32_epi32(
        _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(weight + t))), spreadPairs);
    sum = _mm256_add_epi32(sum, _mm256_madd_epi16(four, w));
  }
  return sum;
}

__attribute__((target("avx2"))) void filterRowAvx2(const int16_t* columns, const int32_t* starts,
                                                   const int16_t* weights, int paddedTaps, int outputWidth,
                                                   uint8_t* bgra) {
  const __m256i rounding = _mm256_set1_epi32(1 << (rowShift - 1));
  const __m256i firstOfEachLane = _mm256_setr_epi32(0, 4, 0, 0, 0, 0, 0, 0);
  const size_t stride = static_cast<size_t>(paddedTaps);
  int i = 0;
  for (; i + 2 <= outputWidth; i += 2) {
    const __m256i a = sumTaps(columns + static_cast<size_t>(starts[i]) * 4, weights + i * stride, paddedTaps);
    const __m256i b =
        sumTaps(columns + static_cast<size_t>(starts[i + 1]) * 4, weights + (i + 1) * stride, paddedTaps);
    __m256i both = _mm256_add_epi32(_mm256_permute2x128_si256(a, b, 0x20), _mm256_permute2x128_si256(a, b, 0x31));
    both = _mm256_srai_epi32(_mm256_add_epi32(both, rounding), rowShift);
    both = _mm256_packus_epi16(_mm256_packs_epi32(both, both), both);
    both = _mm256_permutevar8x32_epi32(both, firstOfEachLane);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(bgra + static_cast<size_t>(i) * 4), _mm256_castsi256_si128(both));
  }
  if (i < outputWidth) {
    filterRowPortable(columns, starts + i, weights + i * stride, paddedTaps, 1, bgra + static_cast<size_t>(i) * 4);
  }
}

}  // namespace

const ResampleKernels& ResampleKernels::portable() {
  static const ResampleKernels kernels{filterColumnsPortable, filterRowPortable};
  return kernels;
}

const ResampleKernels& ResampleKernels::forThisCpu() {
  static const ResampleKernels avx2{filterColumnsAvx2, filterRowAvx2};
  return __builtin_cpu_supports("avx2") ? avx2 : portable();
}

}  // namespace vistaro
