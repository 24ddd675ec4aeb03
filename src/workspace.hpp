// Every working array of a run, allocated once by the allocation plan (once
// the alignment's dimensions are known, and around the drawing of the
// permutations) and released only when the run ends.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

#include "arrays.hpp"
#include "pair_block.hpp"

namespace vorn {

// The element types of some arrays; the workspace holds them, it does not
// look into them.
struct ColumnStat;
struct WeightedStat;
struct ResultRow;
struct LaneGroup;

struct Workspace {
  int32_t nprot = 0;
  int32_t alnlen = 0;
  int64_t npairs = 0;
  int64_t nsuffl = 0;
  bool weighted = false;  // -W: the arrays of the weighted scores are in the plan
  int32_t threads = 1;    // the worker threads, each with scratch of its own in the random passes
  bool spearman = true;

  // Group 1, as soon as the dimensions are known.
  Table<int32_t> aln;
  Vec<int32_t> var, acc;
  Vec<char> sec_str;
  Vec<float> entrop;
  Vec<int32_t> pdbnum;
  Vec<char> chain;
  Vec<uint8_t> res1;  // protein 1 has a residue letter here (nonzero; HSSP: the letter)
  Vec<float> corrlin1, corrlin1o, corrrank1;
  Vec<char> gaps1;
  Vec<float> gapperc;
  PairBlock pairs;  // the similarities, their ranks and the random passes' square
  Vec<uint64_t> rankdone;     // the ranking's marks of the pairs ranked so far
  Vec<int64_t> rankscratch;  // counting tables of the sorts of large vectors
  Vec<uint8_t> alncol;  // residue codes by column: alncol[(pos-1)*nprot + (p-1)]
  Vec<int32_t> gaplist;  // the gapped proteins of each scored column, column after column
  Vec<int64_t> gapstart; // column pos owns gaplist[gapstart[pos] .. gapstart[pos+1])
  Vec<int32_t> grouppos;  // the scored columns, in groups of eight for the grouped pass
  Vec<uint8_t> groupcodes;  // each group's codes, protein-major (the real pass's groups, then the random passes')
  Vec<double> weights;    // -W: w[1..nprot]
  Vec<double> wrank;      // -W with Spearman: the weighted rank of each distinct similarity (touched only so far)
  Vec<double> rowwy;      // -W: per protein, the weighted sum of its pairs' y

  // Group 2, shuffling only, once the generator is seeded.
  Table<int32_t> sufix;
  Vec<int32_t> drawlist;  // the permutation scratch list

  // Group 3, shuffling only, once the permutations are drawn.
  Vec<float> icorr;
  Table<float> rndcorr;
  Vec<double> lanesim;    // per thread: relabelled similarities of a block of permutations, a tile of pairs at a time
  Vec<LaneGroup> lanegroups;  // per thread: the random passes' column groups, as they carry from tile to tile
  Vec<ColumnStat> colstat;
  Vec<double> wlanes;            // -W, per thread: a block of permutations' y, a tile of pairs at a time
  Vec<double> wlanerank;         // -W with Spearman: each permutation of a block's group ranks (touched only so far)
  Vec<double> lane_rowwy;        // -W: per protein and permutation of a block, the weighted sums of its y and y^2
  Vec<int32_t> inverse;         // -W: the inverse of a permutation
  Vec<WeightedStat> wstat;      // -W: each column's weighted x side

  // Group 4, always, last.
  Table<float> globtable;  // entry 1 refers to the pool
  Vec<int64_t> globcounts; // entry 1 is globcount
  Vec<float> globsorted;   // the pool in non-increasing order
  Vec<int64_t> rowsum;     // per protein: exact sum of its pairs' similarity values (scaled)
  Vec<ResultRow> results;  // the result lines, for the results of the run
  int32_t nresults = 0;

  // Group 5, the tree null (-B) only, after the real scores.
  int64_t ntree = 0;
  Vec<int64_t> njdist;       // the joining's distances, n x n by slot
  Vec<int64_t> njrsum;       // their row sums
  Vec<int32_t> njslot;       // the node in each slot (3n: average linkage's scratch)
  Vec<float> njtri;          // average linkage's distances in pair order, without the sort's scratch to take
  Vec<int32_t> treeleft, treeright;  // the children of each of the 2n - 1 nodes (group 4 when joined early)
  Vec<double> treelength;    // the branch above each node
  int64_t libroom = 0;       // the library columns scored at once
  Vec<uint8_t> libcodes;     // the library columns' codes, as alncol
  Vec<float> libscore;
  Vec<uint32_t> libsets;     // evolving scratch, per thread
  Vec<float> libgapperc;
  Vec<int32_t> libgaplist;
  Vec<int64_t> libgapstart;
  Vec<int32_t> libgrouppos;
  Vec<uint8_t> libgroupcodes;

  float* globdist() { return globtable[1]; }
  int64_t& globcount() { return globcounts[1]; }
};

}  // namespace vorn
