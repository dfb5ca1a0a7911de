#include "crypto/key_derivation.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstring>
#include <random>
#include <string>

namespace stampwright {
namespace {

// PBKDF1 (RFC 2898) over OpenSSL's SHA-256, written independently of the code under test.
DerivedKey ReferencePbkdf1(const std::string& password, const Salt& salt) {
  std::string input = password.substr(0, 64);
  input.append(reinterpret_cast<const char*>(salt.data()), salt.size());
  uint8_t digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const uint8_t*>(input.data()), input.size(), digest);
  for (int i = 1; i < 1000; ++i) SHA256(digest, sizeof digest, digest);
  DerivedKey key;
  std::memcpy(key.data(), digest, key.size());
  return key;
}

DerivedKey Nmk(Sha256Context& context, const char* password) {
  return KeyFromDigest(DeriveNmk(context, password));
}

DerivedKey Dak(Sha256Context& context, const char* password) {
  return KeyFromDigest(DeriveDak(context, password));
}

TEST(KeyDerivation, DefaultHomePlugNetworkKey) {
  const DerivedKey expected = {0x50, 0xD3, 0xE4, 0x93, 0x3F, 0x85, 0x5B, 0x70,
                               0x40, 0x78, 0x4D, 0xF8, 0x15, 0xAA, 0x8D, 0xB7};
  EXPECT_EQ(NetworkMembershipKey("HomePlugAV"), expected);
}

TEST(KeyDerivation, MatchesReferencePbkdf1) {
  std::mt19937 random(1000);
  std::vector<std::string> passwords = {"", "DefaultNPW", "HomePlugAV", "ABCD-EFGH-IJKL-MNOP",
                                        std::string(63, 'x'), std::string(64, 'y')};
  for (int i = 0; i < 10; ++i) {
    std::string password(random() % 64, ' ');
    for (char& ch : password) ch = static_cast<char>('!' + random() % 94);
    passwords.push_back(password);
  }
  Sha256Context context;
  for (const std::string& password : passwords) {
    EXPECT_EQ(Dak(context, password.c_str()), ReferencePbkdf1(password, kDakSalt)) << password;
    EXPECT_EQ(Nmk(context, password.c_str()), ReferencePbkdf1(password, kNmkSalt)) << password;
  }
}

TEST(KeyDerivation, AbsentPasswordIsTheEmptyPassword) {
  Sha256Context context;
  EXPECT_EQ(Dak(context, nullptr), Dak(context, ""));
  EXPECT_EQ(Nmk(context, nullptr), Nmk(context, ""));
  EXPECT_EQ(Dak(context, nullptr), ReferencePbkdf1("", kDakSalt));
}

TEST(KeyDerivation, OnlyTheFirst64BytesCount) {
  const std::string base(64, 'p');
  Sha256Context context;
  const DerivedKey key64 = Dak(context, base.c_str());
  EXPECT_EQ(Dak(context, (base + "q").c_str()), key64);
  EXPECT_EQ(Dak(context, (base + std::string(500, 'z')).c_str()), key64);
  EXPECT_NE(Dak(context, base.substr(0, 63).c_str()), key64);
  EXPECT_EQ(Nmk(context, (base + "q").c_str()), Nmk(context, base.c_str()));
}

TEST(KeyDerivation, DakAndNmkDifferForTheSamePassword) {
  Sha256Context context;
  for (const char* password : {"", "DefaultNPW", "0123456789ABCDEF"}) {
    EXPECT_NE(Dak(context, password), Nmk(context, password)) << password;
  }
}

// The burn derives the NMK and then the DAK in one context; nothing of a run may leak into the
// next, whatever the context held before.
TEST(KeyDerivation, ReusedContextGivesTheSameKeys) {
  Sha256Context context;
  context.digest.fill(0xAA);
  context.byte_count = {0xFFFFFFFFu, 7};
  context.state.fill(0x12345678);
  context.block.fill(0x55);
  const DerivedKey first = Nmk(context, "DefaultNPW");
  const DerivedKey dak = Dak(context, "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(Nmk(context, "DefaultNPW"), first);
  EXPECT_EQ(Dak(context, "ABCDEFGHIJKLMNOP"), dak);

  Sha256Context fresh;
  EXPECT_EQ(Dak(fresh, "ABCDEFGHIJKLMNOP"), dak);
  EXPECT_EQ(DeviceAccessKey("ABCDEFGHIJKLMNOP"), dak);
  EXPECT_EQ(NetworkMembershipKey("DefaultNPW"), first);
}

// The whole digest, not only the key, is the 1000th hash: the burn copies the key out of it.
TEST(KeyDerivation, DigestHoldsTheThousandthHash) {
  std::string input = "DefaultNPW";
  input.append(reinterpret_cast<const char*>(kDakSalt.data()), kDakSalt.size());
  uint8_t expected[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const uint8_t*>(input.data()), input.size(), expected);
  for (int i = 1; i < 1000; ++i) SHA256(expected, sizeof expected, expected);

  Sha256Context context;
  DeriveDak(context, "DefaultNPW");
  EXPECT_EQ(0, std::memcmp(context.digest.data(), expected, sizeof expected));
  EXPECT_EQ(0, std::memcmp(KeyFromDigest(context).data(), expected, kDerivedKeySize));
}

}  // namespace
}  // namespace stampwright
