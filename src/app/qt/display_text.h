#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace stampwright {

// Texts reach the page as the narrow bytes the station formats. Plain ASCII is shown as it is;
// anything with bytes above 0x7F is read as Big5, the code page the station's warnings are in.
QString DisplayText(std::string_view bytes);

// A control's text handed back as narrow bytes, one per character: a character the narrow
// form cannot hold reads as '?', as the platform's narrow text calls answer.
std::string NarrowText(const QString& text);

}  // namespace stampwright
