// A station killed with SIGKILL at random points of a run of burns: the journal must pass
// SQLite's integrity check and hold every attempt whose opening record had been written.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>
#include <string>

#include "journal/sqlite_journal.h"
#include "support/forwarding_journal.h"
#include "support/soak_scenario.h"
#include "support/temp_dir.h"

namespace stampwright::soak {
namespace {

constexpr int kBurns = 50;
constexpr int kRounds = 8;
constexpr char kStation[] = "kill-test";

// Tells a pipe the id of every record the journal took, once it returned.
class ReportingJournal final : public ForwardingJournal {
 public:
  ReportingJournal(Journal& inner, int fd) : ForwardingJournal(inner), fd_(fd) {}
  JournalStatus Append(JournalRecord& record) override {
    JournalStatus status = inner_.Append(record);
    if (status.ok()) {
      const std::string line = record.id + "\n";
      if (::write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(4);
    }
    return status;
  }

 private:
  int fd_;
};

[[noreturn]] void RunStation(const std::string& path, int fd, uint64_t seed) {
  JournalStatus status;
  auto journal = SqliteJournal::Open(path, &status);
  if (!journal) _exit(3);
  ReportingJournal reporting(*journal, fd);
  Soak soak(kBurns, seed);
  JournalLink& link = soak.station().journal;
  link.enabled = true;
  link.journal = &reporting;
  link.station_name = kStation;
  soak.Run();
  _exit(0);
}

class JournalKillTest : public InTempDir {};

TEST_F(JournalKillTest, KilledStationLeavesAnIntactJournalWithEveryAttempt) {
  std::mt19937 random(20261208);
  for (int round = 0; round < kRounds; ++round) {
    const std::string path = "journal-" + std::to_string(round) + ".db";
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(fds[0]);
      RunStation(path, fds[1], 1000 + static_cast<uint64_t>(round));
    }
    ::close(fds[1]);
    // Killed after a random number of records, a random moment later: inside a write, a wait
    // or a commit.
    const int kill_after = 1 + static_cast<int>(random() % kBurns);
    std::set<std::string> reported;
    std::string pending;
    char buffer[4096];
    bool killed = false;
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) {
      pending.append(buffer, static_cast<size_t>(n));
      for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
        reported.insert(pending.substr(0, end));
      }
      if (!killed && static_cast<int>(reported.size()) >= kill_after) {
        ::usleep(static_cast<useconds_t>(random() % 3000));
        ::kill(child, SIGKILL);
        killed = true;
      }
    }
    ::close(fds[0]);
    int wait_status = 0;
    ASSERT_EQ(::waitpid(child, &wait_status, 0), child);
    ASSERT_TRUE(killed || (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0))
        << "round " << round << ": the station ended by itself with " << wait_status;

    JournalStatus status;
    auto journal = SqliteJournal::Open(path, &status);
    ASSERT_TRUE(journal) << status.error;
    SqliteStatement check;
    ASSERT_TRUE(check.Prepare(journal->database(), "PRAGMA integrity_check"));
    ASSERT_EQ(check.Step(), SQLITE_ROW);
    EXPECT_EQ(check.Text(0), "ok") << "round " << round;
    ASSERT_TRUE(journal->CloseInterrupted(kStation, UtcNowMs(), nullptr).ok());
    std::vector<JournalRecord> records;
    ASSERT_TRUE(journal->Read({}, &records).ok());
    std::set<std::string> stored;
    for (const JournalRecord& r : records) {
      stored.insert(r.id);
      EXPECT_TRUE(r.outcome) << "round " << round << ": attempt " << r.id << " left open";
    }
    for (const std::string& id : reported) {
      EXPECT_EQ(stored.count(id), 1u) << "round " << round << ": attempt " << id << " lost";
    }
    EXPECT_GE(records.size(), reported.size());
  }
}

}  // namespace
}  // namespace stampwright::soak
