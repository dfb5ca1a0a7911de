#include "label/label_template.h"

#include <ctime>
#include <iterator>

namespace stampwright {

// ^FO field origin, ^A0 scalable font (height, width in dots), ^BC Code 128 (height, no
// interpretation line: the text is printed above it), ^BX DataMatrix (module size 5, ECC 200).
const std::string_view kDefaultLabelZpl =
    "^XA\n"
    "^FO30,20^A0N,34,34^FDMAC ${MAC_COLONS}^FS\n"
    "^FO30,64^BCN,70,N,N,N^FD${MAC}^FS\n"
    "^FO30,150^A0N,30,30^FDPassword ${PASSWORD}^FS\n"
    "^FO30,190^A0N,22,22^FD${CHIP}  ${STATION} bay ${BAY}  ${DATE}^FS\n"
    "^FO470,20^BXN,5,200^FD${MAC} ${PASSWORD}^FS\n"
    "^XZ\n";

namespace {

std::optional<int> FieldNumber(std::string_view name) {
  for (size_t i = 0; i < std::size(LabelTemplate::kFieldNames); ++i) {
    if (LabelTemplate::kFieldNames[i] == name) return static_cast<int>(i);
  }
  return std::nullopt;
}

std::string FieldValue(int field, const LabelFields& fields) {
  switch (field) {
    case 0: return fields.mac;
    case 1: return MacWithColons(fields.mac);
    case 2: return fields.password;
    case 3: return fields.station;
    case 4: return std::to_string(fields.bay);
    case 5: return UtcDate(fields.utc_ms);
    case 6: return fields.chip;
    default: return {};
  }
}

}  // namespace

std::variant<LabelTemplate, std::string> LabelTemplate::Parse(std::string_view text) {
  LabelTemplate parsed;
  std::string piece;
  size_t at = 0;
  while (at < text.size()) {
    const size_t open = text.find("${", at);
    if (open == text.npos) {
      piece.append(text.substr(at));
      break;
    }
    piece.append(text.substr(at, open - at));
    const size_t close = text.find('}', open + 2);
    if (close == text.npos) return std::string("the label template has a \"${\" without its \"}\"");
    const std::string_view name = text.substr(open + 2, close - open - 2);
    const std::optional<int> field = FieldNumber(name);
    if (!field) {
      return "the label template has an unknown field ${" + std::string(name) + "}";
    }
    parsed.pieces_.push_back({std::move(piece), *field});
    piece.clear();
    at = close + 1;
  }
  parsed.pieces_.push_back({std::move(piece), -1});
  return parsed;
}

const LabelTemplate& LabelTemplate::Default() {
  static const LabelTemplate built_in = std::get<LabelTemplate>(Parse(kDefaultLabelZpl));
  return built_in;
}

std::optional<std::string> LabelTemplate::Filled(const LabelFields& fields,
                                                 std::string* reason) const {
  std::string zpl;
  for (const Piece& piece : pieces_) {
    zpl += piece.text;
    if (piece.field < 0) continue;
    const std::string value = FieldValue(piece.field, fields);
    for (const char c : value) {
      if (c == '^' || c == '~' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
        *reason = "the label's " + std::string(kFieldNames[piece.field]) +
                  " holds a character ZPL would take as a command";
        return std::nullopt;
      }
    }
    zpl += value;
  }
  return zpl;
}

std::string MacWithColons(std::string_view mac12) {
  if (mac12.size() != 12) return std::string(mac12);
  std::string text;
  for (size_t i = 0; i < 12; i += 2) {
    if (i > 0) text += ':';
    text.append(mac12.substr(i, 2));
  }
  return text;
}

std::string UtcDate(int64_t utc_ms) {
  const std::time_t seconds = static_cast<std::time_t>(utc_ms / 1000);
  std::tm parts{};
  if (gmtime_r(&seconds, &parts) == nullptr) return {};
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
  return text;
}

std::string BayCodeLabel(int bay) {
  const std::string code = "BAY-" + std::to_string(bay);
  return "^XA\n^FO40,30^BCN,100,N,N,N^FD" + code + "^FS\n^FO40,150^A0N,50,50^FD" + code +
         "^FS\n^XZ\n";
}

}  // namespace stampwright
