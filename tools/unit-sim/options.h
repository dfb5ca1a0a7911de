#pragma once

#include <optional>
#include <string>

#include "protocol/simulated_unit.h"

namespace stampwright {

struct UnitSimOptions {
  std::string interface;
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

// Parses the command line; reads the --image file. Never exits.
UnitSimParse ParseUnitSimOptions(int argc, char** argv);

extern const char kUnitSimUsage[];

}  // namespace stampwright
