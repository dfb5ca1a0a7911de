// Firmware files into ReadFirmwareFile. The image buffer is exactly the 542248 bytes the station
// allocates, so a read past its end is an ASan report. A file must come back whole and unchanged,
// or, when larger than the image, be refused with nothing taken.
//
// Input: [size choice, 3 bytes] then the file's bytes. The choice can grow the file, by repeating
// those bytes, to just below, at and just above the image size and the read piece boundaries,
// sizes the fuzzer would not reach by itself.

#include <algorithm>
#include <memory>
#include <vector>

#include "fuzz_input.h"
#include "station/firmware_upgrade.h"
#include "temp_file.h"

namespace stampwright::fuzz {
namespace {

size_t ChooseSize(InputReader& in, size_t body) {
  const uint8_t how = in.Byte();
  const int8_t delta = static_cast<int8_t>(in.Byte());
  const uint8_t pieces = in.Byte();
  size_t base;
  switch (how % 4) {
    case 0: return body;
    case 1: base = kFirmwareImageSize; break;
    case 2: base = kFirmwareReadPiece * (pieces % 54); break;
    default: base = body + pieces * 1024u; break;
  }
  const auto size = static_cast<long long>(base) + delta;
  return size < 0 ? 0 : static_cast<size_t>(size);
}

void Run(InputReader& in, const TempFile& file) {
  // The body is what follows the three choice bytes; its size is one of the choices.
  InputReader after_choice = in;
  (void)after_choice.Take(3);
  const std::span<const uint8_t> body = after_choice.Rest();
  const size_t size = ChooseSize(in, body.size());

  std::vector<uint8_t> contents(size);
  for (size_t i = 0; i < size; ++i) contents[i] = body.empty() ? 0 : body[i % body.size()];
  file.Write({contents});

  const auto image = std::make_unique<uint8_t[]>(kFirmwareImageSize);
  size_t length = 12345;
  const FirmwareReadResult result = ReadFirmwareFile(file.path(), image.get(), &length);
  if (size > kFirmwareImageSize) {
    Require(result == FirmwareReadResult::kTooLarge, "a file larger than the image is refused");
    Require(length == 0, "a refused file yields no length");
    return;
  }
  Require(result == FirmwareReadResult::kOk, "a file that fits is read");
  Require(length == size, "the image length is the file's size");
  Require(std::equal(contents.begin(), contents.end(), image.get()),
          "the image holds the file's bytes in order, without gaps");
}

}  // namespace
}  // namespace stampwright::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const stampwright::fuzz::TempFile file("firmware.nvm");
  stampwright::fuzz::InputReader in(data, size);
  stampwright::fuzz::Run(in, file);
  return 0;
}
