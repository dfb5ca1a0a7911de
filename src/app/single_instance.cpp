#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
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

// When the process started, in clock ticks since boot (field 22 of /proc/PID/stat); nothing
// once it has gone.
std::optional<unsigned long long> StartTime(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return std::nullopt;
  // The command name in parentheses may hold blanks and parentheses of its own.
  const size_t name_end = line.rfind(')');
  if (name_end == std::string::npos) return std::nullopt;
  std::istringstream fields(line.substr(name_end + 1));
  std::string field;
  for (int index = 3; index <= 22 && fields >> field; ++index) {
    if (index == 22) return std::strtoull(field.c_str(), nullptr, 10);
  }
  return std::nullopt;
}

}  // namespace

int InstanceGuard::RunningCopyPid() const {
  struct stat lock {};
  if (members_fd_ < 0 || ::fstat(members_fd_, &lock) != 0) return 0;
  char device[32];
  std::snprintf(device, sizeof device, "%02x:%02x:%llu", ::major(lock.st_dev), ::minor(lock.st_dev),
                static_cast<unsigned long long>(lock.st_ino));
  // flock gives no owner; the kernel's table of locks does: "1: FLOCK ADVISORY READ PID
  // MAJ:MIN:INODE 0 EOF" (a waiter's line has "->" in the second field).
  std::ifstream locks("/proc/locks");
  std::string line;
  int oldest = 0;
  unsigned long long oldest_start = 0;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, type, mode, access, file;
    int pid = 0;
    if (!(fields >> number >> type >> mode >> access >> pid >> file)) continue;
    if (type != "FLOCK" || file != device || pid <= 0 || pid == ::getpid()) continue;
    const std::optional<unsigned long long> start = StartTime(pid);
    if (!start) continue;
    if (oldest == 0 || *start < oldest_start || (*start == oldest_start && pid < oldest)) {
      oldest = pid;
      oldest_start = *start;
    }
  }
  return oldest;
}

std::string InstanceRefusalNote(const InstanceGuard& guard) {
  const int pid = guard.RunningCopyPid();
  return "another copy is running (" + (pid > 0 ? "pid " + std::to_string(pid) + "; " : std::string()) +
         "lock file " + guard.LockPath() + ")";
}

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
  if (members.get() < 0) return InstanceGuard(-1, true, base);

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
  return InstanceGuard(members.release(), first, base);
}

InstanceGuard::InstanceGuard(InstanceGuard&& other) noexcept
    : members_fd_(std::exchange(other.members_fd_, -1)),
      first_(other.first_),
      lock_path_(std::move(other.lock_path_)) {}

InstanceGuard& InstanceGuard::operator=(InstanceGuard&& other) noexcept {
  if (this != &other) {
    if (members_fd_ >= 0) ::close(members_fd_);
    members_fd_ = std::exchange(other.members_fd_, -1);
    first_ = other.first_;
    lock_path_ = std::move(other.lock_path_);
  }
  return *this;
}

InstanceGuard::~InstanceGuard() {
  if (members_fd_ >= 0) ::close(members_fd_);
}

}  // namespace stampwright
