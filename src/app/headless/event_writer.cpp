#include "app/headless/event_writer.h"

#include <string>
#include <utility>

namespace stampwright {

std::string EventWriter::Format(nlohmann::ordered_json event, long long ms) {
  event["ms"] = ms;
  return event.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void EventWriter::Write(nlohmann::ordered_json event) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_);
  std::string line = Format(std::move(event), static_cast<long long>(ms.count()));
  line += '\n';
  if (failed_) return;
  const bool written = std::fwrite(line.data(), 1, line.size(), out_) == line.size();
  if (std::fflush(out_) == 0 && written) return;
  // The reader went away (EPIPE; SIGPIPE is ignored): the station ends as at the end of input,
  // which the handler arranges.
  failed_ = true;
  if (on_failure_) on_failure_();
}

}  // namespace stampwright
