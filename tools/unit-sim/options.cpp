#include "options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace stampwright {

const char kUnitSimUsage[] =
    "usage: stampwright-unit-sim --interface NAME [options]\n"
    "A simulated powerline unit answering HomePlug AV management messages on one interface.\n"
    "\n"
    "  --interface NAME      the Ethernet interface to answer on (required); repeated: one unit\n"
    "                        on each, each with its own state, all with the options below\n"
    "  --mac MAC             the unit's MAC before any commit (default 02:00:00:00:00:01)\n"
    "  --chip px300|px100|N  chip type in the version confirmation (default px300)\n"
    "  --version-text TEXT   firmware version text (default 3.0.2-sim)\n"
    "  --image FILE          the 7864-byte parameter image in flash (default: a PX300 image\n"
    "                        carrying --mac)\n"
    "  --flash FILE          save the image after each accepted parameter module commit\n"
    "                        (several interfaces: FILE.NAME for the unit on interface NAME)\n"
    "  --firmware-out FILE   save the firmware after each accepted firmware commit (FILE.NAME)\n"
    "  --capture FILE        append every 0x88E1 frame sent or received to FILE (pcapng)\n"
    "  --latency MS          delay before each answer (default 2)\n"
    "  --restart MS          silence after a parameter module commit (default 2000)\n"
    "  --commit-status N     status of an accepted commit: 0 or 0x46 (default 0)\n"
    "  --oui XX:XX:XX        OUI the unit expects and echoes (default 00:B0:52)\n"
    "  --drop PCT            lose this share of requests (0-100)\n"
    "  --seed N              seed for --drop (default 1)\n"
    "  --reject-every N      refuse every Nth write with a non-zero status\n"
    "  --wrong-offset-at N   the Nth write confirmation carries offset + 1\n"
    "  --silent-after N      stop answering after N requests\n"
    "  --return-mac MAC      come back after a restart under this MAC, not the image's\n"
    "  --help                this text\n"
    "  --version             \"stampwright-unit-sim\" and the version\n";

namespace {

std::optional<uint64_t> ParseNumber(std::string_view text, uint64_t max) {
  if (text.empty() || text.front() == '-' || text.front() == '+') return std::nullopt;
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(copy.c_str(), &end, 0);
  if (errno != 0 || end != copy.c_str() + copy.size() || value > max) return std::nullopt;
  return value;
}

std::optional<ParameterModule> ReadImage(const std::string& path, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = "cannot open image " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  ParameterModule image;
  const size_t got = std::fread(image.bytes.data(), 1, image.bytes.size(), file);
  const bool longer = std::fgetc(file) != EOF;
  std::fclose(file);
  if (got != image.bytes.size() || longer) {
    *error = "image " + path + " is not exactly 7864 bytes";
    return std::nullopt;
  }
  return image;
}

}  // namespace

std::string UnitFilePath(const std::string& path, const std::string& interface, size_t interfaces) {
  return interfaces > 1 ? path + "." + interface : path;
}

UnitSimParse ParseUnitSimOptions(int argc, char** argv) {
  UnitSimOptions o;
  std::optional<std::string> image_path;
  auto fail = [](std::string text) { return UnitSimParse{std::nullopt, std::move(text)}; };

  for (int i = 1; i < argc; ++i) {
    const std::string_view flag = argv[i];
    if (flag == "--help" || flag == "-h") {
      o.help = true;
      continue;
    }
    if (flag == "--version") {
      o.version = true;
      continue;
    }
    if (i + 1 >= argc) return fail(std::string(flag) + " needs a value");
    const std::string_view value = argv[++i];
    const auto bad = [&] { return fail("bad value for " + std::string(flag) + ": " +
                                       std::string(value)); };
    auto number = [&](uint64_t max) { return ParseNumber(value, max); };

    if (flag == "--interface") {
      if (value.empty()) return bad();
      for (const std::string& known : o.interfaces) {
        if (known == value) return fail("--interface " + std::string(value) + " given twice");
      }
      if (o.interfaces.size() == kUnitSimMaxInterfaces) {
        return fail("at most " + std::to_string(kUnitSimMaxInterfaces) + " interfaces");
      }
      o.interfaces.emplace_back(value);
    } else if (flag == "--mac" || flag == "--return-mac") {
      const auto mac = MacAddress::Parse(value);
      if (!mac) return bad();
      if (flag == "--mac") {
        o.unit.mac = *mac;
      } else {
        o.unit.faults.return_mac = *mac;
      }
    } else if (flag == "--chip") {
      if (value == "px300") {
        o.unit.chip_type = kUnitChipPx300;
      } else if (value == "px100") {
        o.unit.chip_type = kUnitChipPx100;
      } else if (const auto n = number(255)) {
        o.unit.chip_type = static_cast<uint8_t>(*n);
      } else {
        return bad();
      }
    } else if (flag == "--version-text") {
      if (value.size() > 255) return bad();
      o.unit.version_text = value;
    } else if (flag == "--image") {
      image_path = value;
    } else if (flag == "--flash") {
      o.flash_path = value;
    } else if (flag == "--firmware-out") {
      o.firmware_path = value;
    } else if (flag == "--capture") {
      if (value.empty()) return bad();
      o.capture_path = value;
    } else if (flag == "--oui") {
      const auto oui = ParseOui(value);
      if (!oui) return bad();
      o.unit.oui = *oui;
    } else if (flag == "--latency" || flag == "--restart") {
      const auto n = number(600000);
      if (!n) return bad();
      (flag == "--latency" ? o.unit.latency_ms : o.unit.restart_ms) = static_cast<uint32_t>(*n);
    } else if (flag == "--commit-status") {
      const auto n = number(255);
      if (!n) return bad();
      o.unit.commit_status = static_cast<uint8_t>(*n);
    } else if (flag == "--drop") {
      const auto n = number(100);
      if (!n) return bad();
      o.unit.faults.drop_percent = static_cast<uint32_t>(*n);
    } else if (flag == "--seed") {
      const auto n = number(UINT64_MAX);
      if (!n) return bad();
      o.unit.faults.seed = *n;
    } else if (flag == "--reject-every" || flag == "--wrong-offset-at" ||
               flag == "--silent-after") {
      const auto n = number(UINT32_MAX);
      if (!n) return bad();
      const auto count = static_cast<uint32_t>(*n);
      if (flag == "--reject-every") o.unit.faults.reject_every = count;
      if (flag == "--wrong-offset-at") o.unit.faults.wrong_offset_at = count;
      if (flag == "--silent-after") o.unit.faults.silent_after = count;
    } else {
      return fail("unknown option " + std::string(flag));
    }
  }
  if (o.help || o.version) return {o, {}};
  if (o.interfaces.empty()) return fail("--interface NAME is required");
  if (image_path) {
    std::string error;
    o.unit.image = ReadImage(*image_path, &error);
    if (!o.unit.image) return fail(error);
  }
  return {o, {}};
}

}  // namespace stampwright
