#include "app/headless/headless_page.h"

#include <string>
#include <utility>

#include "base/big5.h"

namespace stampwright {
namespace {

std::string ForDisplay(std::string_view text) {
  return HasNonAscii(text) ? Big5ToUtf8(text) : std::string(text);
}

}  // namespace

std::optional<nlohmann::ordered_json> PageChangeEvent(const PageChange& change) {
  switch (change.kind) {
    case PageChange::Kind::kText:
      return nlohmann::ordered_json{{"event", "text"}, {"id", change.id}, {"text", change.text}};
    case PageChange::Kind::kEnable:
      return nlohmann::ordered_json{{"event", "enable"}, {"id", change.id}, {"enabled", change.on}};
    case PageChange::Kind::kCheck:
      return nlohmann::ordered_json{{"event", "check"}, {"id", change.id}, {"checked", change.on}};
    case PageChange::Kind::kSelectText:
    case PageChange::Kind::kFocus:
      break;
  }
  return std::nullopt;
}

nlohmann::ordered_json MessageBoxEvent(std::string_view text, std::string_view caption,
                                       uint32_t type) {
  return {{"event", "messagebox"},
          {"caption", ForDisplay(caption)},
          {"text", ForDisplay(text)},
          {"type", type}};
}

HeadlessPage::HeadlessPage(EventSink sink) {
  SetSink([sink](const PageChange& change) {
    if (auto event = PageChangeEvent(change)) sink(std::move(*event));
  });
  SetBoxHandler([sink](std::string_view text, std::string_view caption, uint32_t type) {
    sink(MessageBoxEvent(text, caption, type));
    return kIdOk;
  });
}

}  // namespace stampwright
