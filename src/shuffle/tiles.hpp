// The random passes form a block of permutations' relabelled similarities a
// tile of pairs at a time, never for all pairs at once: the tile stays in
// cache while every column of a thread's share goes through it, and each
// column's sums carry on from tile to tile, in pair order still. The one
// walk of the tiles, for the plain and the weighted passes alike.
#pragma once

#include <algorithm>
#include <cstdint>

#include "log.hpp"
#include "shuffle/lane_vectors.hpp"

namespace vorn {

// The pairs of rows (proteins from 0) row_begin .. row_end - 1, which start at
// pair first (0-based, pair order).
struct LaneTile {
  int32_t row_begin = 0, row_end = 0;
  int64_t first = 0, pairs = 0;
};

// The pairs a tile holds for nprot proteins: 8,192 (512 KiB of lanes in
// double, within a core's L2), or one row when a row is longer.
inline constexpr int64_t kTilePairs = 8192;
inline int64_t lane_tile_pairs(int32_t nprot) { return std::max<int64_t>(kTilePairs, nprot - 1); }
// The lanes of one tile, as the plan allocates them per thread.
inline int64_t lane_tile_doubles(int32_t nprot) { return lane_tile_pairs(nprot) * kLanes + kLanes; }

// The tile after prev (row_end == nprot - 1 ends the walk; start from a
// default LaneTile), of whole rows and at most tile_pairs pairs unless one
// row alone has more.
inline LaneTile next_tile(const LaneTile& prev, int32_t n, int64_t tile_pairs) {
  LaneTile t;
  t.row_begin = t.row_end = prev.row_end;
  t.first = prev.first + prev.pairs;
  while (t.row_end < n - 1 && (t.pairs == 0 || t.pairs + (n - 1 - t.row_end) <= tile_pairs))
    t.pairs += n - 1 - t.row_end++;
  return t;
}

// The tiles in pair order: fill(tile) puts its pairs' lanes in place, then
// work(tile) reads them. Stops early once the run is asked to stop (the
// caller's checkpoint ends the run).
template <class Fill, class Work>
void walk_tiles(int32_t n, int64_t tile_pairs, const Log& log, Fill fill, Work work) {
  for (LaneTile t = next_tile(LaneTile{}, n, tile_pairs); t.pairs > 0 && !log.stopping(); t = next_tile(t, n, tile_pairs)) {
    fill(t);
    work(t);
  }
}

// The tile's pairs into lanes, kLanes values a pair: row(i) once for each
// row met (proteins from 1), then pair(i, j, out) for each of its pairs.
template <class Row, class Pair>
void fill_tile(int32_t n, const LaneTile& tile, double* lanes, Row row, Pair pair) {
  double* out = lanes;
  for (int32_t i = tile.row_begin; i < tile.row_end; ++i) {
    row(i + 1);
    for (int32_t j = i + 2; j <= n; ++j, out += kLanes) pair(i + 1, j, out);
  }
}

}  // namespace vorn
