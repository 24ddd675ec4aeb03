// Every working array of a run, allocated once by the allocation plan (once
// the alignment's dimensions are known, and around the drawing of the
// permutations) and released only when the run ends.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

namespace vorn {

// The element types of some arrays; the workspace holds them, it does not
// look into them.
struct ColumnStat;
struct WeightedStat;
struct ResultRow;
struct LaneGroup;

// A malloc'd array that frees itself. Contents start undefined.
template <class T>
class Vec {
 public:
  Vec() = default;
  Vec(const Vec&) = delete;
  Vec& operator=(const Vec&) = delete;
  ~Vec() { std::free(p_); }
  void adopt(void* mem, int64_t n) {
    std::free(p_);
    p_ = static_cast<T*>(mem);
    n_ = n;
  }
  T& operator[](int64_t i) { return p_[i]; }
  const T& operator[](int64_t i) const { return p_[i]; }
  T* data() { return p_; }
  const T* data() const { return p_; }
  int64_t size() const { return n_; }
  bool empty() const { return p_ == nullptr; }

 private:
  T* p_ = nullptr;
  int64_t n_ = 0;
};

// A reference table whose entries 1..rows point at separately allocated rows.
template <class T>
class Table {
 public:
  Table() = default;
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;
  ~Table() {
    for (int64_t r = 0; r < refs_.size(); ++r) std::free(refs_[r]);
  }
  Vec<T*>& refs() { return refs_; }
  T* operator[](int64_t r) { return refs_[r]; }
  const T* operator[](int64_t r) const { return refs_[r]; }
  T* const* rows() const { return refs_.data(); }

 private:
  Vec<T*> refs_;
};

// One allocation of the plan: a single array, or rows 1..rows of a table.
struct PlanItem {
  int64_t step;    // errormem's code; row r of a table fails with step + r
  int64_t rows;    // 0 for a single array
  int64_t count;   // elements per array
  uint64_t elem;   // bytes per element
  std::function<void(int64_t row, void* mem)> store;
  // Touched when allocated, so that memory stays flat once the plan is in
  // place; false for arrays the counting algorithms never use.
  bool prefault = true;
};

// Hands out the plan's memory. Before a group is allocated its total is
// checked against the machine's memory, so that absurd sizes (a corrupt
// header, a huge -S) stop at once with the step code of the first array that
// could not be had, instead of thrashing or being killed part-way.
class Allocator {
 public:
  explicit Allocator(uint64_t ceiling_bytes) : ceiling_(ceiling_bytes) {}
  // Physical memory plus swap.
  static uint64_t machine_memory();
  // Checks and allocates the items in order; ends the run through errormem.
  void allocate(const std::vector<PlanItem>& items);
  // The check alone, for groups that must be known to fit before earlier work.
  void check(const std::vector<PlanItem>& items) const;
  // Memory that an array reserved untouched now takes: ends the run through
  // errormem(step) when it does not fit beside what is held.
  void claim(int64_t step, uint64_t bytes);
  // Whether such a claim would fit beside what is held.
  bool fits(uint64_t bytes) const { return bytes <= (reserved_ <= ceiling_ ? ceiling_ - reserved_ : 0); }
  uint64_t reserved() const { return reserved_; }

 private:
  uint64_t ceiling_;
  uint64_t reserved_ = 0;
};

// The allocation stop: "** Memory asignation error. Step: %d." on standard
// output, exit status 1.
[[noreturn]] void errormem(int64_t step);

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
  // The pair vectors share one block, which holds what the answer needs and
  // no more: the similarities in pair order (values), turned into their ranks
  // in place for Spearman (idenrank) with the sort's scratch after them
  // (idelin); with shuffling the square of the one the score correlates,
  // formed over both in place (pair_square), unless -B reads the pair order
  // later. identities[i][j] (j > i) addresses the similarities.
  Vec<float*> identities;  // views, not rows of their own
  Vec<float> pairbuf;
  Vec<float> idelino;         // a copy of the similarities, where their ranks take their place and -W or -B read them later
  float* values = nullptr;    // the similarities in pair order (null once nothing holds them)
  float* idenrank = nullptr;  // Spearman: their ranks in pair order
  float* idelin = nullptr;    // Spearman: the sort's scratch; with -W each pair's tie group instead
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
  Vec<float> ranksq;      // the square of the correlated vector, when it cannot be formed in pairbuf
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
  Vec<int32_t> njslot;       // the node in each slot
  Vec<int32_t> treeleft, treeright;  // the children of each of the 2n - 1 nodes
  Vec<double> treelength;    // the branch above each node
  Vec<uint8_t> libcodes;     // the library columns' codes, as alncol
  Vec<int32_t> libcount, librate;
  Vec<float> libscore;
  Vec<uint32_t> libsets;     // Fitch and evolving scratch, per thread
  Vec<float> libgapperc;
  Vec<int32_t> libgaplist;
  Vec<int64_t> libgapstart;
  Vec<int32_t> libgrouppos;
  Vec<uint8_t> libgroupcodes;

  float* globdist() { return globtable[1]; }
  int64_t& globcount() { return globcounts[1]; }
};

// With shuffling, the square of the correlated vector is formed in the pair
// block, over the pair order, unless -B reads that order after the random
// passes. (-W with unequal weights needs no square; with equal ones its
// random passes are the plain ones.)
bool square_in_pairs(const Workspace& ws);
// Points values, idenrank, idelin and the identities rows into pairbuf.
void pair_views(Workspace& ws);
// identities[i][j] = tri[pair_index(i, j, n)] for j > i.
void triangle_rows(float* tri, int32_t nprot, float** rows);
// The square of the correlated vector, for the random passes: pairbuf's
// triangle moved into nprot x nprot rows in place, or copied to ranksq.
float* pair_square(Workspace& ws, const float* tri);

// The plan, group by group. Sizes are computed in 64 bits and never wrap.
std::vector<PlanItem> plan_group1(Workspace& ws);
std::vector<PlanItem> plan_group2(Workspace& ws);
std::vector<PlanItem> plan_group3(Workspace& ws, bool spearman);
std::vector<PlanItem> plan_group4(Workspace& ws);
std::vector<PlanItem> plan_group5(Workspace& ws);

}  // namespace vorn
