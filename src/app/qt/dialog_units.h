#pragma once

#include <cstdint>

class QFont;
class QRect;

namespace stampwright {

// a * b / c in 64 bits, rounded half away from zero; -1 when c is 0 or the result does not fit,
// as the window platform's MulDiv answers.
int32_t MulDiv(int32_t a, int32_t b, int32_t c);

// The dialog base units of a font: the average width of the 52 Latin letters and the line
// height, in pixels. Four horizontal and eight vertical dialog units make one of each.
struct DialogBaseUnits {
  int cx = 0;
  int cy = 0;
};

DialogBaseUnits BaseUnitsOf(const QFont& font);

// A rectangle in dialog units as the dialog manager places a control: origin and size are
// converted separately.
QRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int width, int height);

}  // namespace stampwright
