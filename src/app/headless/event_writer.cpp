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
  // A reader that went away must not stop the station; there is nobody left to tell.
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fflush(out_);
}

}  // namespace stampwright
