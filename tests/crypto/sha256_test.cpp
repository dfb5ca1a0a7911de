#include "crypto/sha256.h"

#include <gtest/gtest.h>
// The low-level OpenSSL context lets a test start OpenSSL from the same mid-message state.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace stampwright {
namespace {

std::string Hex(const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

std::string Digest(const Sha256Context& context) {
  return Hex(context.digest.data(), context.digest.size());
}

std::string OurSha256(const uint8_t* data, size_t length) {
  Sha256Context context;
  Sha256Reset(context);
  Sha256Update(context, data, static_cast<uint32_t>(length));
  Sha256Final(context);
  return Digest(context);
}

std::string OurSha256(const std::string& text) {
  return OurSha256(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string OpenSslSha256(const uint8_t* data, size_t length) {
  uint8_t digest[SHA256_DIGEST_LENGTH];
  SHA256(data, length, digest);
  return Hex(digest, sizeof digest);
}

std::vector<uint8_t> RandomBytes(std::mt19937& random, size_t length) {
  std::vector<uint8_t> bytes(length);
  for (auto& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

TEST(Sha256, FipsVectors) {
  EXPECT_EQ(OurSha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(OurSha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(OurSha256(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Sha256, OneMillionAsInThousandByteUpdates) {
  const std::vector<uint8_t> chunk(1000, 'a');
  Sha256Context context;
  Sha256Reset(context);
  for (int i = 0; i < 1000; ++i) Sha256Update(context, chunk.data(), 1000);
  Sha256Final(context);
  EXPECT_EQ(Digest(context), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// 55 bytes leave room for the length in the same block; 56..64 need a second pad block. The
// counter after Final shows how many pad bytes were absorbed.
TEST(Sha256, PadBoundaryLengths) {
  struct Case {
    size_t length;
    uint32_t count_after_final;
  };
  const Case cases[] = {{55, 64}, {56, 128}, {63, 128}, {64, 128}, {119, 128}, {120, 192}};
  std::mt19937 random(55);
  for (const Case& c : cases) {
    const auto data = RandomBytes(random, c.length);
    Sha256Context context;
    Sha256Reset(context);
    Sha256Update(context, data.data(), static_cast<uint32_t>(data.size()));
    Sha256Final(context);
    EXPECT_EQ(Digest(context), OpenSslSha256(data.data(), data.size())) << c.length;
    EXPECT_EQ(context.byte_count[0], c.count_after_final) << c.length;
    EXPECT_EQ(context.byte_count[1], 0u) << c.length;
  }
}

TEST(Sha256, PiecewiseUpdatesEqualOneShot) {
  std::mt19937 random(7);
  const auto data = RandomBytes(random, 1000);
  const std::string expected = OurSha256(data.data(), data.size());
  ASSERT_EQ(expected, OpenSslSha256(data.data(), data.size()));

  const std::vector<std::vector<uint32_t>> splits = {
      {1, 63, 1}, {63, 1, 64}, {64, 64, 1}, {0, 65, 0, 127}, {32, 32, 32, 31, 2}};
  for (const auto& split : splits) {
    Sha256Context context;
    Sha256Reset(context);
    size_t offset = 0;
    for (const uint32_t piece : split) {
      Sha256Update(context, data.data() + offset, piece);
      offset += piece;
    }
    Sha256Update(context, data.data() + offset, static_cast<uint32_t>(data.size() - offset));
    Sha256Final(context);
    EXPECT_EQ(Digest(context), expected) << "split starting " << split[0] << "," << split[1];
  }

  // Random piece sizes, including many that straddle block ends.
  for (int round = 0; round < 50; ++round) {
    Sha256Context context;
    Sha256Reset(context);
    size_t offset = 0;
    while (offset < data.size()) {
      const size_t piece = std::min<size_t>(random() % 150, data.size() - offset);
      Sha256Update(context, data.data() + offset, static_cast<uint32_t>(piece));
      offset += piece;
    }
    Sha256Final(context);
    EXPECT_EQ(Digest(context), expected) << "round " << round;
  }
}

TEST(Sha256, RandomInputsMatchOpenSsl) {
  std::mt19937 random(20240101);
  for (size_t length = 0; length <= 300; ++length) {
    const auto data = RandomBytes(random, length);
    ASSERT_EQ(OurSha256(data.data(), length), OpenSslSha256(data.data(), length)) << length;
  }
  for (const size_t length : {4095u, 4096u, 65537u, 1000003u}) {
    const auto data = RandomBytes(random, length);
    EXPECT_EQ(OurSha256(data.data(), length), OpenSslSha256(data.data(), length)) << length;
  }
}

TEST(Sha256, ResetStartsAFreshMessageButKeepsTheDigest) {
  Sha256Context context;
  Sha256Reset(context);
  Sha256Update(context, reinterpret_cast<const uint8_t*>("leftover"), 8);
  Sha256Final(context);
  const auto digest = context.digest;
  Sha256Update(context, reinterpret_cast<const uint8_t*>("more"), 4);  // dirty block and counter

  Sha256Reset(context);
  EXPECT_EQ(context.digest, digest);
  EXPECT_EQ(context.byte_count[0], 0u);
  EXPECT_EQ(context.byte_count[1], 0u);
  for (const uint8_t byte : context.block) EXPECT_EQ(byte, 0);
  Sha256Update(context, reinterpret_cast<const uint8_t*>("abc"), 3);
  Sha256Final(context);
  EXPECT_EQ(Digest(context), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// Starts both implementations from the same state as if count_low + 2^32 * count_high bytes had
// been absorbed already, then feeds the same tail. OpenSSL counts bits, so this also checks the
// bit length written by Final, including the low word's top three bits moving into the high word.
TEST(Sha256, ByteCounterCarriesIntoTheHighWord) {
  struct Case {
    uint32_t low;
    uint32_t high;
    uint32_t tail;
  };
  const Case cases[] = {
      {0xFFFFFFF0u, 0, 32},        // carry during the update
      {0xFFFFFFFFu, 0, 1},         // carry by exactly one byte
      {0xFFFFFFC8u, 0, 0},         // carry inside Final's pad
      {0x20000000u, 0, 5},         // bit length of exactly 2^32
      {0xE0000007u, 0x1FFFFFFFu, 100},  // all top bits set in both words
  };
  std::mt19937 random(99);
  for (const Case& c : cases) {
    Sha256Context ours;
    Sha256Reset(ours);
    for (auto& word : ours.state) word = static_cast<uint32_t>(random());
    const uint32_t index = c.low % 64;
    for (uint32_t i = 0; i < index; ++i) ours.block[i] = static_cast<uint8_t>(random());
    ours.byte_count = {c.low, c.high};

    SHA256_CTX theirs;
    SHA256_Init(&theirs);
    for (size_t i = 0; i < 8; ++i) theirs.h[i] = ours.state[i];
    theirs.Nl = c.low << 3;
    theirs.Nh = (c.high << 3) | (c.low >> 29);
    std::memcpy(theirs.data, ours.block.data(), index);
    theirs.num = index;

    const auto tail = RandomBytes(random, c.tail);
    Sha256Update(ours, tail.data(), c.tail);
    const uint64_t total = (uint64_t{c.high} << 32) + c.low + c.tail;
    EXPECT_EQ(ours.byte_count[0], static_cast<uint32_t>(total)) << c.low;
    EXPECT_EQ(ours.byte_count[1], static_cast<uint32_t>(total >> 32)) << c.low;
    Sha256Final(ours);

    uint8_t expected[SHA256_DIGEST_LENGTH];
    SHA256_Update(&theirs, tail.data(), tail.size());
    SHA256_Final(expected, &theirs);
    EXPECT_EQ(Digest(ours), Hex(expected, sizeof expected)) << c.low;
  }
}

}  // namespace
}  // namespace stampwright
