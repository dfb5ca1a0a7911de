#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/label_desk.h"
#include "label/printer.h"

namespace stampwright {

// Prints labels on a thread of its own, one after another, so that a printer taking its 5 s
// never holds up a front end or a bay. done is called on that thread after each job; the front
// end takes the answer back to its own.
class PrintQueue {
 public:
  using Done = std::function<void(const PrintJob& job, std::optional<std::string> failure)>;

  PrintQueue(PrinterTarget target, std::string workdir, Done done);
  // Ends after the job under way; jobs not begun are dropped (their units stay held).
  ~PrintQueue();
  PrintQueue(const PrintQueue&) = delete;
  PrintQueue& operator=(const PrintQueue&) = delete;

  void Submit(PrintJob job);

 private:
  void Run();

  const PrinterTarget target_;
  const std::string workdir_;
  const Done done_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<PrintJob> jobs_;  // guarded by mutex_
  bool ending_ = false;        // guarded by mutex_
  std::thread thread_;
};

}  // namespace stampwright
