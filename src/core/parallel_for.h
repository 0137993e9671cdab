#pragma once
// A deterministic parallel loop over fixed chunks of work.
//
// The work of an evaluation is cut into chunks whose boundaries depend on
// the size of the problem alone (chunkCount below), never on the number of
// threads. Each chunk writes its own partial results; the caller combines
// them in chunk order afterwards. Which thread ran a chunk therefore cannot
// change a single bit of the result: one, two or seven threads give the same
// numbers on every run.
//
// The pool's threads live as long as the pool (one run); `run` hands them the
// chunks through an atomic counter and returns when every chunk is done. The
// calling thread works on chunks too. Worker threads run only the given
// function: anything that must stay on the calling thread (host services,
// messages) stays outside it.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace kurv {

// Chunks of `count` items of at least `smallest` items each and at most
// `most` chunks, as a function of `count` alone: the chunk size.
inline std::size_t chunkSize(std::size_t count, std::size_t smallest, std::size_t most) {
  const std::size_t even = (count + most - 1) / most;
  return std::max<std::size_t>(std::max<std::size_t>(smallest, even), 1);
}

class WorkerPool {
 public:
  // `threads` threads in all, the caller's included; 0 or below: one per core.
  explicit WorkerPool(int threads) {
    int n = threads > 0 ? threads : static_cast<int>(std::thread::hardware_concurrency());
    if (n < 1) n = 1;
    // A thread the system refuses to start leaves the pool smaller: the
    // chunks and hence the results are the same with any number of threads.
    for (int t = 1; t < n; ++t) {
      try {
        workers_.emplace_back([this] { workerLoop(); });
      } catch (const std::system_error&) {
        break;
      }
    }
    size_ = n;
    actual_ = static_cast<int>(workers_.size()) + 1;
  }
  ~WorkerPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
  }
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Threads asked for, and threads running (the caller's included).
  int size() const { return size_; }
  int running() const { return actual_; }

  // Calls task(c) once for every chunk c in [0, nChunks), spread over the
  // pool; returns when all are done.
  void run(int nChunks, const std::function<void(int)>& task) {
    if (nChunks <= 0) return;
    if (workers_.empty() || nChunks == 1) {
      for (int c = 0; c < nChunks; ++c) task(c);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      task_ = &task;
      nChunks_ = nChunks;
      next_.store(0);
      pending_ = static_cast<int>(workers_.size());
      ++generation_;
    }
    wake_.notify_all();
    drain();
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
    task_ = nullptr;
  }

 private:
  void drain() {
    for (int c = next_.fetch_add(1); c < nChunks_; c = next_.fetch_add(1)) (*task_)(c);
  }

  void workerLoop() {
    long seen = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
        if (stop_) return;
        seen = generation_;
      }
      drain();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (--pending_ == 0) done_.notify_one();
      }
    }
  }

  int size_ = 1;
  int actual_ = 1;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const std::function<void(int)>* task_ = nullptr;
  int nChunks_ = 0;
  std::atomic<int> next_{0};
  int pending_ = 0;
  long generation_ = 0;
  bool stop_ = false;
};

}  // namespace kurv
