#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <ostream>

// Readable failure messages for the Qt values the tests compare.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* out) {
  *out << '{';
  for (const QString& text : list) *out << " \"" << text.toStdString() << '"';
  *out << " }";
}
inline void PrintTo(const QRect& r, std::ostream* out) {
  *out << '(' << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height() << ')';
}
inline void PrintTo(const QSize& s, std::ostream* out) { *out << s.width() << " x " << s.height(); }
