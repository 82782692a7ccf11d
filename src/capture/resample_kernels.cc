#include "capture/resample_kernels.h"

#include <immintrin.h>

#include <algorithm>

namespace vistaro {
namespace {

// Fixed point: source bytes times 2^14 weights, kept as 2^6 units between the
// passes (room for the kernel's overshoot in 16 bits), 2^20 after the second.
constexpr int columnShift = 8;
constexpr int rowShift = 20;

// JPEG's colour matrix in 1/32768 units; each row of luma weights sums to 32768
// and each chroma row to 0, so white stays 255 and greys carry no colour.
constexpr int32_t yR = 9798, yG = 19235, yB = 3735;
constexpr int32_t cbR = -5529, cbG = -10855, cbB = 16384;
constexpr int32_t crR = 16384, crG = -13720, crB = -2664;
constexpr int32_t chromaCentre = (128 << 17) + (1 << 16);  // for sums of four pixels

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

void toYcc420Portable(const uint8_t* top, const uint8_t* bottom, int width, uint8_t* yTop, uint8_t* yBottom,
                      uint8_t* cb, uint8_t* cr) {
  for (int x = 0; x < width; ++x) {
    const uint8_t* a = top + x * 4;
    const uint8_t* b = bottom + x * 4;
    yTop[x] = static_cast<uint8_t>((yR * a[2] + yG * a[1] + yB * a[0] + (1 << 14)) >> 15);
    yBottom[x] = static_cast<uint8_t>((yR * b[2] + yG * b[1] + yB * b[0] + (1 << 14)) >> 15);
  }
  for (int x = 0; x < width / 2; ++x) {
    const uint8_t* a = top + x * 8;
    const uint8_t* b = bottom + x * 8;
    const int32_t blue = a[0] + a[4] + b[0] + b[4];
    const int32_t green = a[1] + a[5] + b[1] + b[5];
    const int32_t red = a[2] + a[6] + b[2] + b[6];
    cb[x] = static_cast<uint8_t>((cbR * red + cbG * green + cbB * blue + chromaCentre) >> 17);
    cr[x] = static_cast<uint8_t>((crR * red + crG * green + crB * blue + chromaCentre) >> 17);
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

constexpr int32_t pairOf(int32_t low, int32_t high) {
  return static_cast<int32_t>(static_cast<uint16_t>(low) | (static_cast<uint32_t>(high) << 16));
}

__attribute__((target("avx2"))) inline __m256i lumaOf(__m256i blueRed, __m256i green, __m256i blueRedWeights,
                                                      __m256i greenWeights) {
  const __m256i sum =
      _mm256_add_epi32(_mm256_madd_epi16(blueRed, blueRedWeights), _mm256_madd_epi16(green, greenWeights));
  return _mm256_srli_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(1 << 14)), 15);
}

// Eight pixels of each row per step, one pixel per 32-bit lane: blue and red,
// and green and alpha, as 16-bit pairs meet their coefficients in multiply-adds.
__attribute__((target("avx2"))) void toYcc420Avx2(const uint8_t* top, const uint8_t* bottom, int width,
                                                  uint8_t* yTop, uint8_t* yBottom, uint8_t* cb, uint8_t* cr) {
  const __m256i lowBytes = _mm256_set1_epi32(0x00ff00ff);
  const __m256i yBlueRed = _mm256_set1_epi32(pairOf(yB, yR)), yGreen = _mm256_set1_epi32(pairOf(yG, 0));
  const __m256i cbBlueRed = _mm256_set1_epi32(pairOf(cbB, cbR)), cbGreen = _mm256_set1_epi32(pairOf(cbG, 0));
  const __m256i crBlueRed = _mm256_set1_epi32(pairOf(crB, crR)), crGreen = _mm256_set1_epi32(pairOf(crG, 0));
  const __m256i centre = _mm256_set1_epi32(chromaCentre);
  const __m256i gather = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  const __m128i splitChroma = _mm_setr_epi8(0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15);
  for (int x = 0; x < width; x += 8) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + x * 4));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + x * 4));
    const __m256i aBlueRed = _mm256_and_si256(a, lowBytes), aGreen = _mm256_srli_epi16(a, 8);
    const __m256i bBlueRed = _mm256_and_si256(b, lowBytes), bGreen = _mm256_srli_epi16(b, 8);
    const __m256i blueRed = _mm256_add_epi16(aBlueRed, bBlueRed), green = _mm256_add_epi16(aGreen, bGreen);
    const __m256i blueChroma =
        _mm256_add_epi32(_mm256_madd_epi16(blueRed, cbBlueRed), _mm256_madd_epi16(green, cbGreen));
    const __m256i redChroma =
        _mm256_add_epi32(_mm256_madd_epi16(blueRed, crBlueRed), _mm256_madd_epi16(green, crGreen));
    // Per lane: cb of pixels 0+1, 2+3, then cr of the same.
    const __m256i chroma =
        _mm256_srai_epi32(_mm256_add_epi32(_mm256_hadd_epi32(blueChroma, redChroma), centre), 17);
    __m256i bytes = _mm256_packus_epi16(
        _mm256_packs_epi32(lumaOf(aBlueRed, aGreen, yBlueRed, yGreen), lumaOf(bBlueRed, bGreen, yBlueRed, yGreen)),
        _mm256_packs_epi32(chroma, chroma));
    bytes = _mm256_permutevar8x32_epi32(bytes, gather);  // top luma, bottom luma, cb cb cr cr twice
    const __m128i lumaRows = _mm256_castsi256_si128(bytes);
    const __m128i chromaRows = _mm_shuffle_epi8(_mm256_extracti128_si256(bytes, 1), splitChroma);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(yTop + x), lumaRows);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(yBottom + x), _mm_srli_si128(lumaRows, 8));
    const int32_t blue = _mm_cvtsi128_si32(chromaRows), red = _mm_extract_epi32(chromaRows, 1);
    __builtin_memcpy(cb + x / 2, &blue, 4);
    __builtin_memcpy(cr + x / 2, &red, 4);
  }
}

}  // namespace

const ResampleKernels& ResampleKernels::portable() {
  static const ResampleKernels kernels{filterColumnsPortable, filterRowPortable, toYcc420Portable};
  return kernels;
}

const ResampleKernels& ResampleKernels::forThisCpu() {
  static const ResampleKernels avx2{filterColumnsAvx2, filterRowAvx2, toYcc420Avx2};
  return __builtin_cpu_supports("avx2") ? avx2 : portable();
}

}  // namespace vistaro
