#include "crypto/sha256.h"

#include <cstring>

#include "base/byte_order.h"

namespace stampwright {
namespace {

constexpr std::array<uint32_t, 8> kInitialHash = {0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
                                                  0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19};

constexpr uint32_t kBlockBytes = kSha256BlockSize;

// One 0x80 byte and 63 zeros: its first 56 - index (or 120 - index) bytes end a message.
constexpr std::array<uint8_t, kSha256BlockSize> kPad = {0x80};

constexpr uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
constexpr uint32_t Choose(uint32_t x, uint32_t y, uint32_t z) { return (x & y) ^ (~x & z); }
constexpr uint32_t Majority(uint32_t x, uint32_t y, uint32_t z) {
  return (x & y) ^ (x & z) ^ (y & z);
}
constexpr uint32_t BigSigma0(uint32_t x) { return Rotr(x, 2) ^ Rotr(x, 13) ^ Rotr(x, 22); }
constexpr uint32_t BigSigma1(uint32_t x) { return Rotr(x, 6) ^ Rotr(x, 11) ^ Rotr(x, 25); }
constexpr uint32_t SmallSigma0(uint32_t x) { return Rotr(x, 7) ^ Rotr(x, 18) ^ (x >> 3); }
constexpr uint32_t SmallSigma1(uint32_t x) { return Rotr(x, 17) ^ Rotr(x, 19) ^ (x >> 10); }

// The message schedule kept as a 16-word window: word i (i >= 16) replaces word i - 16 in place.
// i is a constant at every call, so the branch folds away.
inline uint32_t Schedule(uint32_t* w, int i) {
  if (i < 16) return w[i];
  w[i & 15] += SmallSigma1(w[(i - 2) & 15]) + w[(i - 7) & 15] + SmallSigma0(w[(i - 15) & 15]);
  return w[i & 15];
}

// One round with its constant k. The working variables are renamed from round to round instead
// of being shifted, so each round only writes d and h.
#define SHA256_ROUND(a, b, c, d, e, f, g, h, i, k)                                \
  do {                                                                            \
    const uint32_t t1 = (h) + BigSigma1(e) + Choose(e, f, g) + (k) + Schedule(w, i); \
    const uint32_t t2 = BigSigma0(a) + Majority(a, b, c);                         \
    (d) += t1;                                                                    \
    (h) = t1 + t2;                                                                \
  } while (0)

}  // namespace

void Sha256Reset(Sha256Context& context) {
  context.byte_count = {0, 0};
  context.block.fill(0);
  context.state = kInitialHash;
}

void Sha256Block(Sha256Context& context, const uint8_t* block) {
  uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = LoadBe32(block + 4 * i);

  uint32_t a = context.state[0];
  uint32_t b = context.state[1];
  uint32_t c = context.state[2];
  uint32_t d = context.state[3];
  uint32_t e = context.state[4];
  uint32_t f = context.state[5];
  uint32_t g = context.state[6];
  uint32_t h = context.state[7];

  SHA256_ROUND(a, b, c, d, e, f, g, h,  0, 0x428A2F98);
  SHA256_ROUND(h, a, b, c, d, e, f, g,  1, 0x71374491);
  SHA256_ROUND(g, h, a, b, c, d, e, f,  2, 0xB5C0FBCF);
  SHA256_ROUND(f, g, h, a, b, c, d, e,  3, 0xE9B5DBA5);
  SHA256_ROUND(e, f, g, h, a, b, c, d,  4, 0x3956C25B);
  SHA256_ROUND(d, e, f, g, h, a, b, c,  5, 0x59F111F1);
  SHA256_ROUND(c, d, e, f, g, h, a, b,  6, 0x923F82A4);
  SHA256_ROUND(b, c, d, e, f, g, h, a,  7, 0xAB1C5ED5);
  SHA256_ROUND(a, b, c, d, e, f, g, h,  8, 0xD807AA98);
  SHA256_ROUND(h, a, b, c, d, e, f, g,  9, 0x12835B01);
  SHA256_ROUND(g, h, a, b, c, d, e, f, 10, 0x243185BE);
  SHA256_ROUND(f, g, h, a, b, c, d, e, 11, 0x550C7DC3);
  SHA256_ROUND(e, f, g, h, a, b, c, d, 12, 0x72BE5D74);
  SHA256_ROUND(d, e, f, g, h, a, b, c, 13, 0x80DEB1FE);
  SHA256_ROUND(c, d, e, f, g, h, a, b, 14, 0x9BDC06A7);
  SHA256_ROUND(b, c, d, e, f, g, h, a, 15, 0xC19BF174);
  SHA256_ROUND(a, b, c, d, e, f, g, h, 16, 0xE49B69C1);
  SHA256_ROUND(h, a, b, c, d, e, f, g, 17, 0xEFBE4786);
  SHA256_ROUND(g, h, a, b, c, d, e, f, 18, 0x0FC19DC6);
  SHA256_ROUND(f, g, h, a, b, c, d, e, 19, 0x240CA1CC);
  SHA256_ROUND(e, f, g, h, a, b, c, d, 20, 0x2DE92C6F);
  SHA256_ROUND(d, e, f, g, h, a, b, c, 21, 0x4A7484AA);
  SHA256_ROUND(c, d, e, f, g, h, a, b, 22, 0x5CB0A9DC);
  SHA256_ROUND(b, c, d, e, f, g, h, a, 23, 0x76F988DA);
  SHA256_ROUND(a, b, c, d, e, f, g, h, 24, 0x983E5152);
  SHA256_ROUND(h, a, b, c, d, e, f, g, 25, 0xA831C66D);
  SHA256_ROUND(g, h, a, b, c, d, e, f, 26, 0xB00327C8);
  SHA256_ROUND(f, g, h, a, b, c, d, e, 27, 0xBF597FC7);
  SHA256_ROUND(e, f, g, h, a, b, c, d, 28, 0xC6E00BF3);
  SHA256_ROUND(d, e, f, g, h, a, b, c, 29, 0xD5A79147);
  SHA256_ROUND(c, d, e, f, g, h, a, b, 30, 0x06CA6351);
  SHA256_ROUND(b, c, d, e, f, g, h, a, 31, 0x14292967);
  SHA256_ROUND(a, b, c, d, e, f, g, h, 32, 0x27B70A85);
  SHA256_ROUND(h, a, b, c, d, e, f, g, 33, 0x2E1B2138);
  SHA256_ROUND(g, h, a, b, c, d, e, f, 34, 0x4D2C6DFC);
  SHA256_ROUND(f, g, h, a, b, c, d, e, 35, 0x53380D13);
  SHA256_ROUND(e, f, g, h, a, b, c, d, 36, 0x650A7354);
  SHA256_ROUND(d, e, f, g, h, a, b, c, 37, 0x766A0ABB);
  SHA256_ROUND(c, d, e, f, g, h, a, b, 38, 0x81C2C92E);
  SHA256_ROUND(b, c, d, e, f, g, h, a, 39, 0x92722C85);
  SHA256_ROUND(a, b, c, d, e, f, g, h, 40, 0xA2BFE8A1);
  SHA256_ROUND(h, a, b, c, d, e, f, g, 41, 0xA81A664B);
  SHA256_ROUND(g, h, a, b, c, d, e, f, 42, 0xC24B8B70);
  SHA256_ROUND(f, g, h, a, b, c, d, e, 43, 0xC76C51A3);
  SHA256_ROUND(e, f, g, h, a, b, c, d, 44, 0xD192E819);
  SHA256_ROUND(d, e, f, g, h, a, b, c, 45, 0xD6990624);
  SHA256_ROUND(c, d, e, f, g, h, a, b, 46, 0xF40E3585);
  SHA256_ROUND(b, c, d, e, f, g, h, a, 47, 0x106AA070);
  SHA256_ROUND(a, b, c, d, e, f, g, h, 48, 0x19A4C116);
  SHA256_ROUND(h, a, b, c, d, e, f, g, 49, 0x1E376C08);
  SHA256_ROUND(g, h, a, b, c, d, e, f, 50, 0x2748774C);
  SHA256_ROUND(f, g, h, a, b, c, d, e, 51, 0x34B0BCB5);
  SHA256_ROUND(e, f, g, h, a, b, c, d, 52, 0x391C0CB3);
  SHA256_ROUND(d, e, f, g, h, a, b, c, 53, 0x4ED8AA4A);
  SHA256_ROUND(c, d, e, f, g, h, a, b, 54, 0x5B9CCA4F);
  SHA256_ROUND(b, c, d, e, f, g, h, a, 55, 0x682E6FF3);
  SHA256_ROUND(a, b, c, d, e, f, g, h, 56, 0x748F82EE);
  SHA256_ROUND(h, a, b, c, d, e, f, g, 57, 0x78A5636F);
  SHA256_ROUND(g, h, a, b, c, d, e, f, 58, 0x84C87814);
  SHA256_ROUND(f, g, h, a, b, c, d, e, 59, 0x8CC70208);
  SHA256_ROUND(e, f, g, h, a, b, c, d, 60, 0x90BEFFFA);
  SHA256_ROUND(d, e, f, g, h, a, b, c, 61, 0xA4506CEB);
  SHA256_ROUND(c, d, e, f, g, h, a, b, 62, 0xBEF9A3F7);
  SHA256_ROUND(b, c, d, e, f, g, h, a, 63, 0xC67178F2);

  context.state[0] += a;
  context.state[1] += b;
  context.state[2] += c;
  context.state[3] += d;
  context.state[4] += e;
  context.state[5] += f;
  context.state[6] += g;
  context.state[7] += h;
}

#undef SHA256_ROUND

void Sha256Update(Sha256Context& context, const uint8_t* data, uint32_t length) {
  if (length == 0) return;
  const uint32_t old_low = context.byte_count[0];
  context.byte_count[0] = old_low + length;
  if (context.byte_count[0] < old_low) ++context.byte_count[1];

  uint32_t index = old_low % kBlockBytes;
  if (index != 0 && length >= kBlockBytes - index) {
    const uint32_t fill = kBlockBytes - index;
    std::memcpy(context.block.data() + index, data, fill);
    Sha256Block(context, context.block.data());
    data += fill;
    length -= fill;
    index = 0;
  }
  while (length >= kBlockBytes) {
    Sha256Block(context, data);
    data += kBlockBytes;
    length -= kBlockBytes;
  }
  // index + length < 64 here: either index was 0, or the data did not reach the block's end.
  if (length > 0) std::memcpy(context.block.data() + index, data, length);
}

void Sha256Final(Sha256Context& context) {
  // The length is taken before the pad moves the counter on.
  const uint32_t high = (context.byte_count[1] << 3) | (context.byte_count[0] >> 29);
  const uint32_t low = context.byte_count[0] << 3;
  uint8_t length_bytes[8];
  StoreBe32(length_bytes, high);
  StoreBe32(length_bytes + 4, low);

  const uint32_t index = context.byte_count[0] % kBlockBytes;
  const uint32_t pad_length = index < 56 ? 56 - index : 120 - index;
  Sha256Update(context, kPad.data(), pad_length);
  Sha256Update(context, length_bytes, sizeof length_bytes);

  for (size_t i = 0; i < context.state.size(); ++i) {
    StoreBe32(context.digest.data() + 4 * i, context.state[i]);
  }
}

}  // namespace stampwright
