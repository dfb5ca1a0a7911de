#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

#include "resources/page_model.h"

namespace stampwright {

// The JSON event for one change of the page; nothing for a change a window only shows (the
// selection, the focus).
std::optional<nlohmann::ordered_json> PageChangeEvent(const PageChange& change);
// The JSON event for a message box; a Big5 text reads as UTF-8.
nlohmann::ordered_json MessageBoxEvent(std::string_view text, std::string_view caption,
                                       uint32_t type);

// The main page without a window: the page's state, and one JSON event for everything the
// system does to it. Message boxes are answered OK at once; a file dialog takes the answer
// queued for it, or is cancelled.
class HeadlessPage final : public PageModel {
 public:
  using EventSink = std::function<void(nlohmann::ordered_json event)>;

  explicit HeadlessPage(EventSink sink);
};

}  // namespace stampwright
