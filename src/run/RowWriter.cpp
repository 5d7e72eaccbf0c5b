#include "run/RowWriter.h"

#include "base/Errors.h"
#include "model/Modules.h"

namespace drivanto {

namespace {

// Rows per chunk, and chunks waiting at most: the run waits for the writer
// rather than holding more.
constexpr std::size_t kChunkRows = 256;
constexpr std::size_t kMostWaiting = 8;

}  // namespace

RowWriter::RowWriter(Sim& sim) : sim_(sim) {
  // The thread and the chunk's room come with the first rows: a run without
  // result files has none.
  sim_.rowSink.sink = this;
}

RowWriter::~RowWriter() {
  try {
    Finish();
  } catch (const std::exception&) {
    // The run has said why already, or says it after this.
  }
}

void RowWriter::Rows(Sim& sim) {
  const State& s = sim.s;
  const bool one = s.outputFlags.At(1) == '1' && s.resfil1status == 'K';
  const bool two = s.outputFlags.At(2) == '1' && s.resfil2status == 'K';
  if (!one && !two) return;
  // A file of a resumed run is opened here, before the writer has a row of
  // it.
  // (Asked once: the file's object is the writer's while it writes.)
  if (one && !open1_) {
    if (!sim.result1.IsOpen()) EnsureResultFileOpen(sim, 1);
    open1_ = true;
  }
  if (two && !open2_) {
    if (!sim.result2.IsOpen()) EnsureResultFileOpen(sim, 2);
    open2_ = true;
  }
  if (filling_.files.capacity() == 0) {
    filling_.files.reserve(kChunkRows);
    filling_.values.reserve(kChunkRows * 2 * kResultColumns);
  }
  filling_.files.push_back(static_cast<uint8_t>((one ? 1 : 0) | (two ? 2 : 0)));
  const std::size_t at = filling_.values.size();
  filling_.values.resize(at + 2 * kResultColumns);
  if (one) CaptureResultRow1(s, filling_.values.data() + at);
  if (two) CaptureResultRow2(s, filling_.values.data() + at + kResultColumns);
  if (filling_.files.size() >= kChunkRows) HandOn();
}

void RowWriter::HandOn() {
  if (filling_.files.empty()) return;
  if (!thread_.joinable()) thread_ = std::thread([this] { Loop(); });
  std::unique_lock<std::mutex> lock(mutex_);
  room_.wait(lock, [this] { return queue_.size() < kMostWaiting; });
  queue_.push_back(std::move(filling_));
  lock.unlock();
  work_.notify_one();
  // A chunk the writer is done with, when there is one: its memory is
  // reused rather than allocated anew.
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!spare_.empty()) {
      filling_ = std::move(spare_.back());
      spare_.pop_back();
    } else {
      filling_ = Chunk();
    }
  }
  filling_.files.clear();
  filling_.values.clear();
  filling_.files.reserve(kChunkRows);
  filling_.values.reserve(kChunkRows * 2 * kResultColumns);
}

void RowWriter::Loop() {
  Chunk chunk;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!chunk.files.empty() && spare_.size() < 2) spare_.push_back(std::move(chunk));
      work_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (queue_.empty()) return;
      chunk = std::move(queue_.front());
      queue_.pop_front();
    }
    room_.notify_one();
    if (!failed_.load()) {
      try {
        for (std::size_t r = 0; r < chunk.files.size(); ++r) {
          const double* v = chunk.values.data() + r * 2 * kResultColumns;
          if (chunk.files[r] & 1) FormatResultRow(sim_.result1, 1, v);
          if (chunk.files[r] & 2) FormatResultRow(sim_.result2, 2, v + kResultColumns);
        }
      } catch (...) {
        error_ = std::current_exception();
        failed_.store(true);
      }
    }
  }
}

void RowWriter::ThrowIfFailed() const {
  if (failed_.load()) std::rethrow_exception(error_);
}

void RowWriter::Finish() {
  if (!finished_) {
    finished_ = true;
    HandOn();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    work_.notify_one();
    if (thread_.joinable()) thread_.join();
    sim_.rowSink.sink = nullptr;
  }
  ThrowIfFailed();
}

}  // namespace drivanto
