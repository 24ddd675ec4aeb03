// Scoring columns against a block of permutations at once: each of the eight
// lanes of a vector carries one permutation and its own accumulation, in
// pair order, as one permutation at a time would form it. The block's
// relabelled similarities are formed a tile of pairs at a time, never for all
// pairs at once: the tile stays in cache while every column goes through it,
// and each column's sums carry on from tile to tile, in pair order still.
#pragma once

#include <cstdint>

#include "log.hpp"
#include "scoring/position.hpp"
#include "shuffle/lane_vectors.hpp"

namespace vorn {

struct LaneBlock {
  int nl = 0;                            // lanes in use (the rest repeat lane 0)
  const int32_t* perms[kLanes] = {};     // perms[l][p]: the protein whose data p takes
  double sy_all[kLanes] = {}, syy_all[kLanes] = {};  // over all pairs, for columns without gaps
};

// The pairs of rows (proteins from 0) row_begin .. row_end - 1, which start at
// pair first (0-based, pair order).
struct LaneTile {
  int32_t row_begin = 0, row_end = 0;
  int64_t first = 0, pairs = 0;
};
// The pairs a tile holds for nprot proteins: 8,192 (512 KiB of lanes, in
// double already, within a core's L2), or one row when a row is longer.
int64_t lane_tile_pairs(int32_t nprot);
// The tile after prev (row_end == nprot - 1 ends the walk; start from a
// default LaneTile), of whole rows and at most tile_pairs pairs unless one
// row alone has more.
LaneTile next_tile(const LaneTile& prev, int32_t nprot, int64_t tile_pairs);

// Pairs [a, b) of a tile (counted from its first pair) into lanes, from
// lanes[a * kLanes] on, kLanes values a pair: row(i) once for each row met
// (proteins from 1), then pair(i, j, out) for each of its pairs there.
template <class Row, class Pair>
void fill_tile_part(int32_t n, const LaneTile& tile, int64_t a, int64_t b, double* lanes, Row row, Pair pair) {
  if (a >= b) return;
  int32_t i = tile.row_begin;  // 0-based row, protein i + 1
  int64_t row_first = 0;       // the row's first pair, counted from the tile's
  while (row_first + (n - 1 - i) <= a) row_first += n - 1 - i, ++i;
  double* out = lanes + a * kLanes;
  for (int64_t k = a; k < b; ++i, row_first += n - i) {
    row(i + 1);
    const int64_t end = row_first + (n - 1 - i) < b ? row_first + (n - 1 - i) : b;
    for (int32_t j = i + 2 + static_cast<int32_t>(k - row_first); k < end; ++k, ++j, out += kLanes) pair(i + 1, j, out);
  }
}

// sq[(i-1)*nprot + (j-1)] = y of pair (i, j) in either order (0 on the
// diagonal), from the pair-order vector tri[1..npairs]: the source of
// relabelled values, since a permutation of the proteins keeps every value
// (and so every similarity's rank) and only moves it to another pair.
void fill_rank_square(const float* tri, int32_t nprot, float* sq);
// The same square formed in place over a pair-order vector that starts
// offset floats into sq (tri[k] = sq[offset + k]; 0 <= offset <= 2): sq has
// room for nprot x nprot floats and for offset + npairs + 1.
void expand_square(float* sq, int64_t offset, int32_t nprot);

// kColumnsPerRead columns and what they carry from tile to tile: each lane's
// mean, its sums so far and the pairs walked.
inline constexpr int kColumnsPerRead = 8;
struct LaneGroup {
  int nc = 0;
  int32_t pos[kColumnsPerRead] = {};        // unused places repeat the first column
  bool usable_pass[kColumnsPerRead] = {};   // sy over the usable pairs from a pass over the pairs
  bool gapped = false;
  double my[kColumnsPerRead][kLanes], sy[kColumnsPerRead][kLanes];
  double sxy[kColumnsPerRead][kLanes], syy[kColumnsPerRead][kLanes];
  double usum[kColumnsPerRead][kLanes];  // the usable y summed by the first walk, for the columns that need it
  int64_t pairs = 0;
};
inline int32_t lane_groups(int32_t ncolumns) { return (ncolumns + kColumnsPerRead - 1) / kColumnsPerRead; }

// For each of nc columns, the exact sum (scaled by 2^-q) of y' over the pairs
// of two of its gapped proteins gaps[c] (ascending), y'(a, b) = ysq of
// (perm[a], perm[b]): each column's from the one before when fewer pairs
// change than it has. The values of ysq are those of an exact side (q).
void gapped_pair_sums(const GapList* gaps, int nc, const int32_t* perm, const float* ysq, int32_t n, int q,
                      int64_t* out);

// The codes of the groups of columns active[0..nactive) (a group's unused
// places repeating its first column), protein-major: group g's protein p
// has its codes at codes8[(g * nprot + p) * kColumnsPerRead ..], one per
// column. Room: lane_groups(nactive) * nprot * kColumnsPerRead.
void lane_group_codes(const Columns& cols, const int32_t* active, int32_t nactive, uint8_t* codes8);

// The correlation sums of columns active[0..nactive) (no sentinel among them)
// under each lane's permutation, into groups[0 .. lane_groups(nactive)): the
// pairs a tile (tile_pairs, lanes room for them) at a time, the groups of a
// tile shared among the threads. The x side comes from each column's real
// scoring (colstat), the codes from lane_group_codes. Skips its work once log
// is asked to stop.
void block_sums(const Columns& cols, const int32_t* active, int32_t nactive, const uint8_t* codes8,
                const ColumnStat* colstat, const SimilaritySide& side, const float* ysq, LaneBlock& block, int64_t tile_pairs, double* lanes,
                LaneGroup* groups, const Log& log);
// Column c, lane l of a group, as score_from_sums takes them (sx not filled).
CorrelationSums lane_sums(const LaneGroup& g, int c, int l, const LaneBlock& block, const ColumnStat* colstat,
                          const Columns& cols);

}  // namespace vorn
