#include "app/qt/dialog_units.h"

#include <QFont>
#include <QFontMetrics>
#include <QRect>
#include <QString>
#include <limits>

namespace stampwright {

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  const int64_t product = static_cast<int64_t>(a) * b;
  const bool negative = (product < 0) != (c < 0);
  const int64_t magnitude = product < 0 ? -product : product;
  const int64_t divisor = c < 0 ? -static_cast<int64_t>(c) : c;
  const int64_t quotient = (magnitude + divisor / 2) / divisor;
  if (quotient > std::numeric_limits<int32_t>::max()) return -1;
  return static_cast<int32_t>(negative ? -quotient : quotient);
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(letters + 26) / 52, metrics.height()};
}

QRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int width, int height) {
  return QRect(MulDiv(x, units.cx, 4), MulDiv(y, units.cy, 8), MulDiv(width, units.cx, 4),
               MulDiv(height, units.cy, 8));
}

}  // namespace stampwright
