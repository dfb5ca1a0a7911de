#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace stampwright {

constexpr size_t kSha256DigestSize = 32;
constexpr size_t kSha256BlockSize = 64;

// One SHA-256 computation at a time. The fields are plain data so that a derivation can reuse
// one context for all its hashes without touching the heap.
struct Sha256Context {
  // Result of the last Sha256Final: H0..H7, each big-endian. Also the input of each re-hash.
  std::array<uint8_t, kSha256DigestSize> digest{};
  // Bytes absorbed since the last Sha256Reset; [0] is the low word, [1] takes its carry.
  std::array<uint32_t, 2> byte_count{};
  std::array<uint32_t, 8> state{};
  // The partial block being gathered.
  std::array<uint8_t, kSha256BlockSize> block{};
};
static_assert(sizeof(Sha256Context) == 32 + 8 + 32 + 64);

// Starts a new message: counter 0, block zeroed, initial hash values. The digest is kept.
void Sha256Reset(Sha256Context& context);

// Absorbs length bytes; whole blocks are compressed straight from data.
void Sha256Update(Sha256Context& context, const uint8_t* data, uint32_t length);

// Pads, absorbs the bit length and writes the digest. The context is not cleared.
void Sha256Final(Sha256Context& context);

// The compression function over one 64-byte block, applied to the state.
void Sha256Block(Sha256Context& context, const uint8_t* block);

}  // namespace stampwright
