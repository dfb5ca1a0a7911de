// What the simulated unit's tests share: requests written out field by field as the station
// lays them out, an exchange with the unit, and a patterned image.
#pragma once

#include "protocol/simulated_unit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "base/byte_order.h"
#include "programming/carrier_table.h"
#include "protocol/confirmations.h"


namespace stampwright {

inline const MacAddress kStation{{0x02, 0x5A, 0x00, 0x00, 0x00, 0x01}};
inline const MacAddress kUnit{{0x02, 0x00, 0x00, 0x00, 0x00, 0x01}};
inline const MacAddress kBurned{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}};
inline constexpr Oui kOui = {0x00, 0xB0, 0x52};

// Independent of the code under test: the XOR of little-endian words, complemented.
inline uint32_t XorChecksum(const uint8_t* data, size_t bytes) {
  uint32_t acc = 0;
  for (size_t i = 0; i < bytes; i += 4) {
    uint32_t word = 0;
    for (size_t b = 0; b < 4 && i + b < bytes; ++b) word |= uint32_t{data[i + b]} << (8 * b);
    acc ^= word;
  }
  return ~acc;
}

// Requests written out field by field, as the station lays them out.
inline std::vector<uint8_t> Request(uint16_t mmtype, const MacAddress& destination, size_t length,
                                    const Oui& oui = kOui) {
  std::vector<uint8_t> f(length, 0);
  destination.CopyTo(&f[0]);
  kStation.CopyTo(&f[6]);
  f[12] = 0x88;
  f[13] = 0xE1;
  StoreLe16(&f[15], mmtype);
  std::memcpy(&f[17], oui.data(), 3);
  return f;
}

inline std::vector<uint8_t> VersionQuery(const MacAddress& destination = MacAddress::Broadcast(),
                                         const Oui& oui = kOui) {
  return Request(0xA000, destination, 1510, oui);
}

inline std::vector<uint8_t> ReadRequest(uint32_t offset, uint16_t length, uint16_t module = 2,
                                        const MacAddress& destination = kUnit) {
  std::vector<uint8_t> f = Request(0xA024, destination, 1496);
  StoreLe16(&f[20], module);
  StoreLe16(&f[22], length);
  StoreLe32(&f[24], offset);
  return f;
}

inline std::vector<uint8_t> WriteRequest(uint32_t offset, const uint8_t* data, uint16_t length,
                                         uint16_t module = 2,
                                         const MacAddress& destination = kUnit) {
  std::vector<uint8_t> f = Request(0xA020, destination, 1070);
  StoreLe16(&f[20], module);
  StoreLe16(&f[22], length);
  StoreLe32(&f[24], offset);
  std::memcpy(&f[32], data, length);
  StoreLe32(&f[28], XorChecksum(&f[32], 1024));
  std::memset(&f[1056], 0xCD, 14);
  return f;
}

inline std::vector<uint8_t> CommitRequest(uint8_t module, const MacAddress& destination = kUnit) {
  std::vector<uint8_t> f = Request(0xA028, destination, 60);
  f[20] = module;
  return f;
}

// Hands a request to the unit at `now` and takes what it answers once its latency is over.
inline std::optional<std::vector<uint8_t>> Exchange(SimulatedUnit& unit,
                                                    const std::vector<uint8_t>& f, uint32_t now) {
  unit.OnFrame(f.data(), f.size(), now);
  std::vector<uint8_t> answer;
  if (!unit.TakeFrame(now + unit.config().latency_ms, &answer)) return std::nullopt;
  return answer;
}

// Writes the whole image in 1024-byte chunks; returns how many writes were accepted.
inline int WriteImage(SimulatedUnit& unit, const ParameterModule& image, uint32_t now) {
  int accepted = 0;
  for (uint32_t offset = 0; offset < kModuleSize; offset += 1024) {
    const auto length = static_cast<uint16_t>(std::min<size_t>(1024, kModuleSize - offset));
    auto answer = Exchange(unit, WriteRequest(offset, &image.bytes[offset], length), now);
    if (answer && (*answer)[20] == 0) ++accepted;
  }
  return accepted;
}

inline void ExpectHeader(const std::vector<uint8_t>& a, uint16_t mmtype, const MacAddress& source) {
  ASSERT_GE(a.size(), 60u);
  EXPECT_EQ(MacAddress::FromBytes(&a[0]), kStation);
  EXPECT_EQ(MacAddress::FromBytes(&a[6]), source);
  EXPECT_EQ(a[12], 0x88);
  EXPECT_EQ(a[13], 0xE1);
  EXPECT_EQ(a[14], 0x00);
  EXPECT_EQ(LoadLe16(&a[15]), mmtype);
  EXPECT_EQ(a[17], kOui[0]);
  EXPECT_EQ(a[18], kOui[1]);
  EXPECT_EQ(a[19], kOui[2]);
}

inline ParameterModule PatternImage(const MacAddress& mac) {
  ParameterModule image;
  for (size_t i = 0; i < kModuleSize; ++i) image.bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  image.bytes[0] = 2;
  image.SetMacAddress(mac);
  UpdateImageChecksum(image);
  return image;
}

}  // namespace stampwright
