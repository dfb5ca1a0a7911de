#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <utility>

namespace stampwright {
namespace {

// A start holds the gate for a few system calls only; one that holds it this long is stuck, but
// alive, and so counts as a running copy.
constexpr int kGateAttempts = 2000;
constexpr long kGateRetryNanoseconds = 1'000'000;  // 1 ms

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Read access is all a lock needs. In a shared sticky directory a file made by another user may
// refuse O_CREAT even though it can be opened as it is, hence the second try.
int OpenLockFile(const std::string& path) {
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW;
  int fd = ::open(path.c_str(), kFlags | O_CREAT, 0644);
  if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), kFlags);
  return fd;
}

bool Lock(int fd, int operation) {
  int result;
  do {
    result = ::flock(fd, operation | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

void PauseBriefly() {
  timespec pause{0, kGateRetryNanoseconds};
  ::nanosleep(&pause, nullptr);
}

}  // namespace

std::string InstanceRefusalText(const std::string& product_name) {
  return product_name + " is already running.\nOnly one copy can run at a time.";
}

std::string InstanceLockDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat info {};
  if (runtime != nullptr && runtime[0] == '/' && ::stat(runtime, &info) == 0 &&
      S_ISDIR(info.st_mode)) {
    return runtime;
  }
  return "/tmp";
}

InstanceGuard InstanceGuard::Acquire(std::string_view program_name) {
  const std::string base = InstanceLockDirectory() + "/" + std::string(program_name) + ".instance";
  Descriptor members(OpenLockFile(base));
  // Without a lock file the rule cannot be kept; the station then runs rather than refusing an
  // operator for a reason that has nothing to do with another copy.
  if (members.get() < 0) return InstanceGuard(-1, true);

  Descriptor gate(OpenLockFile(base + ".gate"));
  bool gate_held = gate.get() < 0;  // no gate file: decide without one
  for (int attempt = 0; !gate_held && attempt < kGateAttempts; ++attempt) {
    gate_held = Lock(gate.get(), LOCK_EX);
    if (!gate_held) PauseBriefly();
  }

  bool first = false;
  if (gate_held && Lock(members.get(), LOCK_EX)) {
    // Alone. The change to shared is not atomic for flock, but every other start waits at the
    // gate meanwhile, and the exclusive lock is only ever taken behind it.
    first = Lock(members.get(), LOCK_SH);
  }
  if (!first) {
    // Another copy is alive (or a start is stuck at the gate). This copy counts as running too
    // for as long as it shows its refusal.
    for (int attempt = 0; attempt < kGateAttempts && !Lock(members.get(), LOCK_SH); ++attempt) {
      PauseBriefly();
    }
  }
  return InstanceGuard(members.release(), first);
}

InstanceGuard::InstanceGuard(InstanceGuard&& other) noexcept
    : members_fd_(std::exchange(other.members_fd_, -1)), first_(other.first_) {}

InstanceGuard& InstanceGuard::operator=(InstanceGuard&& other) noexcept {
  if (this != &other) {
    if (members_fd_ >= 0) ::close(members_fd_);
    members_fd_ = std::exchange(other.members_fd_, -1);
    first_ = other.first_;
  }
  return *this;
}

InstanceGuard::~InstanceGuard() {
  if (members_fd_ >= 0) ::close(members_fd_);
}

}  // namespace stampwright
