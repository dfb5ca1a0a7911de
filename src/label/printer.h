#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace stampwright {

// Where labels go: a network printer's raw port, a CUPS queue taking raw jobs, or a directory
// (one file per label, for tests, the demo and printers fed by a watched folder).
struct PrinterTarget {
  enum class Kind { kTcp, kCups, kDirectory };
  Kind kind = Kind::kDirectory;
  std::string host;       // kTcp
  uint16_t port = 9100;   // kTcp
  std::string queue;      // kCups
  std::string directory;  // kDirectory, as given (relative: in the working directory)
  std::string text;       // as the operator wrote it, for records and messages
};

inline constexpr uint16_t kRawPrinterPort = 9100;
// A printer that has not taken the label by then has failed; the unit is held for a reprint.
inline constexpr std::chrono::milliseconds kPrintLimit{5000};

// "tcp://HOST[:PORT]", "cups:QUEUE" or "dir:PATH"; else why not.
std::variant<PrinterTarget, std::string> ParsePrinterTarget(std::string_view text);

// Sends one label to target, taking at most limit; nothing when the printer took it, else the
// reason in a few words. name: the label's file name in a directory (the MAC). workdir: where a
// relative directory is taken.
std::optional<std::string> PrintLabel(const PrinterTarget& target, const std::string& name,
                                      const std::string& zpl, const std::string& workdir = {},
                                      std::chrono::milliseconds limit = kPrintLimit);

}  // namespace stampwright
