#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "resources/page.h"

namespace stampwright {

enum class ControlKind { kPushButton, kEdit, kStaticText, kGroupBox, kAutoRadioButton };

// Style flags of a control. Static texts are always left-aligned; a control tabs unless it says
// otherwise.
inline constexpr uint32_t kStyleDisabled = 1u << 0;
inline constexpr uint32_t kStyleReadOnly = 1u << 1;
inline constexpr uint32_t kStyleBorder = 1u << 2;
inline constexpr uint32_t kStyleAutoScroll = 1u << 3;
inline constexpr uint32_t kStyleGroupStart = 1u << 4;
inline constexpr uint32_t kStyleNoTabStop = 1u << 5;
inline constexpr uint32_t kStyleVerticallyCentred = 1u << 6;

// One control of the main page; position and size in dialog units.
struct ControlTemplate {
  int id;
  ControlKind kind;
  int x;
  int y;
  int width;
  int height;
  std::string_view text;  // initial text
  bool shown;             // visibility at creation, never changed afterwards
  uint32_t style;

  constexpr bool Has(uint32_t flag) const { return (style & flag) != 0; }
};

inline constexpr size_t kMainPageControlCount = 36;

// The controls in template order, which is also the tab order.
std::span<const ControlTemplate, kMainPageControlCount> MainPageControls();

// The control with this id, or nullptr. Unnamed labels share kUnnamedLabelId and cannot be
// addressed, so that id finds nothing.
const ControlTemplate* FindControl(int id);

// The database path buffer the Select command fills: 256 characters with the terminator.
inline constexpr size_t kDatabasePathSize = 256;

// The Select command's file-open dialog: three filters, the first preselected, path and file
// must exist.
FileDialogRequest DatabaseFileDialogRequest();

}  // namespace stampwright
