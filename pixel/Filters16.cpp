#include "pixel/Filters16.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "pixel/RowBands.h"

namespace {

inline const UInt16* rowAt(const UInt16* plane, UInt32 rowBytes, UInt32 y) {
  return reinterpret_cast<const UInt16*>(reinterpret_cast<const unsigned char*>(plane) +
                                         size_t(y) * rowBytes);
}
inline UInt16* rowAt(UInt16* plane, UInt32 rowBytes, UInt32 y) {
  return reinterpret_cast<UInt16*>(reinterpret_cast<unsigned char*>(plane) + size_t(y) * rowBytes);
}

template <UInt32 B>
using RowSet = std::array<const UInt16*, 2 * B + 1>;

// Runs kernel over the interior rows of the plane, copying the border of width
// B unchanged. kernel(rows, out, width) fills out[B .. width - B) of one row from
// the 2B + 1 source rows centred on it.
// cost is a rough count of operations a sample, for the split into bands.
template <UInt32 B, class Kernel>
void filterPlane(const UInt16* source, UInt16* destination, UInt32 width, UInt32 height,
                 UInt32 rowBytes, UInt32 cost, Kernel kernel) {
  const size_t lineBytes = size_t(width) * sizeof(UInt16);
  if (width < 2 * B + 1 || height < 2 * B + 1) {
    for (UInt32 y = 0; y < height; ++y)
      std::memcpy(rowAt(destination, rowBytes, y), rowAt(source, rowBytes, y), lineBytes);
    return;
  }
  for (UInt32 y = 0; y < B; ++y) {
    std::memcpy(rowAt(destination, rowBytes, y), rowAt(source, rowBytes, y), lineBytes);
    std::memcpy(rowAt(destination, rowBytes, height - 1 - y),
                rowAt(source, rowBytes, height - 1 - y), lineBytes);
  }
  myRunRowBands(height - 2 * B, UInt64(width) * cost, [&](UInt32 begin, UInt32 end) {
    for (UInt32 y = begin + B; y < end + B; ++y) {
      RowSet<B> rows;
      for (UInt32 i = 0; i < 2 * B + 1; ++i) rows[i] = rowAt(source, rowBytes, y - B + i);
      UInt16* out = rowAt(destination, rowBytes, y);
      const UInt16* centre = rows[B];
      for (UInt32 x = 0; x < B; ++x) {
        out[x] = centre[x];
        out[width - 1 - x] = centre[width - 1 - x];
      }
      kernel(rows, out, width);
    }
  });
}

inline UInt16 absDiff(UInt32 a, UInt32 b) { return UInt16(a > b ? a - b : b - a); }

void averageRow(const RowSet<1>& rows, UInt16* __restrict out, UInt32 width, UInt32 threshold) {
  const UInt16* __restrict r0 = rows[0];
  const UInt16* __restrict r1 = rows[1];
  const UInt16* __restrict r2 = rows[2];
  for (UInt32 x = 1; x + 1 < width; ++x) {
    const UInt32 sum = UInt32(r0[x - 1]) + r0[x] + r0[x + 1] + r1[x - 1] + r1[x + 1] + r2[x - 1] +
                       r2[x] + r2[x + 1];
    const UInt32 m = sum >> 3;
    const UInt32 c = r1[x];
    out[x] = UInt16(absDiff(c, m) < threshold ? m : c);
  }
}

inline void sort2(UInt16& a, UInt16& b) {
  const UInt16 lo = std::min(a, b);
  const UInt16 hi = std::max(a, b);
  a = lo;
  b = hi;
}

void minMaxAverageRow(const RowSet<1>& rows, UInt16* __restrict out, UInt32 width,
                      UInt32 threshold16) {
  const UInt16* __restrict r0 = rows[0];
  const UInt16* __restrict r1 = rows[1];
  const UInt16* __restrict r2 = rows[2];
  for (UInt32 x = 1; x + 1 < width; ++x) {
    const UInt16 p[9] = {r0[x - 1], r0[x], r0[x + 1], r1[x - 1], r1[x],
                         r1[x + 1], r2[x - 1], r2[x], r2[x + 1]};
    UInt16 lo = p[0], hi = p[0];
    UInt32 sum = 0;
    for (int i = 0; i < 9; ++i) {
      lo = std::min(lo, p[i]);
      hi = std::max(hi, p[i]);
      sum += p[i];
    }
    out[x] = UInt32(hi - lo) < threshold16 ? UInt16(sum / 9) : p[4];
  }
}

void medianRow(const RowSet<1>& rows, UInt16* __restrict out, UInt32 width, UInt32 threshold16) {
  const UInt16* __restrict r0 = rows[0];
  const UInt16* __restrict r1 = rows[1];
  const UInt16* __restrict r2 = rows[2];
  for (UInt32 x = 1; x + 1 < width; ++x) {
    UInt16 p0 = r0[x - 1], p1 = r0[x], p2 = r0[x + 1];
    UInt16 p3 = r1[x - 1], p4 = r1[x], p5 = r1[x + 1];
    UInt16 p6 = r2[x - 1], p7 = r2[x], p8 = r2[x + 1];
    const UInt16 centre = p4;
    const UInt16 lo = std::min({p0, p1, p2, p3, p4, p5, p6, p7, p8});
    const UInt16 hi = std::max({p0, p1, p2, p3, p4, p5, p6, p7, p8});
    // Exchange network that leaves the median of nine in p4; the median is the
    // same whatever sort finds it.
    sort2(p1, p2); sort2(p4, p5); sort2(p7, p8);
    sort2(p0, p1); sort2(p3, p4); sort2(p6, p7);
    sort2(p1, p2); sort2(p4, p5); sort2(p7, p8);
    sort2(p0, p3); sort2(p5, p8); sort2(p4, p7);
    sort2(p3, p6); sort2(p1, p4); sort2(p2, p5);
    sort2(p4, p7); sort2(p4, p2); sort2(p6, p4);
    sort2(p4, p2);
    out[x] = UInt32(hi - lo) < threshold16 ? p4 : centre;
  }
}

// The cascade kernels all have weights 2^(B - |d|) along a line. Levels 2, 4, 6
// and 7 are the outer product of that line with itself. Levels 1, 3 and 5 weigh
// 2^(B - |dx| - |dy|) and drop the corner samples: twice their kernel is the
// outer product less the four corners, so one separable pass serves both.
constexpr UInt32 lineShift(UInt32 B, UInt32 i) { return B - (i > B ? i - B : B - i); }

template <UInt32 B, size_t... I>
inline UInt32 columnSum(const RowSet<B>& rows, size_t x, std::index_sequence<I...>) {
  return ((UInt32(rows[I][x]) << lineShift(B, I)) + ...);
}
// Sum along the line starting at v[x] (the kernel's left end).
template <UInt32 B, size_t... I>
inline UInt32 lineSum(const UInt32* __restrict v, size_t x, std::index_sequence<I...>) {
  return ((v[x + I] << lineShift(B, I)) + ...);
}

// Column sums are taken for a stretch of the row at a time into a small buffer
// on the stack, which stays in the first-level cache.
constexpr UInt32 kColumnStretch = 1024;

template <UInt32 B, bool DropCorners, UInt32 Divisor>
void gaussianRow(const RowSet<B>& rows, UInt16* __restrict out, UInt32 width) {
  constexpr auto taps = std::make_index_sequence<2 * B + 1>();
  const UInt16* __restrict top = rows[0];
  const UInt16* __restrict bottom = rows[2 * B];
  UInt32 column[kColumnStretch + 2 * B];
  for (UInt32 x0 = B; x0 + B < width; x0 += kColumnStretch) {
    const UInt32 x1 = std::min(x0 + kColumnStretch, width - B);
    // column[j] is the column sum at x0 - B + j.
    const size_t first = x0 - B;
    RowSet<B> shifted;
    for (UInt32 i = 0; i < 2 * B + 1; ++i) shifted[i] = rows[i] + first;
    const size_t columns = size_t(x1 - x0) + 2 * B;
    for (size_t j = 0; j < columns; ++j) column[j] = columnSum<B>(shifted, j, taps);
    const size_t outputs = x1 - x0;
    UInt16* __restrict o = out + x0;
    const UInt16* __restrict t = top + first;
    const UInt16* __restrict b = bottom + first;
    for (size_t j = 0; j < outputs; ++j) {
      UInt32 sum = lineSum<B>(column, j, taps);
      if constexpr (DropCorners)
        sum = (sum - (UInt32(t[j]) + t[j + 2 * B] + b[j] + b[j + 2 * B])) >> 1;
      const UInt32 q = sum / Divisor;
      o[j] = UInt16(q > 65535 ? 65535 : q);
    }
  }
}

template <UInt32 B, bool DropCorners, UInt32 Divisor>
void gaussianPlane(const UInt16* source, UInt16* destination, UInt32 width, UInt32 height,
                   UInt32 rowBytes) {
  filterPlane<B>(source, destination, width, height, rowBytes, 4 * B + 4,
                 [](const RowSet<B>& rows, UInt16* out, UInt32 w) {
                   gaussianRow<B, DropCorners, Divisor>(rows, out, w);
                 });
}

}  // namespace

void my3by3AverageLuma16(const UInt16* source, UInt16* destination, UInt32 width, UInt32 height,
                         UInt32 rowBytes, UInt32 threshold) {
  filterPlane<1>(source, destination, width, height, rowBytes, 12,
                 [threshold](const RowSet<1>& rows, UInt16* out, UInt32 w) {
                   averageRow(rows, out, w, threshold);
                 });
}

void my3by3MinMaxAverageLuma16(const UInt16* source, UInt16* destination, UInt32 width,
                               UInt32 height, UInt32 rowBytes, UInt32 threshold) {
  const UInt32 threshold16 = threshold & 0xFFFFu;
  filterPlane<1>(source, destination, width, height, rowBytes, 30,
                 [threshold16](const RowSet<1>& rows, UInt16* out, UInt32 w) {
                   minMaxAverageRow(rows, out, w, threshold16);
                 });
}

void my3by3MedianLuma16(const UInt16* source, UInt16* destination, UInt32 width, UInt32 height,
                        UInt32 rowBytes, UInt32 threshold) {
  const UInt32 threshold16 = threshold & 0xFFFFu;
  filterPlane<1>(source, destination, width, height, rowBytes, 60,
                 [threshold16](const RowSet<1>& rows, UInt16* out, UInt32 w) {
                   medianRow(rows, out, w, threshold16);
                 });
}

void myLocal2by2GaussianBlurLuma16(const UInt16* source, UInt16* destination, UInt32 width,
                                   UInt32 height, UInt32 rowBytes) {
  gaussianPlane<1, true, 6>(source, destination, width, height, rowBytes);
}
void myLocal3by3GaussianBlurLuma16(const UInt16* source, UInt16* destination, UInt32 width,
                                   UInt32 height, UInt32 rowBytes) {
  gaussianPlane<1, false, 16>(source, destination, width, height, rowBytes);
}
void myLocal4by4GaussianBlurLuma16(const UInt16* source, UInt16* destination, UInt32 width,
                                   UInt32 height, UInt32 rowBytes) {
  gaussianPlane<2, true, 48>(source, destination, width, height, rowBytes);
}
void myLocal5by5GaussianBlurLuma16(const UInt16* source, UInt16* destination, UInt32 width,
                                   UInt32 height, UInt32 rowBytes) {
  gaussianPlane<2, false, 100>(source, destination, width, height, rowBytes);
}
void myLocal6by6GaussianBlurLuma16(const UInt16* source, UInt16* destination, UInt32 width,
                                   UInt32 height, UInt32 rowBytes) {
  gaussianPlane<3, true, 240>(source, destination, width, height, rowBytes);
}
void myLocal7by7GaussianBlurLuma16(const UInt16* source, UInt16* destination, UInt32 width,
                                   UInt32 height, UInt32 rowBytes) {
  gaussianPlane<3, false, 484>(source, destination, width, height, rowBytes);
}
void myLocal9by9GaussianBlurLuma16(const UInt16* source, UInt16* destination, UInt32 width,
                                   UInt32 height, UInt32 rowBytes) {
  gaussianPlane<4, false, 2116>(source, destination, width, height, rowBytes);
}
