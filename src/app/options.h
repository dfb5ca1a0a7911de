#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "protocol/management_message.h"

namespace stampwright {

// The command line of both front ends.
struct Options {
  std::vector<std::string> interfaces;  // --interface, repeatable: only these adapters
  std::optional<std::string> workdir;   // --workdir: changed into before anything is read
  std::optional<Oui> oui;               // --oui XX:XX:XX
  bool full_waits = false;              // --full-waits
  std::optional<std::string> capture;   // --capture FILE: every management frame appended, pcapng
  bool classic = false;                 // --classic
  std::string mac_prefix;               // --mac-prefix, six hex digits in upper case; empty: default
  std::string journal = "journal.db";   // --journal TARGET; "none": no journal, no guard
  std::string station;                  // --station NAME; empty: the host name
  bool quiet = false;                   // --quiet: no verdict sounds
  std::vector<std::string> bays;        // --bay NAME, repeatable: each adapter a bay of its own
  bool gang = false;                    // --gang: every Ethernet adapter that is up is a bay
  int demo_bays = 1;                    // --bays N with --demo: N simulated adapters and units
  std::string mes;                      // --mes URL: the MES broker; empty: none
  std::string cfx_handle;               // --cfx-handle; empty: "Stampwright.Station.<station>"
  int mes_heartbeat = 60;               // --mes-heartbeat SECONDS
  bool mes_gzip = false;                // --mes-gzip
  bool pool_source = false;             // --mac-source pool (label: false, as always)
  std::string pool;                     // --pool FIRST-LAST; empty: a line's live leases
  size_t pool_warn = 100;               // --pool-warn N
  bool pool_confirm = false;            // --pool-confirm: the operator still presses Burn
  std::string label_printer;            // --label-printer TARGET; empty: no labels
  std::string label_template;           // --label-template FILE; empty: the built-in label
  bool label_scan_back = false;         // --label-scan-back
  bool demo = false;                    // --demo
  bool headless = false;                // --headless
  bool help = false;                    // --help
  bool version = false;                 // --version
};

// What was wrong with the command line, as one line for stderr.
struct OptionsError {
  std::string message;
};

// Parses the arguments after the program name. Options take their value either as the next
// argument or after '=' ("--workdir DIR", "--workdir=DIR").
std::variant<Options, OptionsError> ParseOptions(std::span<const std::string_view> arguments);
std::variant<Options, OptionsError> ParseOptions(int argc, const char* const* argv);

// --help: a usage line, then every option on one line of its own.
std::string UsageText();
// --version: "stampwright" and the project version.
std::string VersionText();

// The most bays the demo simulates.
inline constexpr int kMaxDemoBays = 16;

// Exit code for a command line that cannot be used.
inline constexpr int kBadOptionsExitCode = 2;

}  // namespace stampwright
