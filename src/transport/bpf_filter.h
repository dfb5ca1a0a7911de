#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "transport/packet_driver.h"

namespace stampwright {

// Runs a classic BPF program over a frame as a kernel would, for the instructions the frame filter
// uses (ld h abs, jeq k, ret k). Returns the number of bytes to keep: 0 rejects. An unknown
// instruction, a load past the frame's end or a jump out of the program rejects.
uint32_t RunBpfProgram(std::span<const BpfInstruction> program, const uint8_t* frame, size_t length);

}  // namespace stampwright
