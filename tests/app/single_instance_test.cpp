#include "app/single_instance.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace stampwright {
namespace {

constexpr int kReportTimeoutMs = 10000;

// One start of the program in a process of its own. It reports whether it may run, then stays
// alive (as a running copy, or as a copy showing its refusal) until released or killed.
class Copy {
 public:
  // With a start_fd the copy waits for that pipe to close before it starts.
  explicit Copy(int start_fd = -1, int start_write_fd = -1) {
    int report[2], hold[2];
    if (::pipe(report) != 0 || ::pipe(hold) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::alarm(30);  // never outlives a broken test
      ::close(report[0]);
      ::close(hold[1]);
      if (start_fd >= 0) {
        ::close(start_write_fd);
        char go;
        while (::read(start_fd, &go, 1) > 0) {
        }
      }
      InstanceGuard guard = InstanceGuard::Acquire();
      const char answer = guard.IsFirst() ? 'R' : 'X';
      if (::write(report[1], &answer, 1) != 1) ::_exit(3);
      char release;
      while (::read(hold[0], &release, 1) < 0) {
      }
      ::_exit(0);
    }
    ::close(report[1]);
    ::close(hold[0]);
    report_fd_ = report[0];
    hold_fd_ = hold[1];
  }
  Copy(const Copy&) = delete;
  Copy& operator=(const Copy&) = delete;
  ~Copy() {
    if (pid_ > 0) Kill();
    ::close(report_fd_);
    ::close(hold_fd_);
  }

  // 'R' when the copy runs, 'X' when it is refused; nothing if it did not report in time.
  std::optional<char> Outcome() {
    if (outcome_) return outcome_;
    pollfd ready{report_fd_, POLLIN, 0};
    char answer;
    if (::poll(&ready, 1, kReportTimeoutMs) == 1 && ::read(report_fd_, &answer, 1) == 1) {
      outcome_ = answer;
    }
    return outcome_;
  }
  bool Runs() { return Outcome() == 'R'; }
  pid_t pid() const { return pid_; }
  bool Refused() { return Outcome() == 'X'; }

  // The copy ends normally (the operator closed its window or its refusal box).
  void Release() {
    const char release = 'q';
    ASSERT_EQ(::write(hold_fd_, &release, 1), 1);
    Reap();
  }
  void Kill() {
    ::kill(pid_, SIGKILL);
    Reap();
  }

 private:
  void Reap() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  pid_t pid_ = -1;
  int report_fd_ = -1;
  int hold_fd_ = -1;
  std::optional<char> outcome_;
};

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/single-instance-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const char* previous = std::getenv("XDG_RUNTIME_DIR");
    if (previous != nullptr) previous_ = previous;
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    if (previous_) {
      ::setenv("XDG_RUNTIME_DIR", previous_->c_str(), 1);
    } else {
      ::unsetenv("XDG_RUNTIME_DIR");
    }
    std::filesystem::remove_all(dir_);
  }

  std::string dir_;
  std::optional<std::string> previous_;
};

TEST(InstanceRefusal, TextNamesTheProductAndCaptionIsAttention) {
  EXPECT_EQ(InstanceRefusalText("Linewave Utility"),
            "Linewave Utility is already running.\nOnly one copy can run at a time.");
  EXPECT_EQ(InstanceRefusalText(""), " is already running.\nOnly one copy can run at a time.");
  // A long product name does not cut the sentence that tells the operator what to do.
  const std::string long_name(63, 'N');
  EXPECT_EQ(InstanceRefusalText(long_name),
            long_name + " is already running.\nOnly one copy can run at a time.");
  EXPECT_EQ(kInstanceRefusalCaption, "Attention!");
}

TEST_F(SingleInstanceTest, LockFilesLiveInTheRuntimeDirectoryElseTmp) {
  EXPECT_EQ(InstanceLockDirectory(), dir_);
  Copy first;
  ASSERT_TRUE(first.Runs());
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/stampwright.instance"));
  ::setenv("XDG_RUNTIME_DIR", "", 1);
  EXPECT_EQ(InstanceLockDirectory(), "/tmp");
  ::setenv("XDG_RUNTIME_DIR", (dir_ + "/missing").c_str(), 1);
  EXPECT_EQ(InstanceLockDirectory(), "/tmp");
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(InstanceLockDirectory(), "/tmp");
}

TEST_F(SingleInstanceTest, SecondStartIsRefusedAndFirstIsUndisturbed) {
  Copy first;
  ASSERT_TRUE(first.Runs());
  Copy second;
  EXPECT_TRUE(second.Refused());
  second.Release();
  Copy third;
  EXPECT_TRUE(third.Refused());  // the first still runs
}

TEST_F(SingleInstanceTest, RefusalNoteNamesTheLockFileAndTheCopyThatStartedFirst) {
  Copy first;
  ASSERT_TRUE(first.Runs());
  Copy second;  // refused, and holding the lock while it says so
  ASSERT_TRUE(second.Refused());
  const InstanceGuard third = InstanceGuard::Acquire();
  ASSERT_FALSE(third.IsFirst());
  EXPECT_EQ(third.LockPath(), dir_ + "/stampwright.instance");
  EXPECT_EQ(third.RunningCopyPid(), first.pid());
  EXPECT_EQ(InstanceRefusalNote(third), "another copy is running (pid " +
                                            std::to_string(first.pid()) + "; lock file " + dir_ +
                                            "/stampwright.instance)");
  // Once every other copy has gone there is nobody to name.
  first.Release();
  second.Release();
  EXPECT_EQ(third.RunningCopyPid(), 0);
}

TEST_F(SingleInstanceTest, RefusingCopyCountsAsRunningAfterTheFirstHasEnded) {
  Copy first;
  ASSERT_TRUE(first.Runs());
  Copy second;
  ASSERT_TRUE(second.Refused());
  first.Release();
  Copy third;
  EXPECT_TRUE(third.Refused());  // the second still shows its box
  third.Release();
  second.Release();
  Copy fourth;
  EXPECT_TRUE(fourth.Runs());  // nobody is left
}

TEST_F(SingleInstanceTest, KilledCopyDoesNotBlockTheNextStart) {
  Copy first;
  ASSERT_TRUE(first.Runs());
  first.Kill();
  Copy second;
  EXPECT_TRUE(second.Runs());
  Copy third;
  EXPECT_TRUE(third.Refused());
  second.Kill();
  third.Kill();
  Copy fourth;
  EXPECT_TRUE(fourth.Runs());
}

TEST_F(SingleInstanceTest, GuardEndsWithItsOwnerInTheSameProcess) {
  {
    InstanceGuard guard = InstanceGuard::Acquire();
    ASSERT_TRUE(guard.IsFirst());
    InstanceGuard moved = std::move(guard);
    Copy other;
    EXPECT_TRUE(other.Refused());
  }
  Copy after;
  EXPECT_TRUE(after.Runs());
  // Another program name is another program.
  InstanceGuard other_program = InstanceGuard::Acquire("stampwright-other");
  EXPECT_TRUE(other_program.IsFirst());
}

TEST_F(SingleInstanceTest, SimultaneousStartsLetExactlyOneRun) {
  constexpr int kRounds = 8;
  constexpr int kCopies = 12;
  for (int round = 0; round < kRounds; ++round) {
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<std::unique_ptr<Copy>> copies;
    for (int i = 0; i < kCopies; ++i) copies.push_back(std::make_unique<Copy>(start[0], start[1]));
    ::close(start[0]);
    ::close(start[1]);  // all copies start at once
    int running = 0, refused = 0;
    for (auto& copy : copies) {
      if (copy->Runs()) ++running;
      if (copy->Refused()) ++refused;
    }
    EXPECT_EQ(running, 1) << "round " << round;
    EXPECT_EQ(refused, kCopies - 1) << "round " << round;
  }
}

}  // namespace
}  // namespace stampwright
