#include "resources/page_template.h"

#include <algorithm>
#include <array>

#include "resources/controls.h"

namespace stampwright {
namespace {

using enum ControlKind;

constexpr auto kControls = std::to_array<ControlTemplate>({
    {kBurnButton, kPushButton, 175, 22, 36, 12, "Burn", true, kStyleDisabled},
    {kNewMacEdit, kEdit, 59, 21, 87, 14, "", true, kStyleBorder | kStyleAutoScroll},
    {kSelectButton, kPushButton, 260, 7, 36, 12, "Select", false, 0},
    {kDbPathEdit, kEdit, 238, 89, 38, 12, "", false, kStyleBorder | kStyleAutoScroll},
    {kScanButton, kPushButton, 260, 43, 36, 13, "Scan", false, kStyleNoTabStop},
    {kScanField, kStaticText, 77, 153, 46, 8, "Auto Scan off", true, 0},
    {kConnectionField, kStaticText, 9, 153, 50, 8, "Not Connected", true, 0},
    {kUnnamedLabelId, kStaticText, 196, 91, 28, 8, "DB File:", false, 0},
    {kUnnamedLabelId, kStaticText, 9, 24, 36, 8, "New MAC:", true, 0},
    {kMacField, kStaticText, 62, 8, 75, 8, "AA:AA:AA:AA:AA:AA", true, 0},
    {kNewPasswordLabel, kStaticText, 9, 41, 52, 8, "New Password:", true, 0},
    {kPasswordField, kStaticText, 70, 40, 112, 8, "    -    -    -", true, 0},
    {kTimeLabel, kStaticText, 112, 91, 18, 8, "Time:", false, 0},
    {kTickCounter, kEdit, 136, 90, 23, 12, "", false, kStyleBorder | kStyleReadOnly},
    {kStatusLabel, kStaticText, 9, 56, 23, 9, "Status:", true, 0},
    {kStatusLine, kStaticText, 37, 55, 208, 11, "START", true, kStyleVerticallyCentred},
    {kUnnamedLabelId, kStaticText, 179, 191, 18, 8, "DAK:", false, 0},
    {kFirmwareVersionField, kStaticText, 57, 72, 182, 8, "", true, 0},
    {kReadButton, kPushButton, 260, 60, 36, 13, "Read", false, 0},
    {kNotchGroup, kGroupBox, 129, 106, 111, 23, "Notch", false, 0},
    {kNotchOn, kAutoRadioButton, 138, 115, 47, 10, "Notch On", false, kStyleGroupStart},
    {kNotchOff, kAutoRadioButton, 189, 115, 47, 10, "Notch Off", false, 0},
    {kCpuGroup, kGroupBox, 9, 107, 110, 27, "CPU Setting", false, 0},
    {kPx300Radio, kAutoRadioButton, 17, 118, 42, 10, "PX 300", false, kStyleGroupStart},
    {kPx100Radio, kAutoRadioButton, 66, 118, 42, 10, "PX 100", false, 0},
    {kUpgradeButton, kPushButton, 255, 138, 37, 12, "Upgrade", false, 0},
    {kBrowseButton, kPushButton, 211, 138, 36, 12, "Browse", false, 0},
    {kFirmwareLocationLabel, kStaticText, 10, 139, 64, 8, "Firmware Location:", false, 0},
    {kFirmwarePathEdit, kEdit, 78, 138, 122, 12, "", false, kStyleBorder | kStyleAutoScroll},
    {kDakField, kStaticText, 209, 190, 82, 8, "AA AA AA AA AA AA AA AA AA AA AA AA AA AA AA AA ",
     false, 0},
    {kNmkLabel, kStaticText, 66, 191, 20, 8, "NMK:", false, 0},
    // Starts out holding the default network password; the burn replaces it with the NMK.
    {kNmkField, kStaticText, 102, 191, 69, 8, "DefaultNPW", false, 0},
    {kFirmwareVersionLabel, kStaticText, 10, 72, 36, 8, "F/W Ver.:", true, 0},
    {kChipModelField, kStaticText, 30, 89, 49, 8, "", true, 0},
    {kIcLabel, kStaticText, 10, 89, 10, 8, "IC:", true, 0},
    {kUnnamedLabelId, kStaticText, 9, 8, 46, 8, "Current MAC:", true, 0},
});

static_assert(kControls.size() == kMainPageControlCount);

// Every control but the unnamed labels must be reachable by its id alone.
constexpr bool IdsAreUnique() {
  for (size_t i = 0; i < kControls.size(); ++i) {
    if (kControls[i].id == kUnnamedLabelId) continue;
    for (size_t j = i + 1; j < kControls.size(); ++j) {
      if (kControls[i].id == kControls[j].id) return false;
    }
  }
  return true;
}
static_assert(IdsAreUnique());

// Everything has to fit on the page.
constexpr bool ControlsFitThePage() {
  return std::all_of(kControls.begin(), kControls.end(), [](const ControlTemplate& c) {
    return c.x >= 0 && c.y >= 0 && c.width > 0 && c.height > 0 &&
           c.x + c.width <= kMainPageWidthDlu && c.y + c.height <= kMainPageHeightDlu;
  });
}
static_assert(ControlsFitThePage());

}  // namespace

std::span<const ControlTemplate, kMainPageControlCount> MainPageControls() { return kControls; }

const ControlTemplate* FindControl(int id) {
  if (id == kUnnamedLabelId) return nullptr;
  const auto* it = std::find_if(kControls.begin(), kControls.end(),
                                [id](const ControlTemplate& c) { return c.id == id; });
  return it == kControls.end() ? nullptr : &*it;
}

FileDialogRequest DatabaseFileDialogRequest() {
  FileDialogRequest request;
  request.filters = {{"ALL (*.db;*.txt)", "*.db;*.txt"},
                     {"Text (*.txt)", "*.txt"},
                     {"DB (*.db)", "*.db"}};
  request.filter_index = 1;
  request.flags = kOfnPathMustExist | kOfnFileMustExist;
  request.max_path = kDatabasePathSize;
  return request;
}

}  // namespace stampwright
