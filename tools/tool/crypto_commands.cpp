// Keys and digests: nmk, dak, sha256.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "commands.h"
#include "crypto/key_derivation.h"
#include "crypto/sha256.h"

namespace stampwright::tool {
namespace {

int PrintKey(int argc, char** argv, DerivedKey (*derive)(const char*)) {
  int first = 0;
  if (!TakeOperands(argc, argv, 1, &first)) return kExitUsage;
  const DerivedKey key = derive(argv[first]);
  std::printf("%s\n", HexBytes(key.data(), key.size(), "").c_str());
  return kExitOk;
}

std::string LowerHex(const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

std::string ErrnoText(const char* what, const char* path) {
  const int error = errno;  // before anything below can touch it
  return std::string(what) + path + ": " + std::strerror(error);
}

// Closes what it opened; stdin stays open.
struct InputFile {
  std::FILE* file = nullptr;
  bool owned = false;
  ~InputFile() {
    if (owned && file != nullptr) std::fclose(file);
  }
};

}  // namespace

int RunNmk(int argc, char** argv) { return PrintKey(argc, argv, NetworkMembershipKey); }

int RunDak(int argc, char** argv) { return PrintKey(argc, argv, DeviceAccessKey); }

int RunSha256(int argc, char** argv) {
  int first = 0;
  if (!TakeOperands(argc, argv, 1, &first)) return kExitUsage;
  const char* path = argv[first];

  InputFile input;
  if (std::strcmp(path, "-") == 0) {
    input.file = stdin;
  } else {
    input.file = std::fopen(path, "rb");
    input.owned = true;
    if (input.file == nullptr) {
      return Failure(argv[0], ErrnoText("cannot open ", path).c_str());
    }
  }

  Sha256Context context;
  Sha256Reset(context);
  std::vector<uint8_t> buffer(64 * 1024);
  size_t got = 0;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), input.file)) > 0) {
    Sha256Update(context, buffer.data(), static_cast<uint32_t>(got));
  }
  // A directory opens on Linux but fails on the first read.
  if (std::ferror(input.file)) {
    return Failure(argv[0], ErrnoText("cannot read ", path).c_str());
  }
  Sha256Final(context);
  std::printf("%s\n", LowerHex(context.digest.data(), context.digest.size()).c_str());
  return kExitOk;
}

}  // namespace stampwright::tool
