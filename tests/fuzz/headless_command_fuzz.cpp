// Lines of the headless front end's stdin into ParseHeadlessCommand. Besides not crashing, a
// line that parses must mean the same once written back in its plain form and parsed again, and
// numbers must stay within what the parser promises.

#include <string>
#include <type_traits>
#include <variant>

#include "app/headless/command_parser.h"
#include "fuzz_input.h"

namespace stampwright::fuzz {
namespace {

// The command as a line, with a carriage return after it, which the parser drops: so a text
// that itself ends in one keeps it.
std::string Written(const HeadlessCommand& command) {
  return std::visit(
      [](const auto& c) -> std::string {
        using T = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<T, SetCommand>) {
          return "set " + std::to_string(c.id) + " " + c.text + "\r";
        } else if constexpr (std::is_same_v<T, ClickCommand>) {
          return "click " + std::to_string(c.id) + "\r";
        } else if constexpr (std::is_same_v<T, CheckCommand>) {
          return (c.checked ? "check " : "uncheck ") + std::to_string(c.id) + "\r";
        } else if constexpr (std::is_same_v<T, FileCommand>) {
          return c.path ? "file " + *c.path + "\r" : "file\r";
        } else if constexpr (std::is_same_v<T, SleepCommand>) {
          return "sleep " + std::to_string(c.ms) + "\r";
        } else if constexpr (std::is_same_v<T, WaitCommand>) {
          return "wait " + std::to_string(c.id) + " " + std::to_string(c.ms) + " " + c.text + "\r";
        } else if constexpr (std::is_same_v<T, CloseCommand>) {
          return "close\r";
        } else if constexpr (std::is_same_v<T, ScanCommand>) {
          return "scan " + c.text + "\r";
        } else if constexpr (std::is_same_v<T, ReprintCommand>) {
          return "reprint\r";
        } else {
          return "\r";
        }
      },
      command);
}

bool Same(const HeadlessCommand& a, const HeadlessCommand& b) {
  if (a.index() != b.index()) return false;
  return std::visit(
      [&b](const auto& x) -> bool {
        using T = std::decay_t<decltype(x)>;
        const T& y = std::get<T>(b);
        if constexpr (std::is_same_v<T, SetCommand>) return x.id == y.id && x.text == y.text;
        if constexpr (std::is_same_v<T, ClickCommand>) return x.id == y.id;
        if constexpr (std::is_same_v<T, CheckCommand>) return x.id == y.id && x.checked == y.checked;
        if constexpr (std::is_same_v<T, FileCommand>) return x.path == y.path;
        if constexpr (std::is_same_v<T, SleepCommand>) return x.ms == y.ms;
        if constexpr (std::is_same_v<T, ScanCommand>) return x.text == y.text;
        if constexpr (std::is_same_v<T, WaitCommand>) {
          return x.id == y.id && x.ms == y.ms && x.text == y.text;
        }
        return true;
      },
      a);
}

void Check(const HeadlessCommand& command) {
  if (const auto* sleep = std::get_if<SleepCommand>(&command)) {
    Require(sleep->ms <= kMaxCommandMs, "a sleep of at most one day");
  }
  if (const auto* wait = std::get_if<WaitCommand>(&command)) {
    Require(wait->ms <= kMaxCommandMs && wait->id >= 0, "a wait of at most one day on an id");
  }
  if (const auto* set = std::get_if<SetCommand>(&command)) Require(set->id >= 0, "set id");
  if (const auto* click = std::get_if<ClickCommand>(&command)) Require(click->id >= 0, "click id");
}

}  // namespace
}  // namespace stampwright::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace stampwright;
  const std::string_view line = fuzz::AsText(std::span<const uint8_t>(data, size));
  const auto parsed = ParseHeadlessCommand(line);
  if (const auto* error = std::get_if<CommandError>(&parsed)) {
    fuzz::Require(!error->message.empty(), "an error says what is wrong");
    return 0;
  }
  const HeadlessCommand& command = std::get<HeadlessCommand>(parsed);
  fuzz::Check(command);
  if (std::holds_alternative<NoCommand>(command)) return 0;
  const std::string again = fuzz::Written(command);
  const auto reparsed = ParseHeadlessCommand(again);
  fuzz::Require(std::holds_alternative<HeadlessCommand>(reparsed), "its plain form parses");
  fuzz::Require(fuzz::Same(command, std::get<HeadlessCommand>(reparsed)),
                "its plain form means the same");
  // Behind a bay, a page command (or a bay's reprint) means the same; any other is refused.
  const auto addressed = ParseAddressedCommand("bay 3 " + again);
  const bool page_command = std::holds_alternative<SetCommand>(command) ||
                            std::holds_alternative<ClickCommand>(command) ||
                            std::holds_alternative<CheckCommand>(command) ||
                            std::holds_alternative<FileCommand>(command) ||
                            std::holds_alternative<WaitCommand>(command) ||
                            std::holds_alternative<ReprintCommand>(command);
  fuzz::Require(std::holds_alternative<AddressedCommand>(addressed) == page_command,
                "only a page command or a reprint takes a bay");
  if (page_command) {
    const AddressedCommand& to_bay = std::get<AddressedCommand>(addressed);
    fuzz::Require(to_bay.bay == 3 && fuzz::Same(command, to_bay.command),
                  "behind a bay it means the same");
  }
  return 0;
}
