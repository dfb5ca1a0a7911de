#include "app/qt/tone_colors.h"

namespace stampwright {

ToneColors ColorsOf(VerdictTone tone) {
  switch (tone) {
    case VerdictTone::kClear:
      return {QColor(), QColor(Qt::white)};
    case VerdictTone::kNeutral:
      return {QColor("#d8d8d8"), QColor(Qt::white)};
    case VerdictTone::kPass:
      return {QColor("#1e9e3a"), QColor(Qt::white)};
    // Dark text: white on amber is hard to read from the fixture.
    case VerdictTone::kRefused:
      return {QColor("#ffb300"), QColor("#202020")};
    case VerdictTone::kFail:
      return {QColor("#c62828"), QColor(Qt::white)};
  }
  return {};
}

}  // namespace stampwright
