// The MAC database: db lookup, db encode.

#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/mac_address.h"
#include "commands.h"
#include "programming/mac_database.h"
#include "station/mac_lookup.h"

namespace stampwright::tool {
namespace {

constexpr const char* kCommand = "db";

bool IsUpperHex(const std::string& text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (!std::isxdigit(byte) || std::islower(byte)) return false;
  }
  return true;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Takes "--mac-prefix XXXXXX" (or "--mac-prefix=XXXXXX") out of the arguments. False after a
// usage message when it is malformed.
bool TakeMacPrefix(std::vector<char*>& arguments, std::string& prefix, int& error) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (std::strcmp(arguments[i], "--") == 0) break;
    const char* value = nullptr;
    size_t taken = 1;
    if (std::strcmp(arguments[i], "--mac-prefix") == 0) {
      if (i + 1 >= arguments.size()) {
        error = UsageError(kCommand, "--mac-prefix needs six hex digits");
        return false;
      }
      value = arguments[i + 1];
      taken = 2;
    } else if (std::strncmp(arguments[i], "--mac-prefix=", 13) == 0) {
      value = arguments[i] + 13;
    } else {
      continue;
    }
    prefix = Upper(value);
    if (prefix.size() != 6 || !IsUpperHex(prefix)) {
      error = UsageError(kCommand, "--mac-prefix needs six hex digits");
      return false;
    }
    arguments.erase(arguments.begin() + static_cast<long>(i),
                    arguments.begin() + static_cast<long>(i + taken));
    --i;
  }
  return true;
}

// The MAC exactly as typed and the file, as the station would look it up.
int Lookup(int argc, char** argv, const std::string& prefix) {
  if (argc != 2 && argc != 3) {
    return UsageError(kCommand, argc < 2 ? "missing argument" : "too many arguments");
  }
  MacLookupOptions options;
  options.mac_prefix = prefix;
  if (argc == 3) options.database_path = argv[2];
  // As the page has it once the MAC is typed: separators and case normalised, then at most the
  // characters the station reads of the New MAC edit.
  const std::string typed = argv[1];
  const std::string entry = NormalizedMacEntry(typed).value_or(typed).substr(0, kMacTextLength);
  const MacSearchResult result = SearchMacDatabase(entry, options);
  switch (result.status) {
    case MacSearchStatus::kCannotOpen:
      return Failure("db lookup", OpenErrorText(options.database_path).c_str());
    case MacSearchStatus::kNoRecord:
      return Failure("db lookup",
                     ("MAC " + typed + " is not in " + options.database_path).c_str());
    case MacSearchStatus::kFound:
      break;
  }
  std::printf("MAC:      %s\nPassword: %s\n", result.record.mac_text.c_str(),
              result.record.password_text.c_str());
  return kExitOk;
}

// A password of 16 characters, or the 19-character grouped form the page shows.
bool TakePassword(std::string text, std::string& password) {
  if (text.size() == kGroupedPasswordLength && text[4] == '-' && text[9] == '-' &&
      text[14] == '-') {
    text = text.substr(0, 4) + text.substr(5, 4) + text.substr(10, 4) + text.substr(15, 4);
  }
  if (text.size() != kPasswordLength) return false;
  for (const char c : text) {
    // A control character would break the text file's lines.
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  password = text;
  return true;
}

int Encode(int argc, char** argv, const std::string& prefix) {
  if (argc != 3) return UsageError(kCommand, argc < 3 ? "missing argument" : "too many arguments");
  const std::optional<MacAddress> mac = ParseMacArgument(argv[1]);
  if (!mac) return UsageError(kCommand, "MAC must be 12 hex digits");
  const std::string mac_text = mac->ToDigits();
  if (mac_text.compare(0, prefix.size(), prefix) != 0) {
    return UsageError(kCommand,
                      ("MAC " + mac_text + " does not start with the prefix " + prefix).c_str());
  }
  std::string password;
  if (!TakePassword(argv[2], password)) {
    return UsageError(kCommand, "PASSWORD must be 16 printable characters");
  }
  std::printf("%s\n", EncodeMacRecord(mac_text, password).c_str());
  return kExitOk;
}

}  // namespace

int RunDb(int argc, char** argv) {
  std::vector<char*> arguments(argv + 1, argv + argc);
  std::string prefix(kDefaultMacPrefix);
  int error = kExitUsage;
  if (!TakeMacPrefix(arguments, prefix, error)) return error;
  // Anything else that looks like an option is one we do not know, up to a "--".
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (std::strcmp(arguments[i], "--") == 0) {
      arguments.erase(arguments.begin() + static_cast<long>(i));
      break;
    }
    if (arguments[i][0] == '-' && arguments[i][1] != '\0') {
      return UsageError(kCommand, (std::string("unknown option ") + arguments[i]).c_str());
    }
  }
  if (arguments.empty()) return UsageError(kCommand, "missing sub-command (lookup or encode)");
  const int count = static_cast<int>(arguments.size());
  if (std::strcmp(arguments[0], "lookup") == 0) return Lookup(count, arguments.data(), prefix);
  if (std::strcmp(arguments[0], "encode") == 0) return Encode(count, arguments.data(), prefix);
  return UsageError(kCommand, (std::string("unknown sub-command ") + arguments[0]).c_str());
}

}  // namespace stampwright::tool
