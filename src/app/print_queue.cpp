#include "app/print_queue.h"

#include <utility>

namespace stampwright {

PrintQueue::PrintQueue(PrinterTarget target, std::string workdir, Done done)
    : target_(std::move(target)), workdir_(std::move(workdir)), done_(std::move(done)) {
  thread_ = std::thread([this] { Run(); });
}

PrintQueue::~PrintQueue() {
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
    jobs_.clear();
  }
  wake_.notify_all();
  thread_.join();
}

void PrintQueue::Submit(PrintJob job) {
  {
    const std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_all();
}

void PrintQueue::Run() {
  for (;;) {
    PrintJob job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return ending_ || !jobs_.empty(); });
      if (ending_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    std::optional<std::string> failure = PrintLabel(target_, job.mac, job.zpl, workdir_);
    done_(job, std::move(failure));
  }
}

}  // namespace stampwright
