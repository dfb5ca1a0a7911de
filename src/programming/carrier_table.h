#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "programming/parameter_module.h"

namespace stampwright {

using CarrierTable = std::array<uint32_t, kCarrierCount>;

enum class ChipModel { kNone, kPx300, kPx100 };

const CarrierTable& Px300CarrierTable();  // chip-type code 2
const CarrierTable& Px100CarrierTable();  // chip-type code 1

// The table the burn copies for the selected chip model; nullptr for none.
const CarrierTable* SelectCarrierTable(ChipModel model);

// CarrierValues[i] := table[i] for all 1155 entries.
void CopyCarrierTable(const CarrierTable& table, ParameterModule& module);

// Index of the first entry where the image's carrier region differs from the table, comparing
// from entry 0; kCarrierCount when all entries are equal.
size_t FirstCarrierDifference(const ParameterModule& module, const CarrierTable& table);

// What a module read reports: PX300, PX100 or Other (kNone).
ChipModel IdentifyCarrierTable(const ParameterModule& module);

}  // namespace stampwright
