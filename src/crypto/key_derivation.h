#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "crypto/sha256.h"

namespace stampwright {

constexpr size_t kDerivedKeySize = 16;
constexpr size_t kPasswordMaxBytes = 64;  // bytes past the 64th do not take part
constexpr size_t kSaltSize = 8;
constexpr int kDerivationHashes = 1000;

using DerivedKey = std::array<uint8_t, kDerivedKeySize>;
using Salt = std::array<uint8_t, kSaltSize>;

// The fixed HomePlug AV salts; they differ only in the last byte.
constexpr Salt kDakSalt = {0x08, 0x85, 0x6D, 0xAF, 0x7C, 0xF5, 0x81, 0x85};
constexpr Salt kNmkSalt = {0x08, 0x85, 0x6D, 0xAF, 0x7C, 0xF5, 0x81, 0x86};

// PBKDF1 with SHA-256: hash password || salt, then re-hash the 32-byte digest 999 times.
// password is NUL-terminated, or nullptr for an empty one. The key is the first 16 bytes of
// the returned context's digest. Runs entirely in the given context: nothing is allocated.
Sha256Context& DeriveDak(Sha256Context& context, const char* password);
Sha256Context& DeriveNmk(Sha256Context& context, const char* password);

// The key a derivation left in the context.
DerivedKey KeyFromDigest(const Sha256Context& context);

// Convenience: one derivation in a context of its own, returning the 16-byte key.
DerivedKey DeviceAccessKey(const char* password);
DerivedKey NetworkMembershipKey(const char* password);

}  // namespace stampwright
