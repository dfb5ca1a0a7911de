#include "protocol/requests.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "resources/controls.h"
#include "transport/adapter_set.h"

namespace stampwright {
namespace {

const MacAddress kAdapterMac{{0x02, 0x5A, 0x00, 0x00, 0x00, 0x01}};
const MacAddress kDeviceMac{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}};

// One adapter; every frame handed to it is kept with what the transfer registers
// held at that moment.
class CapturingDriver final : public PacketDriver {
 public:
  struct Sent {
    std::vector<uint8_t> frame;
    uint32_t pending;
    uint32_t chunk_length = 0;
  };

  std::function<void(Sent&)> on_send;
  std::vector<Sent> sent;

  std::optional<std::vector<std::string>> EnumerateAdapters() override {
    return std::vector<std::string>{"eth0"};
  }
  Handle OpenAdapter(const std::string&) override { return 7; }
  void CloseAdapter(Handle) override {}
  bool QueryCurrentAddress(Handle, MacAddress* address) override {
    *address = kAdapterMac;
    return true;
  }
  bool SetPacketFilter(Handle, uint32_t) override { return true; }
  bool SetBpfProgram(Handle, std::span<const BpfInstruction>) override { return true; }
  bool SendPacket(Handle, const uint8_t* frame, size_t length) override {
    Sent s{std::vector<uint8_t>(frame, frame + length), 0, {}};
    if (on_send) on_send(s);
    sent.push_back(std::move(s));
    return true;
  }
  size_t ReceivePacket(Handle, uint8_t*, size_t) override { return 0; }
  bool WaitReadable(Handle, uint32_t) override { return false; }
};

class RequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    adapters.driver = &driver;
    ASSERT_EQ(OpenAllAdapters(adapters), 1);
    ASSERT_EQ(adapters.AdapterCount, 1);
    driver.on_send = [this](CapturingDriver::Sent& s) {
      s.pending = registers.PendingRequestType;
      s.chunk_length = registers.PendingChunkLength;
    };
  }

  const CapturingDriver::Sent& Last() const { return driver.sent.back(); }

  CapturingDriver driver;
  AdapterSet adapters;
  DeviceSummaries summaries{};
  TransferRegisters registers;
  MessageContext ctx{adapters, summaries, registers, {0x00, 0xB0, 0x52}};
};

// The header every request carries, written out: destination, source 02:5A:00:00:00:01, 88 E1,
// MMV 0, the MMTYPE low byte first, OUI 00 B0 52.
std::vector<uint8_t> Expected(size_t length, std::initializer_list<uint8_t> destination,
                              uint8_t mmtype_low) {
  std::vector<uint8_t> f(length, 0);
  std::copy(destination.begin(), destination.end(), f.begin());
  const uint8_t rest[] = {0x02, 0x5A, 0x00, 0x00, 0x00, 0x01, 0x88, 0xE1,
                          0x00, mmtype_low, 0xA0, 0x00, 0xB0, 0x52};
  std::copy(std::begin(rest), std::end(rest), f.begin() + 6);
  return f;
}

void ExpectSameBytes(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(actual[i], expected[i]) << "first difference at byte " << i;
  }
}

void Put32(std::vector<uint8_t>& f, size_t at, uint32_t v) {
  for (int b = 0; b < 4; ++b) f[at + b] = static_cast<uint8_t>(v >> (8 * b));
}

// The XOR of little-endian words, complemented, written independently of the code under test.
uint32_t XorChecksum(const uint8_t* data, size_t bytes) {
  uint32_t acc = 0;
  for (size_t i = 0; i < bytes; i += 4) {
    acc ^= uint32_t{data[i]} | uint32_t{data[i + 1]} << 8 | uint32_t{data[i + 2]} << 16 |
           uint32_t{data[i + 3]} << 24;
  }
  return ~acc;
}

constexpr std::initializer_list<uint8_t> kBroadcast = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::initializer_list<uint8_t> kDevice = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
constexpr std::initializer_list<uint8_t> kNobody = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

TEST_F(RequestsTest, VersionQueryIs1510BytesToBroadcastWhateverDeviceIsKnown) {
  adapters.records[0].DeviceMac = kDeviceMac;
  EXPECT_EQ(registers.PendingRequestType, 0u);
  EXPECT_EQ(SendVersionQuery(ctx, 0), 1);
  ASSERT_EQ(driver.sent.size(), 1u);
  ExpectSameBytes(Last().frame, Expected(1510, kBroadcast, 0x00));
  EXPECT_EQ(Last().pending, 0xA000u);
  EXPECT_EQ(summaries[0].BytesSent, 1510u);
}

TEST_F(RequestsTest, ReadModuleIs1496BytesWithModuleLengthOffsetAndAwaitedLength) {
  adapters.records[0].DeviceMac = kDeviceMac;
  EXPECT_EQ(SendReadModule(ctx, 0, 7168, 696), 1);
  std::vector<uint8_t> e = Expected(1496, kDevice, 0x24);
  const uint8_t payload[] = {0x02, 0x00, 0xB8, 0x02, 0x00, 0x1C, 0x00, 0x00};
  std::copy(std::begin(payload), std::end(payload), e.begin() + 20);
  ExpectSameBytes(Last().frame, e);
  EXPECT_EQ(Last().pending, 0xA024u);
  EXPECT_EQ(Last().chunk_length, 696u);  // the length its confirmation must report

  // Only the low 16 bits of the length travel.
  SendReadModule(ctx, 0, 0, 0x10400);
  EXPECT_EQ(Last().frame[22], 0x00);
  EXPECT_EQ(Last().frame[23], 0x04);
}

TEST_F(RequestsTest, RequestsBeforeAnyDeviceMacGoToTheZeroAddress) {
  SendReadModule(ctx, 0, 0, 1024);
  std::vector<uint8_t> e = Expected(1496, kNobody, 0x24);
  e[20] = 0x02;
  e[23] = 0x04;
  ExpectSameBytes(Last().frame, e);
}

TEST_F(RequestsTest, WriteModuleFullChunkCarriesDataChecksumAndTrailer) {
  adapters.records[0].DeviceMac = kDeviceMac;
  ParameterModule module;
  for (size_t i = 0; i < kModuleSize; ++i) module.bytes[i] = static_cast<uint8_t>(i * 13 + 1);
  EXPECT_EQ(SendWriteModule(ctx, 0, 1024, 1024, 2, module), 1);

  std::vector<uint8_t> e = Expected(1070, kDevice, 0x20);
  const uint8_t fields[] = {0x02, 0x00, 0x00, 0x04, 0x00, 0x04, 0x00, 0x00};
  std::copy(std::begin(fields), std::end(fields), e.begin() + 20);
  for (size_t i = 0; i < 1024; ++i) e[32 + i] = static_cast<uint8_t>((1024 + i) * 13 + 1);
  Put32(e, 28, XorChecksum(&e[32], 1024));
  std::fill(e.begin() + 1056, e.end(), 0xCD);
  ExpectSameBytes(Last().frame, e);
  EXPECT_EQ(Last().pending, 0xA020u);
  EXPECT_EQ(Last().chunk_length, 1024u);
}

TEST_F(RequestsTest, LastModuleChunkIs696BytesZeroTailAndChecksumOverTheWholeArea) {
  adapters.records[0].DeviceMac = kDeviceMac;
  ParameterModule module;
  module.bytes.fill(0x77);
  std::memset(&module.bytes[7168], 0, 696);
  module.bytes[7168] = 0x01;  // words 1 and 2: checksum 0xFFFFFFFC
  module.bytes[7172] = 0x02;
  SendWriteModule(ctx, 0, 7168, 696, 2, module);

  std::vector<uint8_t> e = Expected(1070, kDevice, 0x20);
  const uint8_t fields[] = {0x02, 0x00, 0xB8, 0x02, 0x00, 0x1C, 0x00, 0x00,
                            0xFC, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00,
                            0x02, 0x00, 0x00, 0x00};
  std::copy(std::begin(fields), std::end(fields), e.begin() + 20);
  std::fill(e.begin() + 1056, e.end(), 0xCD);  // bytes 728..1055 of the area stay zero
  ExpectSameBytes(Last().frame, e);
}

TEST_F(RequestsTest, WriteChunkNeverReadsPastTheImageNorCarriesMoreThan1024Bytes) {
  ParameterModule module;
  module.bytes.fill(0x5A);
  SendWriteModule(ctx, 0, 7168, 1024, 2, module);  // only 696 bytes are left
  EXPECT_EQ(Last().frame[22], 0xB8);
  EXPECT_EQ(Last().frame[23], 0x02);
  EXPECT_EQ(Last().frame[32 + 695], 0x5A);
  EXPECT_EQ(Last().frame[32 + 696], 0x00);
  EXPECT_EQ(Last().chunk_length, 696u);  // what was carried, not what was asked

  SendWriteModule(ctx, 0, 0, 5000, 2, module);
  EXPECT_EQ(Last().frame[22], 0x00);
  EXPECT_EQ(Last().frame[23], 0x04);
  EXPECT_EQ(Last().frame[1056], 0xCD);

  SendWriteModule(ctx, 0, 9000, 16, 2, module);  // wholly outside: nothing carried
  EXPECT_EQ(Last().frame[22], 0x00);
  EXPECT_EQ(Last().frame[23], 0x00);
  EXPECT_EQ(Last().frame[32], 0x00);
  EXPECT_EQ(Last().frame.size(), 1070u);
}

TEST_F(RequestsTest, FirmwareChunkOfOddLengthIsChecksummedAsZeroCompletedWords) {
  adapters.records[0].DeviceMac = kDeviceMac;
  std::vector<uint8_t> buffer(4096, 0xEE);  // bytes past image_size must never be sent
  buffer[2048] = 0x12;
  buffer[2049] = 0x34;
  EXPECT_EQ(SendWriteFirmware(ctx, 0, 2048, 2, 1, buffer.data(), 2050), 1);

  std::vector<uint8_t> e = Expected(1070, kDevice, 0x20);
  const uint8_t fields[] = {0x01, 0x00, 0x02, 0x00, 0x00, 0x08, 0x00, 0x00,
                            0xED, 0xCB, 0xFF, 0xFF, 0x12, 0x34};
  std::copy(std::begin(fields), std::end(fields), e.begin() + 20);
  std::fill(e.begin() + 1056, e.end(), 0xCD);
  ExpectSameBytes(Last().frame, e);
  EXPECT_EQ(Last().pending, 0xA020u);

  SendWriteFirmware(ctx, 0, 2048, 1024, 1, buffer.data(), 2050);  // asks past the end
  ExpectSameBytes(Last().frame, e);
}

TEST_F(RequestsTest, CommitLeavesAs60BytesWithItsStoredConstants) {
  adapters.records[0].DeviceMac = kDeviceMac;
  EXPECT_EQ(SendModuleCommit(ctx, 0, 2), 1);
  std::vector<uint8_t> e = Expected(60, kDevice, 0x28);
  const uint8_t tail[] = {0x02, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD,
                          0xCD, 0xCD, 0xCD, 0xCD, 0xFD, 0xFD, 0xFD, 0xFD, 0xDD, 0x3B, 0x06,
                          0x0A, 0x00, 0xD0, 0x10, 0x08, 0x01, 0x78, 0x01, 0xC2, 0x01, 0x78,
                          0x01, 0xC2, 0x01, 0xDD, 0xDD, 0xDD, 0xDD};
  static_assert(sizeof tail == 40);
  std::copy(std::begin(tail), std::end(tail), e.begin() + 20);
  ExpectSameBytes(Last().frame, e);
  EXPECT_EQ(Last().pending, 0xA028u);
  EXPECT_EQ(summaries[0].BytesSent, 60u);

  SendModuleCommit(ctx, 0, 1);
  EXPECT_EQ(Last().frame[20], 0x01);
}

TEST_F(RequestsTest, EveryBuilderCarriesTheOuiInUse) {
  ctx.oui = {0x02, 0x12, 0x34};
  ParameterModule module;
  const uint8_t firmware[8] = {};
  SendVersionQuery(ctx, 0);
  SendReadModule(ctx, 0, 0, 16);
  SendWriteModule(ctx, 0, 0, 16, 2, module);
  SendWriteFirmware(ctx, 0, 0, 8, 1, firmware, sizeof firmware);
  SendModuleCommit(ctx, 0, 2);
  ASSERT_EQ(driver.sent.size(), 5u);
  for (const auto& s : driver.sent) {
    EXPECT_EQ(s.frame[17], 0x02);
    EXPECT_EQ(s.frame[18], 0x12);
    EXPECT_EQ(s.frame[19], 0x34);
  }
}

TEST_F(RequestsTest, PendingRequestTypeIsStoredBeforeEachSend) {
  ParameterModule module;
  const uint8_t firmware[4] = {};
  SendModuleCommit(ctx, 0, 2);
  SendVersionQuery(ctx, 0);
  SendWriteFirmware(ctx, 0, 0, 4, 1, firmware, sizeof firmware);
  SendReadModule(ctx, 0, 0, 16);
  SendWriteModule(ctx, 0, 0, 16, 2, module);
  std::vector<uint32_t> pending;
  for (const auto& s : driver.sent) pending.push_back(s.pending);
  EXPECT_EQ(pending, (std::vector<uint32_t>{0xA028, 0xA000, 0xA020, 0xA024, 0xA020}));
}

TEST_F(RequestsTest, AdapterOutsideTheSetSendsNothing) {
  EXPECT_EQ(SendVersionQuery(ctx, 8), 0);
  EXPECT_EQ(SendVersionQuery(ctx, -1), 0);
  EXPECT_EQ(SendModuleCommit(ctx, 1, 2), 0);  // index 1 is a record but not an open adapter
  EXPECT_TRUE(driver.sent.empty());
}

TEST(VendorOui, ParsesSeparatedAndBareFormsAndRejectsTheRest) {
  const Oui expected = {0x00, 0xB0, 0x52};
  EXPECT_EQ(kDefaultVendorOui, expected);
  EXPECT_EQ(ParseOui("00:B0:52"), expected);
  EXPECT_EQ(ParseOui("00-b0-52"), expected);
  EXPECT_EQ(ParseOui("00b052"), expected);
  EXPECT_FALSE(ParseOui(""));
  EXPECT_FALSE(ParseOui("00:B0"));
  EXPECT_FALSE(ParseOui("00:B0:52:01"));
  EXPECT_FALSE(ParseOui("00:B0:5G"));
  EXPECT_FALSE(ParseOui("00;B0;52"));
  EXPECT_EQ(FormatOui({0x02, 0xab, 0x0c}), "02:AB:0C");
}

TEST(FrameReader, ReadsInsideTheFrameOnlyAndAcceptsOnlyManagementHeaders) {
  const uint8_t bytes[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x5A, 0x00, 0x00,
                           0x00, 0x01, 0x88, 0xE1, 0x00, 0x01, 0xA0, 0x00, 0xB0, 0x52,
                           0x34, 0x12};
  const FrameReader frame(bytes, sizeof bytes);
  EXPECT_EQ(frame.Le16(20), 0x1234);
  EXPECT_EQ(frame.U8(21), 0x12);
  EXPECT_FALSE(frame.U8(22));
  EXPECT_FALSE(frame.Le16(21));
  EXPECT_FALSE(frame.Le32(20));
  EXPECT_FALSE(frame.Le32(SIZE_MAX - 1));  // no wrap-around in the bounds test
  EXPECT_TRUE(frame.Bytes(22, 0).empty());
  EXPECT_TRUE(frame.Bytes(20, 3).empty());
  EXPECT_EQ(frame.Bytes(20, 2).size(), 2u);

  const auto header = ReadMessageHeader(frame);
  ASSERT_TRUE(header);
  EXPECT_TRUE(header->destination.IsBroadcast());
  EXPECT_EQ(header->source, kAdapterMac);
  EXPECT_EQ(header->mmtype, 0xA001);
  EXPECT_EQ(header->oui, kDefaultVendorOui);
  EXPECT_STREQ(MessageTypeName(header->mmtype), "VS_VER_QUERY.CNF");
  EXPECT_EQ(MessageTypeName(0xA030), nullptr);

  EXPECT_FALSE(ReadMessageHeader(FrameReader(bytes, 19)));  // shorter than a header
  uint8_t other[sizeof bytes];
  std::memcpy(other, bytes, sizeof bytes);
  other[13] = 0x00;
  EXPECT_FALSE(ReadMessageHeader(FrameReader(other, sizeof other)));
}

}  // namespace
}  // namespace stampwright
