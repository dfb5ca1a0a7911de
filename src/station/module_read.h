#pragma once

namespace stampwright {

struct StationCore;
struct ParameterModule;

// Warning texts of the module read. Text B is kept in Big5, as the page hands it to the front end.
extern const char kReadWarningTextA[];  // "Not PX300 Class B, Please change!!"
extern const char kReadWarningTextB[];  // Big5 for "不是 PX100 Class B, 請更換!!"
extern const char kReadModuleCaption[];

// Reads the unit's parameter module into the station's image, identifies its chip table and
// enables Burn when it fits the selected chip model.
void ReadModule(StationCore& station);

// The chunk loop of the read alone, into `into` (the station's own image or a separate buffer,
// which leaves the station's image as it was): the same VS_RD_MOD requests, and the same status
// texts unless quiet. True when all 7864 bytes arrived.
bool ReadModuleImage(StationCore& station, ParameterModule& into, bool quiet = false);

// Chip identification and its outcome on the page, on the image as it stands.
void IdentifyChip(StationCore& station);

}  // namespace stampwright
