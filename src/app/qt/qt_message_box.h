#pragma once

#include <QMessageBox>
#include <cstdint>
#include <string_view>

namespace stampwright {

// The icon a message box type asks for (the icon bits 0xF0 of the type).
QMessageBox::Icon MessageBoxIcon(uint32_t type);

// A modal message box with no owner window and an OK button only. It runs its own event loop,
// so the scan timer keeps firing meanwhile. Every box blocks the page until dismissed: a command
// given while a device operation waits behind a box would run inside that operation. A
// system-modal type also stays on top of every other window. Returns kIdOk once dismissed
// (closing the box counts as OK, its only button).
int ShowMessageBox(std::string_view text, std::string_view caption, uint32_t type);

}  // namespace stampwright
