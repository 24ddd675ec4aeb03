// The run: its steps in their fixed order, as one library call under both
// faces (the command line and the Python module).
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "log.hpp"
#include "results.hpp"
#include "settings.hpp"

namespace vorn {

// How a worker thread with nothing to do waits: it sleeps (passive), where
// libgomp's default spins up to 300,000 pauses, tens of milliseconds that a
// busy machine's other threads need. Both faces set OMP_WAIT_POLICY before
// the thread library loads, unless the user set it or GOMP_SPINCOUNT; the
// parallel regions are few and long, so a quiet machine loses nothing.
inline constexpr const char* kWaitPolicy = "passive";

// Where the result lines go as they are made (file may be null: nowhere),
// and the listings asked for beside them.
struct Output {
  FILE* file = nullptr;
  Listings listings;
};

// Runs every step after the command line, from reading the matrix to the
// closing message, and returns the results. Throws Failure on every error.
Results run(const RunSettings& settings, Output out, Log& log);

// The structure of -P and its residue check, kept with the results of a run
// with keep_report for the page written after it.
struct Structure;
struct StructureMatch;
struct ReportParts {
  std::shared_ptr<const Structure> structure;
  std::shared_ptr<const StructureMatch> match;
  std::string match_line;
  std::vector<std::string> share_dirs;  // where the viewer's script is looked for
};
// Writes the export files of -O=prefix for results kept with keep_report:
// the bytes the run would have written itself, but for the command line
// they record (the run's, without -O). Throws Failure.
void write_report(const Results& r, const std::string& prefix, Log& log);

// What a run would take, found without running it: the alignment's
// dimensions (read once) and the memory the allocation plan asks for at its
// peak, for the workflow's resource requests (vorn --plan).
struct RunPlan {
  int64_t nprot = 0, alnlen = 0;
  uint64_t input_bytes = 0;  // the alignment as held in memory
  uint64_t bytes = 0;        // everything the run holds at once, inputs included, and with -W (Spearman) the
                             // rank tables of a typical family (L^2 distinct similarities, no more than its pairs)
  uint64_t most_bytes = 0;   // the same with the rank tables at their most
};
RunPlan plan(const RunSettings& settings, Log& log);

// The steps up to the similarity of the proteins (or the -M file), for the
// similarity alone: Results::similarity, nprot x nprot, the diagonal NaN.
Results protein_similarity(const RunSettings& settings, Log& log);

// The alignment as vorn reads it: its rows' names and, one letter per
// column, the residues it scores ('-' for a gap and every letter read as
// one), and its form.
struct AlignmentRead {
  std::string form;
  std::vector<std::string> names, rows;
};
AlignmentRead read_alignment(const RunSettings& settings, Log& log);

// A run on a thread of its own, for a caller that must stay responsive (the
// Python module): it polls, reads the meter, and may ask the run to stop.
class BackgroundRun {
 public:
  enum class Kind { Scores, Similarity };
  BackgroundRun(RunSettings settings, Kind kind);
  BackgroundRun(const BackgroundRun&) = delete;
  BackgroundRun& operator=(const BackgroundRun&) = delete;
  ~BackgroundRun();  // asks the run to stop and waits for it
  // Whether the run has ended, after waiting up to seconds for it.
  bool wait(double seconds);
  void stop() { log_->request_stop(); }
  Log::Meter meter() const { return log_->meter(); }
  // The results, once ended; throws the run's Failure (or bad_alloc).
  Results take();

 private:
  struct State;
  std::unique_ptr<Log> log_;
  std::shared_ptr<State> state_;
};

}  // namespace vorn
