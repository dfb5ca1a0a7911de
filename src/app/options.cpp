#include "app/options.h"

#include "app/mac_pool.h"
#include "label/printer.h"

#include <cstdlib>

#include <array>
#include <cctype>

#ifndef STAMPWRIGHT_VERSION
#error "STAMPWRIGHT_VERSION comes from the project version in CMake"
#endif

namespace stampwright {
namespace {

enum class Kind { kFlag, kValue };

struct OptionSpec {
  std::string_view name;
  Kind kind;
  std::string_view value_name;
  std::string_view help;
};

constexpr auto kOptionSpecs = std::to_array<OptionSpec>({
    {"--interface", Kind::kValue, "NAME", "use only this Ethernet adapter (repeatable)"},
    {"--workdir", Kind::kValue, "DIR", "change into DIR before reading or writing any file"},
    {"--oui", Kind::kValue, "XX:XX:XX", "vendor OUI in the management messages (default 00:B0:52)"},
    {"--full-waits", Kind::kFlag, "", "wait the full time after every request, even once answered"},
    {"--capture", Kind::kValue, "FILE", "append every 0x88E1 frame sent or received to FILE (pcapng)"},
    {"--classic", Kind::kFlag, "", "the original timings, for comparison (implies --full-waits; no return watch)"},
    {"--mac-prefix", Kind::kValue, "XXXXXX", "first three MAC octets of the database, six hex digits"},
    {"--journal", Kind::kValue, "TARGET",
     "production journal file (default journal.db; none: off), or a line's postgresql:// database"},
    {"--station", Kind::kValue, "NAME", "this station's name in the journal (default: host name)"},
    {"--quiet", Kind::kFlag, "", "no sound with a verdict"},
    {"--bay", Kind::kValue, "NAME", "this Ethernet adapter is a bay of its own (repeatable; bays numbered in order)"},
    {"--gang", Kind::kFlag, "", "every Ethernet adapter that is up is a bay, in the order of its USB port"},
    {"--mes", Kind::kValue, "URL", "report to the MES: amqp://[user[:password]@]host[:port]/ADDRESS (IPC-CFX)"},
    {"--cfx-handle", Kind::kValue, "HANDLE", "this station's CFX handle (default Stampwright.Station.<station>)"},
    {"--mes-heartbeat", Kind::kValue, "SECONDS", "seconds between CFX heartbeats (default 60)"},
    {"--mes-gzip", Kind::kFlag, "", "send CFX messages gzip-compressed"},
    {"--mac-source", Kind::kValue, "label|pool", "where a burn's MAC comes from: a scanned label (default) or the pool"},
    {"--pool", Kind::kValue, "FIRST-LAST", "the pool's MACs, 12 hex digits each (default on a line: the station's leases)"},
    {"--pool-warn", Kind::kValue, "N", "warn below N free MACs in the pool (default 100)"},
    {"--pool-confirm", Kind::kFlag, "", "with the pool: the MAC is typed in and the operator presses Burn"},
    {"--label-printer", Kind::kValue, "TARGET", "print a label on PASS: tcp://HOST[:PORT], cups:QUEUE or dir:PATH"},
    {"--label-template", Kind::kValue, "FILE", "the label's ZPL template (default: the built-in label)"},
    {"--label-scan-back", Kind::kFlag, "", "a PASS is final once its printed label is scanned back"},
    {"--demo", Kind::kFlag, "", "run against a built-in simulated unit; no hardware, no root"},
    {"--bays", Kind::kValue, "N", "with --demo: N simulated adapters and units, one bay each (1 to 16)"},
    {"--headless", Kind::kFlag, "", "no window: commands on stdin, JSON events on stdout"},
    {"--help", Kind::kFlag, "", "print this help and exit"},
    {"--version", Kind::kFlag, "", "print the version and exit"},
});

const OptionSpec* FindSpec(std::string_view name) {
  for (const OptionSpec& spec : kOptionSpecs) {
    if (spec.name == name) return &spec;
  }
  return nullptr;
}

std::optional<std::string> ParseMacPrefix(std::string_view text) {
  if (text.size() != 6) return std::nullopt;
  std::string prefix;
  for (const char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c)) == 0) return std::nullopt;
    prefix += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return prefix;
}

// Applies one option with its value; an error text when the value is not usable.
std::optional<std::string> Apply(Options& options, std::string_view name, std::string_view value) {
  const std::string quoted = "'" + std::string(value) + "'";
  if (name == "--interface") {
    if (value.empty()) return "--interface needs an adapter name";
    options.interfaces.emplace_back(value);
  } else if (name == "--workdir") {
    if (value.empty()) return "--workdir needs a directory";
    options.workdir = std::string(value);
  } else if (name == "--oui") {
    const std::optional<Oui> oui = ParseOui(value);
    if (!oui) return "--oui expects XX:XX:XX, not " + quoted;
    options.oui = *oui;
  } else if (name == "--mac-prefix") {
    std::optional<std::string> prefix = ParseMacPrefix(value);
    if (!prefix) return "--mac-prefix expects six hex digits, not " + quoted;
    options.mac_prefix = std::move(*prefix);
  } else if (name == "--capture") {
    if (value.empty()) return "--capture needs a file name";
    options.capture = std::string(value);
  } else if (name == "--journal") {
    if (value.empty()) return "--journal needs a file path, or none";
    options.journal = std::string(value);
  } else if (name == "--station") {
    if (value.empty()) return "--station needs a name";
    options.station = std::string(value);
  } else if (name == "--full-waits") {
    options.full_waits = true;
  } else if (name == "--classic") {
    options.classic = true;
  } else if (name == "--quiet") {
    options.quiet = true;
  } else if (name == "--bay") {
    if (value.empty()) return "--bay needs an adapter name";
    options.bays.emplace_back(value);
  } else if (name == "--gang") {
    options.gang = true;
  } else if (name == "--bays") {
    const std::string text(value);
    char* end = nullptr;
    const long count = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || count < 1 || count > kMaxDemoBays) {
      return "--bays expects a number from 1 to " + std::to_string(kMaxDemoBays) + ", not " + quoted;
    }
    options.demo_bays = static_cast<int>(count);
  } else if (name == "--mes") {
    if (!value.starts_with("amqp://") && !value.starts_with("amqps://")) {
      return "--mes expects amqp://... or amqps://...";
    }
    options.mes = value;
  } else if (name == "--cfx-handle") {
    if (value.empty()) return "--cfx-handle needs a handle";
    options.cfx_handle = value;
  } else if (name == "--mes-heartbeat") {
    const std::string text(value);
    char* end = nullptr;
    const long seconds = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || seconds < 1 || seconds > 86400) {
      return "--mes-heartbeat expects seconds from 1 to 86400, not " + quoted;
    }
    options.mes_heartbeat = static_cast<int>(seconds);
  } else if (name == "--mes-gzip") {
    options.mes_gzip = true;
  } else if (name == "--mac-source") {
    if (value != "label" && value != "pool") return "--mac-source expects label or pool, not " + quoted;
    options.pool_source = value == "pool";
  } else if (name == "--pool") {
    std::string error;
    if (!ParseMacRange(value, &error)) return error;
    options.pool = value;
  } else if (name == "--pool-warn") {
    const std::string text(value);
    char* end = nullptr;
    const long count = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || count < 0 || count > 1000000000) {
      return "--pool-warn expects a number of MACs, not " + quoted;
    }
    options.pool_warn = static_cast<size_t>(count);
  } else if (name == "--pool-confirm") {
    options.pool_confirm = true;
  } else if (name == "--label-printer") {
    auto target = ParsePrinterTarget(value);
    if (const auto* error = std::get_if<std::string>(&target)) return *error;
    options.label_printer = value;
  } else if (name == "--label-template") {
    if (value.empty()) return "--label-template needs a file";
    options.label_template = value;
  } else if (name == "--label-scan-back") {
    options.label_scan_back = true;
  } else if (name == "--demo") {
    options.demo = true;
  } else if (name == "--headless") {
    options.headless = true;
  } else if (name == "--help") {
    options.help = true;
  } else if (name == "--version") {
    options.version = true;
  }
  return std::nullopt;
}

}  // namespace

std::variant<Options, OptionsError> ParseOptions(std::span<const std::string_view> arguments) {
  Options options;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    std::string_view name = argument;
    std::optional<std::string_view> inline_value;
    if (const size_t equals = argument.find('='); argument.starts_with("--") && equals != argument.npos) {
      name = argument.substr(0, equals);
      inline_value = argument.substr(equals + 1);
    }
    const OptionSpec* spec = FindSpec(name);
    if (spec == nullptr) {
      if (!argument.starts_with("-")) return OptionsError{"unexpected argument '" + std::string(argument) + "'"};
      return OptionsError{"unknown option '" + std::string(name) + "'"};
    }
    std::string_view value;
    if (spec->kind == Kind::kFlag) {
      if (inline_value) return OptionsError{std::string(name) + " takes no value"};
    } else if (inline_value) {
      value = *inline_value;
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      return OptionsError{std::string(name) + " needs a value (" + std::string(spec->value_name) + ")"};
    }
    if (std::optional<std::string> error = Apply(options, name, value)) return OptionsError{*error};
  }
  if (options.demo && !options.interfaces.empty()) {
    return OptionsError{"--interface cannot be combined with --demo (the demo has its own adapter)"};
  }
  if (options.demo && (options.gang || !options.bays.empty())) {
    return OptionsError{"--bay and --gang cannot be combined with --demo (use --bays N)"};
  }
  if (!options.demo && options.demo_bays != 1) return OptionsError{"--bays is for --demo"};
  if (options.gang && !options.bays.empty()) {
    return OptionsError{"--gang takes every adapter; it cannot be combined with --bay"};
  }
  if (!options.interfaces.empty() && (options.gang || !options.bays.empty())) {
    return OptionsError{"--interface cannot be combined with --bay or --gang"};
  }
  if (!options.pool_source && (!options.pool.empty() || options.pool_confirm)) {
    return OptionsError{"--pool and --pool-confirm are for --mac-source pool"};
  }
  if (options.label_scan_back && options.label_printer.empty()) {
    return OptionsError{"--label-scan-back needs --label-printer"};
  }
  if (options.pool_source && options.journal == "none") {
    return OptionsError{"--mac-source pool needs the journal: it decides which MACs are free"};
  }
  return options;
}

std::variant<Options, OptionsError> ParseOptions(int argc, const char* const* argv) {
  std::vector<std::string_view> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return ParseOptions(std::span<const std::string_view>(arguments));
}

std::string UsageText() {
  std::string text = "usage: stampwright [options]\n";
  for (const OptionSpec& spec : kOptionSpecs) {
    std::string left = "  " + std::string(spec.name);
    if (spec.kind == Kind::kValue) left += " " + std::string(spec.value_name);
    if (left.size() < 26) left.resize(26, ' ');
    text += left + " " + std::string(spec.help) + "\n";
  }
  return text;
}

std::string VersionText() { return std::string("stampwright ") + STAMPWRIGHT_VERSION + "\n"; }

}  // namespace stampwright
