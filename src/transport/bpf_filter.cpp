#include "transport/bpf_filter.h"

#include "base/byte_order.h"

namespace stampwright {
namespace {

constexpr uint16_t kLoadHalfAbsolute = 0x28;  // BPF_LD | BPF_H | BPF_ABS
constexpr uint16_t kJumpIfEqual = 0x15;       // BPF_JMP | BPF_JEQ | BPF_K
constexpr uint16_t kReturnConstant = 0x06;    // BPF_RET | BPF_K

}  // namespace

uint32_t RunBpfProgram(std::span<const BpfInstruction> program, const uint8_t* frame, size_t length) {
  uint32_t accumulator = 0;
  size_t pc = 0;
  // Classic BPF only jumps forward, so this ends after at most program.size() steps.
  while (pc < program.size()) {
    const BpfInstruction& instruction = program[pc];
    switch (instruction.code) {
      case kLoadHalfAbsolute:
        if (instruction.k > length || length - instruction.k < 2) return 0;
        accumulator = LoadBe16(frame + instruction.k);
        ++pc;
        break;
      case kJumpIfEqual:
        pc += 1 + (accumulator == instruction.k ? instruction.jt : instruction.jf);
        break;
      case kReturnConstant:
        return instruction.k;
      default:
        return 0;
    }
  }
  return 0;
}

}  // namespace stampwright
