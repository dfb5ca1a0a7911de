// The station's end of the veth tests: opens the adapter set on one interface through the pcap
// driver, finds the unit with a version query and reads its parameter module back by chunks,
// parsing the confirmations itself. With --burn it also writes the image back under a new MAC,
// commits it and waits for the unit to return under that MAC.
//
//   e2e_veth_client --interface NAME --image FILE [--burn MAC --flash FILE] [--oui XX:XX:XX]
//
// Exit 0 when every check held, 1 otherwise, 2 on bad usage.

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_order.h"
#include "programming/parameter_module.h"
#include "protocol/confirmations.h"
#include "protocol/management_message.h"
#include "protocol/requests.h"
#include "transport/adapter_set.h"
#include "transport/clock.h"
#include "transport/frame_exchange.h"
#include "transport/pcap/pcap_driver.h"

namespace stampwright {
namespace {

constexpr uint32_t kAnswerWaitMs = 250;
constexpr int kTriesPerStep = 20;

struct Client {
  AdapterSet adapters;
  DeviceSummaries summaries{};
  TransferRegisters registers;
  SystemClock clock;
  MessageContext ctx{adapters, summaries, registers, kDefaultVendorOui};
  ParameterModule module{};
  bool accepted = false;
  std::optional<MacAddress> version_source;
  uint8_t last_status = 0xFF;
  std::array<uint8_t, kReceiveCapacity> last_frame{};
};

// A minimal dispatcher: acts only on the confirmation of the pending request, from a unicast
// frame addressed to this adapter, with every field inside the frame.
ReceivePacket* Dispatch(void* context, int adapter) {
  Client& c = *static_cast<Client*>(context);
  ReceivePacket* packet = TakeReceivedFrame(c.adapters, c.summaries, adapter);
  if (packet == nullptr) return nullptr;
  const FrameReader frame(packet->frame, std::min<size_t>(packet->length, kReceiveCapacity));
  const auto header = ReadMessageHeader(frame);
  if (!header || header->destination != c.adapters.records[adapter].AdapterMac) return packet;
  if (header->mmtype != c.registers.PendingRequestType + 1) return packet;
  switch (header->mmtype) {
    case kVsVerQueryCnf:
      if (!frame.U8(kConfirmationStatusOffset)) break;
      c.last_status = *frame.U8(kConfirmationStatusOffset);
      c.version_source = header->source;
      c.accepted = true;
      break;
    case kVsRdModCnf: {
      const auto read = ParseReadConfirmation(frame);
      if (!read) break;
      c.last_status = read->status;
      if (read->status != 0 || read->offset != c.registers.ReadTransferOffset) break;
      if (!read->data_complete || read->offset + read->length > kModuleSize) break;
      std::memcpy(c.module.bytes.data() + read->offset, read->data.data(), read->data.size());
      c.registers.ReadTransferOffset += read->length;
      c.accepted = true;
      break;
    }
    case kVsWrModCnf: {
      const auto write = ParseWriteConfirmation(frame);
      if (!write) break;
      c.last_status = write->status;
      if (write->status != 0 || write->offset != c.registers.WriteTransferOffset) break;
      c.registers.WriteTransferOffset += write->length;
      c.accepted = true;
      break;
    }
    case kVsModCommitCnf: {
      const auto commit = ParseCommitConfirmation(frame);
      if (!commit) break;
      c.last_status = commit->status;
      c.accepted = commit->accepted();
      break;
    }
    default:
      break;
  }
  return packet;
}

bool Await(Client& c) {
  WaitHooks hooks;
  hooks.dispatch = &Dispatch;
  hooks.context = &c;
  hooks.awaited_accepted = &c.accepted;
  PumpFrames(c.adapters, c.clock, 0, kAnswerWaitMs, c.last_frame.data(), hooks);
  return c.accepted;
}

// Version queries until the unit answers from `expected` (any source when empty).
bool FindUnit(Client& c, std::optional<MacAddress> expected, int tries) {
  for (int i = 0; i < tries; ++i) {
    c.accepted = false;
    c.version_source.reset();
    SendVersionQuery(c.ctx, 0);
    if (Await(c) && (!expected || c.version_source == expected)) return true;
  }
  return false;
}

bool ReadModuleBack(Client& c) {
  c.registers.ReadTransferOffset = 0;
  int stalled = 0;
  while (c.registers.ReadTransferOffset < kModuleSize && stalled < kTriesPerStep) {
    const uint32_t offset = c.registers.ReadTransferOffset;
    const uint32_t length = std::min<uint32_t>(1024, kModuleSize - offset);
    c.accepted = false;
    SendReadModule(c.ctx, 0, offset, length);
    stalled = Await(c) ? 0 : stalled + 1;
  }
  return c.registers.ReadTransferOffset == kModuleSize;
}

bool WriteModuleOut(Client& c) {
  c.registers.WriteTransferOffset = 0;
  int stalled = 0;
  while (c.registers.WriteTransferOffset < kModuleSize && stalled < kTriesPerStep) {
    const uint32_t offset = c.registers.WriteTransferOffset;
    const uint32_t length = std::min<uint32_t>(1024, kModuleSize - offset);
    c.accepted = false;
    SendWriteModule(c.ctx, 0, offset, length, kModuleIdParameter, c.module);
    stalled = Await(c) ? 0 : stalled + 1;
  }
  if (c.registers.WriteTransferOffset != kModuleSize) return false;
  c.accepted = false;
  SendModuleCommit(c.ctx, 0, kModuleIdParameter);
  return Await(c);
}

std::optional<std::vector<uint8_t>> ReadFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  std::vector<uint8_t> bytes;
  uint8_t chunk[4096];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  std::fclose(file);
  return bytes;
}

bool Check(bool ok, const char* what) {
  std::fprintf(stderr, "veth-client: %s: %s\n", ok ? "ok" : "FAILED", what);
  return ok;
}

int Run(const std::string& interface, const std::vector<uint8_t>& image,
        std::optional<MacAddress> burn, const std::string& flash_path, const Oui& oui) {
  PcapDriver driver({interface});
  Client c;
  c.ctx.oui = oui;
  c.adapters.driver = &driver;
  if (!Check(OpenAllAdapters(c.adapters) == 1 && c.adapters.AdapterCount == 1,
             "the adapter set holds exactly the one interface")) {
    std::fprintf(stderr, "veth-client: %s\n", driver.Diagnostic().c_str());
    return 1;
  }
  if (!Check(FindUnit(c, std::nullopt, kTriesPerStep), "the unit answers the version query")) return 1;
  c.adapters.records[0].DeviceMac = *c.version_source;
  std::fprintf(stderr, "veth-client: unit %s\n", c.version_source->ToString().c_str());

  if (!Check(ReadModuleBack(c), "the whole module was read back by chunks")) return 1;
  if (!Check(std::memcmp(c.module.bytes.data(), image.data(), kModuleSize) == 0,
             "the module read back equals the unit's image")) {
    return 1;
  }
  if (!burn) return 0;

  c.module.SetMacAddress(*burn);
  UpdateImageChecksum(c.module);
  if (!Check(WriteModuleOut(c), "the module was written and the commit confirmed")) return 1;
  if (!Check(FindUnit(c, *burn, kTriesPerStep * 4), "the unit came back under the new MAC")) {
    return 1;
  }
  const auto flash = ReadFile(flash_path);
  return Check(flash && flash->size() == kModuleSize &&
                   std::memcmp(flash->data(), c.module.bytes.data(), kModuleSize) == 0,
               "the saved flash equals the image written")
             ? 0
             : 1;
}

}  // namespace
}  // namespace stampwright

int main(int argc, char** argv) {
  using namespace stampwright;
  std::string interface, image_path, flash_path;
  std::optional<MacAddress> burn;
  Oui oui = kDefaultVendorOui;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view flag = argv[i];
    const std::string value = argv[i + 1];
    if (flag == "--interface") {
      interface = value;
    } else if (flag == "--image") {
      image_path = value;
    } else if (flag == "--flash") {
      flash_path = value;
    } else if (flag == "--burn") {
      burn = MacAddress::Parse(value);
      if (!burn) return 2;
    } else if (flag == "--oui") {
      const auto parsed = ParseOui(value);
      if (!parsed) return 2;
      oui = *parsed;
    } else {
      return 2;
    }
  }
  if (argc % 2 == 0 || interface.empty() || image_path.empty() || (burn && flash_path.empty())) {
    std::fprintf(stderr, "usage: e2e_veth_client --interface NAME --image FILE "
                         "[--burn MAC --flash FILE] [--oui XX:XX:XX]\n");
    return 2;
  }
  const auto image = ReadFile(image_path);
  if (!image || image->size() != kModuleSize) {
    std::fprintf(stderr, "veth-client: %s is not a 7864-byte image\n", image_path.c_str());
    return 2;
  }
  return Run(interface, *image, burn, flash_path, oui);
}
