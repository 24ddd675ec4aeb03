// Standard error carries the title, status lines and a stream of progress
// texts that overwrite each other on a terminal. Progress texts can number in
// the hundreds of thousands, so they are buffered here and written a few times
// per second; status lines (ending in a newline) are written at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vorn {

class Log {
 public:
  explicit Log(FILE* sink) : sink_(sink) {}
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  ~Log() { flush(); }

  // A message that completes a line: written out now.
  void status(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // A warning (its text from "** Warning" on): written out now, and kept for
  // the run record.
  void warn(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // A progress text: kept until the buffer fills or a quarter second passes;
  // dropped when quiet.
  void progress(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  void set_quiet(bool quiet) { quiet_ = quiet; }
  void flush();

  // Every warning, in order, without its line end, for the run record.
  const std::vector<std::string>& warnings() const { return warnings_; }

  // Where a long run stands, for a caller on another thread (a progress bar):
  // the stage (1 similarity rows, 2 raw scores, 3 random alignments) and its
  // count. The passes set it beside their progress texts.
  enum Stage : int { kSimilarity = 1, kRawScores = 2, kRandom = 3 };
  void meter(Stage stage, int64_t done, int64_t total) {
    stage_.store(stage, std::memory_order_relaxed);
    done_.store(done, std::memory_order_relaxed);
    total_.store(total, std::memory_order_relaxed);
  }
  struct Meter {
    int stage;
    int64_t done, total;
  };
  Meter meter() const {
    return {stage_.load(std::memory_order_relaxed), done_.load(std::memory_order_relaxed),
            total_.load(std::memory_order_relaxed)};
  }

  // A caller on another thread may ask the run to stop (Ctrl-C in Python).
  // The passes skip their remaining work once asked, and checkpoint(),
  // called outside parallel regions only, ends the run with a Failure.
  void request_stop() { stop_.store(true, std::memory_order_relaxed); }
  bool stopping() const { return stop_.load(std::memory_order_relaxed); }
  void checkpoint() const;

 private:
  void append(const char* fmt, va_list ap);
  void write(const std::string& text);
  void maybe_flush();

  static constexpr size_t kCapacity = 1 << 16;
  FILE* sink_;
  bool quiet_ = false;
  char buf_[kCapacity];
  size_t used_ = 0;
  unsigned since_clock_ = 0;
  std::chrono::steady_clock::time_point last_flush_ = std::chrono::steady_clock::now();
  std::vector<std::string> warnings_;
  std::atomic<int> stage_{0};
  std::atomic<int64_t> done_{0}, total_{0};
  std::atomic<bool> stop_{false};
};

}  // namespace vorn
