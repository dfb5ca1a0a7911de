#include "crypto/key_derivation.h"

#include <algorithm>
#include <cstring>

namespace stampwright {
namespace {

// Bounded: a password is never scanned past its 64th byte.
size_t PasswordLength(const char* password) {
  if (password == nullptr) return 0;
  size_t length = 0;
  while (length < kPasswordMaxBytes && password[length] != '\0') ++length;
  return length;
}

Sha256Context& Derive(Sha256Context& context, const char* password, const Salt& salt) {
  Sha256Reset(context);
  context.digest.fill(0);

  uint8_t input[kPasswordMaxBytes + kSaltSize];
  const size_t length = PasswordLength(password);
  if (length > 0) std::memcpy(input, password, length);
  std::copy(salt.begin(), salt.end(), input + length);
  Sha256Update(context, input, static_cast<uint32_t>(length + kSaltSize));
  Sha256Final(context);

  for (int i = 1; i < kDerivationHashes; ++i) {
    Sha256Reset(context);
    Sha256Update(context, context.digest.data(), static_cast<uint32_t>(kSha256DigestSize));
    Sha256Final(context);
  }
  return context;
}

}  // namespace

Sha256Context& DeriveDak(Sha256Context& context, const char* password) {
  return Derive(context, password, kDakSalt);
}

Sha256Context& DeriveNmk(Sha256Context& context, const char* password) {
  return Derive(context, password, kNmkSalt);
}

DerivedKey KeyFromDigest(const Sha256Context& context) {
  DerivedKey key;
  std::copy_n(context.digest.begin(), kDerivedKeySize, key.begin());
  return key;
}

DerivedKey DeviceAccessKey(const char* password) {
  Sha256Context context;
  return KeyFromDigest(DeriveDak(context, password));
}

DerivedKey NetworkMembershipKey(const char* password) {
  Sha256Context context;
  return KeyFromDigest(DeriveNmk(context, password));
}

}  // namespace stampwright
