#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace stampwright {

// One line of the headless front end's stdin, understood.
struct SetCommand {  // set <id> <text>: type into an edit control
  int id;
  std::string text;
};
struct ClickCommand {  // click <id>: press a button
  int id;
};
struct CheckCommand {  // check <id> / uncheck <id>: a radio button
  int id;
  bool checked;
};
struct FileCommand {  // file [<path>]: the answer to the next file-open dialog
  std::optional<std::string> path;  // nothing: the dialog is cancelled
};
struct SleepCommand {  // sleep <ms>: run the event loop that long
  uint32_t ms;
};
struct WaitCommand {  // wait <id> <ms> <text>: hold until the control shows exactly text
  int id;
  uint32_t ms;
  std::string text;
};
struct CloseCommand {};  // close: the close button
struct ScanCommand {     // scan <text>: a scanned line, routed to a bay as the scanner's would be
  std::string text;
};
struct ReprintCommand {};  // reprint: the bay's last label printed again (a unit held by it)
struct NoCommand {};     // a blank line or a '#' comment

using HeadlessCommand = std::variant<SetCommand, ClickCommand, CheckCommand, FileCommand,
                                     SleepCommand, WaitCommand, CloseCommand, ScanCommand,
                                     ReprintCommand, NoCommand>;

// A command and the bay it names with a "bay <n> " prefix (0: none).
struct AddressedCommand {
  int bay = 0;
  HeadlessCommand command;
};

struct CommandError {
  std::string message;
};

// The longest sleep or wait a line may ask for (one day): longer is a typing error.
inline constexpr uint32_t kMaxCommandMs = 24u * 60u * 60u * 1000u;

// Understands one line (without its newline; a trailing carriage return is ignored). Words are
// separated by one space; the text of set and wait is the rest of the line after its separator,
// verbatim, and may be empty. Pure: no state, no side effects.
std::variant<HeadlessCommand, CommandError> ParseHeadlessCommand(std::string_view line);

// The same, after an optional "bay <n> " prefix, which only the page's commands (set, click,
// check, file, wait) take.
std::variant<AddressedCommand, CommandError> ParseAddressedCommand(std::string_view line);

}  // namespace stampwright
