#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace stampwright {

inline constexpr std::string_view kInstanceRefusalCaption = "Attention!";
inline constexpr std::string_view kDefaultInstanceName = "stampwright";

// "<product> is already running.\nOnly one copy can run at a time.", the whole text whatever the
// product name's length.
std::string InstanceRefusalText(const std::string& product_name);

// Where the lock files live: $XDG_RUNTIME_DIR when it names a directory, else /tmp.
std::string InstanceLockDirectory();

// The single-instance rule: a start is refused while any other process of the program is alive,
// including one that is itself only showing its refusal. Every process holds a shared lock on
// "<name>.instance" for its whole life; a start that can take the lock exclusively has no other
// process alive and runs. Starts are serialised by a second lock, "<name>.instance.gate", so two
// starts at once never both run. The kernel drops the locks when a process ends in any way, so a
// crashed copy never blocks the next start.
class InstanceGuard {
 public:
  static InstanceGuard Acquire(std::string_view program_name = kDefaultInstanceName);

  InstanceGuard(InstanceGuard&& other) noexcept;
  InstanceGuard& operator=(InstanceGuard&& other) noexcept;
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;
  ~InstanceGuard();

  // True when no other process of the program was alive at the start: this copy may run.
  bool IsFirst() const { return first_; }
  // The lock file the rule is kept with.
  const std::string& LockPath() const { return lock_path_; }
  // The running copy: of the other processes holding the lock, the one that started first (a
  // copy that is only showing its refusal holds it too). 0 when the kernel does not say.
  int RunningCopyPid() const;

 private:
  InstanceGuard(int members_fd, bool first, std::string lock_path)
      : members_fd_(members_fd), first_(first), lock_path_(std::move(lock_path)) {}

  int members_fd_ = -1;  // holds the shared lock until this guard (or the process) ends
  bool first_ = false;
  std::string lock_path_;
};

// The one stderr line of a refused copy: "another copy is running (pid N; lock file PATH)"; the
// pid is left out when it cannot be told.
std::string InstanceRefusalNote(const InstanceGuard& guard);

}  // namespace stampwright
