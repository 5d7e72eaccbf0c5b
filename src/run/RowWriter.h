#pragma once
// The result files' rows written beside the run by a thread of their own:
// after each step the run takes the rows' values from the state (a copy of
// thirty numbers) and hands them on in chunks; the thread formats and writes
// them, so formatting and writing cost the run's own thread nothing. The
// files hold the same bytes as when the run writes them itself.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "model/Sim.h"

namespace drivanto {

class RowWriter : public ResultRowSink {
 public:
  // Hands the record's rows to this writer until Finish.
  explicit RowWriter(Sim& sim);
  ~RowWriter() override;
  RowWriter(const RowWriter&) = delete;
  RowWriter& operator=(const RowWriter&) = delete;

  // After a step (the run's thread): the rows the settings switch on.
  void Rows(Sim& sim) override;
  // Throws the IoError a write met (the file is cut back to its whole rows,
  // the rows after it are dropped), if one did.
  void ThrowIfFailed() const;
  // Writes every row handed on, ends the thread and gives the record its
  // rows back; then throws what ThrowIfFailed would. Safe to call twice.
  void Finish();

 private:
  struct Chunk {
    std::vector<uint8_t> files;  // per row: 1 file 1, 2 file 2, 3 both
    std::vector<double> values;  // per row: file 1's fifteen, then file 2's
  };
  void HandOn();
  void Loop();

  // What the writer's thread reads for every row, and what the run changes
  // after every step, each on cache lines of its own: sharing one would pass
  // the line between the two threads for every row.
  alignas(64) Sim& sim_;
  alignas(64) Chunk filling_;
  bool open1_ = false, open2_ = false;  // the result files were seen open
  alignas(64) std::mutex mutex_;
  std::condition_variable work_, room_;
  std::deque<Chunk> queue_;
  std::vector<Chunk> spare_;  // written, for the run to fill again
  bool stop_ = false;
  bool finished_ = false;
  std::atomic<bool> failed_{false};
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace drivanto
