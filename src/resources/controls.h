#pragma once

#include <string_view>

namespace stampwright {

// Control ids of the main page, as the page template numbers them.

// The five command buttons (only Burn is shown).
inline constexpr int kBurnButton = 1102;
inline constexpr int kSelectButton = 1101;
inline constexpr int kScanButton = 1068;
inline constexpr int kReadButton = 1110;
inline constexpr int kBrowseButton = 1084;
// Carries no command at all.
inline constexpr int kUpgradeButton = 1115;

// Edits.
inline constexpr int kNewMacEdit = 1009;
inline constexpr int kDbPathEdit = 1007;
inline constexpr int kTickCounter = 1008;
inline constexpr int kFirmwarePathEdit = 1006;

// Fields the system writes.
inline constexpr int kScanField = 1083;
inline constexpr int kConnectionField = 1012;
inline constexpr int kMacField = 1056;
inline constexpr int kPasswordField = 1057;
inline constexpr int kStatusLine = 1105;
inline constexpr int kFirmwareVersionField = 1109;
inline constexpr int kDakField = 1117;
inline constexpr int kNmkField = 1119;
inline constexpr int kChipModelField = 1121;

// Labels that have an id of their own.
inline constexpr int kNewPasswordLabel = 1104;
inline constexpr int kTimeLabel = 1106;
inline constexpr int kStatusLabel = 1108;
inline constexpr int kFirmwareLocationLabel = 1116;
inline constexpr int kNmkLabel = 1118;
inline constexpr int kFirmwareVersionLabel = 1120;
inline constexpr int kIcLabel = 1122;
// Every label without an id of its own ("Current MAC:", "New MAC:", "DB File:", "DAK:").
inline constexpr int kUnnamedLabelId = -1;

// Group boxes and radio buttons.
inline constexpr int kNotchGroup = 1113;
inline constexpr int kNotchOn = 1004;
inline constexpr int kNotchOff = 1005;
inline constexpr int kCpuGroup = 1114;
inline constexpr int kPx300Radio = 1002;
inline constexpr int kPx100Radio = 1003;

// The page and the sheet around it.
inline constexpr std::string_view kMainPageCaption = "Main";
inline constexpr int kMainPageWidthDlu = 300;
inline constexpr int kMainPageHeightDlu = 203;
inline constexpr std::string_view kMainPageFontName = "Arial";
inline constexpr int kMainPageFontPoints = 10;
inline constexpr std::string_view kSheetCaption = "Stampwright v3.0.2a (for f/w v3.0.x)";

}  // namespace stampwright
