#include "app/headless/command_parser.h"

#include <charconv>
#include <limits>

namespace stampwright {
namespace {

// Splits off the next word at the first space. The rest starts after that one space, so texts
// keep their own leading blanks.
std::string_view NextWord(std::string_view& rest) {
  const size_t space = rest.find(' ');
  const std::string_view word = rest.substr(0, space);
  rest = space == rest.npos ? std::string_view{} : rest.substr(space + 1);
  return word;
}

template <typename Number>
std::optional<Number> ParseNumber(std::string_view word) {
  Number value{};
  if (word.empty() || word.front() == '+' || word.front() == '-') return std::nullopt;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc{} || end != word.data() + word.size()) return std::nullopt;
  return value;
}

std::optional<int> ParseId(std::string_view word) {
  const std::optional<uint32_t> id = ParseNumber<uint32_t>(word);
  if (!id || *id > static_cast<uint32_t>(std::numeric_limits<int>::max())) return std::nullopt;
  return static_cast<int>(*id);
}

std::optional<uint32_t> ParseMs(std::string_view word) {
  const std::optional<uint32_t> ms = ParseNumber<uint32_t>(word);
  if (!ms || *ms > kMaxCommandMs) return std::nullopt;
  return ms;
}

// True, and the word taken off rest, when rest starts with word and a space.
bool NextWordIs(std::string_view& rest, std::string_view word) {
  if (rest.size() <= word.size() || !rest.starts_with(word) || rest[word.size()] != ' ') {
    return false;
  }
  rest.remove_prefix(word.size() + 1);
  return true;
}

CommandError Error(std::string_view verb, std::string_view expected) {
  return CommandError{std::string(verb) + " expects " + std::string(expected)};
}

}  // namespace

std::variant<HeadlessCommand, CommandError> ParseHeadlessCommand(std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.find_first_not_of(" \t") == line.npos || line.front() == '#') return NoCommand{};

  std::string_view rest = line;
  const std::string_view verb = NextWord(rest);

  if (verb == "set") {
    const std::optional<int> id = ParseId(NextWord(rest));
    if (!id) return Error(verb, "<id> <text>");
    return SetCommand{*id, std::string(rest)};
  }
  if (verb == "click" || verb == "check" || verb == "uncheck") {
    const std::optional<int> id = ParseId(NextWord(rest));
    if (!id || !rest.empty()) return Error(verb, "<id>");
    if (verb == "click") return ClickCommand{*id};
    return CheckCommand{*id, verb == "check"};
  }
  if (verb == "file") {
    // "file" alone cancels; "file " with nothing after it is a path that cannot exist.
    if (line.size() == verb.size()) return FileCommand{std::nullopt};
    if (rest.empty()) return Error(verb, "<path>, or nothing to cancel the dialog");
    return FileCommand{std::string(rest)};
  }
  if (verb == "sleep") {
    const std::optional<uint32_t> ms = ParseMs(NextWord(rest));
    if (!ms || !rest.empty()) return Error(verb, "<ms> (at most one day)");
    return SleepCommand{*ms};
  }
  if (verb == "wait") {
    const std::optional<int> id = ParseId(NextWord(rest));
    const std::optional<uint32_t> ms = ParseMs(NextWord(rest));
    if (!id || !ms) return Error(verb, "<id> <ms> <text> (ms at most one day)");
    return WaitCommand{*id, *ms, std::string(rest)};
  }
  if (verb == "scan") {
    if (rest.empty()) return Error(verb, "<text>");
    return ScanCommand{std::string(rest)};
  }
  if (verb == "close") {
    if (rest.find_first_not_of(' ') != rest.npos) return Error(verb, "nothing after it");
    return CloseCommand{};
  }
  if (verb == "reprint") {
    if (rest.find_first_not_of(' ') != rest.npos) return Error(verb, "nothing after it");
    return ReprintCommand{};
  }
  return CommandError{"unknown command '" + std::string(verb) + "'"};
}

}  // namespace stampwright

namespace stampwright {

std::variant<AddressedCommand, CommandError> ParseAddressedCommand(std::string_view line) {
  std::string_view rest = line;
  if (NextWordIs(rest, "bay")) {
    const std::optional<int> bay = ParseId(NextWord(rest));
    if (!bay || *bay < 1) return CommandError{"bay expects <n> <command>"};
    auto parsed = ParseHeadlessCommand(rest);
    if (auto* error = std::get_if<CommandError>(&parsed)) return std::move(*error);
    HeadlessCommand& command = std::get<HeadlessCommand>(parsed);
    if (!std::holds_alternative<SetCommand>(command) &&
        !std::holds_alternative<ClickCommand>(command) &&
        !std::holds_alternative<CheckCommand>(command) &&
        !std::holds_alternative<FileCommand>(command) &&
        !std::holds_alternative<WaitCommand>(command) &&
        !std::holds_alternative<ReprintCommand>(command)) {
      return CommandError{
          "bay takes a page command: set, click, check, uncheck, file, wait or reprint"};
    }
    return AddressedCommand{*bay, std::move(command)};
  }
  auto parsed = ParseHeadlessCommand(line);
  if (auto* error = std::get_if<CommandError>(&parsed)) return std::move(*error);
  return AddressedCommand{0, std::move(std::get<HeadlessCommand>(parsed))};
}

}  // namespace stampwright
