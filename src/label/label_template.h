#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace stampwright {

// What one label shows: the burned unit's MAC and password, where and when it was made.
struct LabelFields {
  std::string mac;       // 12 upper-case hex digits
  std::string password;  // the device password as cam.dbr gives it
  std::string station;
  int bay = 1;
  int64_t utc_ms = 0;
  std::string chip;
};

// A ZPL label with ${NAME} fields. Every field is checked when the template is read, so that an
// unknown one stops the station at start instead of spoiling the first label on the line.
class LabelTemplate {
 public:
  // The fields a template may use.
  static constexpr std::string_view kFieldNames[] = {"MAC",     "MAC_COLONS", "PASSWORD", "STATION",
                                                     "BAY",     "DATE",       "CHIP"};

  // The template, or why it cannot be used (an unknown field, with its name; a "${" not closed).
  static std::variant<LabelTemplate, std::string> Parse(std::string_view text);
  // The built-in label: the MAC as text and as Code 128, the password as text, and a DataMatrix
  // of both.
  static const LabelTemplate& Default();

  // The ZPL with every field filled in; nothing (reason set) when a value holds a ZPL command
  // prefix ('^' or '~') or a control character, which would change the label's commands.
  std::optional<std::string> Filled(const LabelFields& fields, std::string* reason) const;

 private:
  // The text between fields, and the field after each piece (-1 after the last).
  struct Piece {
    std::string text;
    int field = -1;
  };
  std::vector<Piece> pieces_;
};

// The ZPL text of the built-in label.
extern const std::string_view kDefaultLabelZpl;

// "AA:BB:CC:DD:EE:FF" from 12 hex digits (as given otherwise).
std::string MacWithColons(std::string_view mac12);
// "YYYY-MM-DD" of a UTC time in milliseconds.
std::string UtcDate(int64_t utc_ms);

// A bay's code label ("BAY-n" as Code 128 and as text) for the gang view's scan routing.
std::string BayCodeLabel(int bay);

}  // namespace stampwright
