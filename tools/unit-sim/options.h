#pragma once

#include <optional>
#include <string>
#include <vector>

#include "protocol/simulated_unit.h"

namespace stampwright {

// The most interfaces one simulator serves: a gang of bays, with room to spare.
inline constexpr size_t kUnitSimMaxInterfaces = 32;

struct UnitSimOptions {
  // One simulated unit per interface, each configured as `unit`, in the order given.
  std::vector<std::string> interfaces;
  SimulatedUnitConfig unit;
  std::optional<std::string> flash_path;  // the committed image is saved here after each commit
  std::optional<std::string> firmware_path;  // the committed firmware is saved here
  std::optional<std::string> capture_path;   // every management frame appended here, pcapng
  bool help = false;
  bool version = false;
};

struct UnitSimParse {
  std::optional<UnitSimOptions> options;
  std::string error;  // set when options is empty
};

// With several interfaces each unit saves to its own file: the path given, then "." and the
// interface's name; with one, the path as given.
std::string UnitFilePath(const std::string& path, const std::string& interface, size_t interfaces);

// Parses the command line; reads the --image file. Never exits.
UnitSimParse ParseUnitSimOptions(int argc, char** argv);

extern const char kUnitSimUsage[];

}  // namespace stampwright
