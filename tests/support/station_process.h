#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace stampwright::e2e {

inline bool IsEvent(const nlohmann::ordered_json& event, const std::string& kind) {
  return event.is_object() && event.value("event", "") == kind;
}

// The station binary as the build puts it.
inline std::string StationBinary() { return std::string(STAMPWRIGHT_BIN_DIR) + "/stampwright"; }

struct ProcessOptions {
  std::vector<std::pair<std::string, std::string>> environment;  // added to the inherited one
  // Root only: a network namespace of the process's own, so that nothing it does (the ARP flush
  // of a burn) reaches the host's network state.
  bool own_network = false;
  // Root only: run as nobody, without any way to gain privileges.
  bool as_nobody = false;
  // Where the process starts; empty: the test's own working directory.
  std::string working_directory;
};

// One run of the station with pipes on stdin, stdout and stderr. Every wait is bounded; the
// process is killed by its PID if it outlives the test.
class StationProcess {
 public:
  using Clock = std::chrono::steady_clock;

  StationProcess(const std::vector<std::string>& arguments, const ProcessOptions& options = {}) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
      std::abort();
    }
    std::vector<std::string> argv_storage{StationBinary()};
    argv_storage.insert(argv_storage.end(), arguments.begin(), arguments.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      ::alarm(120);  // never outlives a broken test
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(err[1], STDERR_FILENO);
      for (const auto& [name, value] : options.environment) ::setenv(name.c_str(), value.c_str(), 1);
      if (options.own_network && ::unshare(CLONE_NEWNET) != 0) ::_exit(125);
      if (!options.working_directory.empty() && ::chdir(options.working_directory.c_str()) != 0) {
        ::_exit(125);
      }
      if (options.as_nobody) {
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::setgroups(0, nullptr) != 0 ||
            ::setgid(65534) != 0 || ::setuid(65534) != 0) {
          ::_exit(125);
        }
      }
      std::vector<char*> argv;
      for (std::string& argument : argv_storage) argv.push_back(argument.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
  }
  StationProcess(const StationProcess&) = delete;
  StationProcess& operator=(const StationProcess&) = delete;
  ~StationProcess() {
    if (pid_ > 0 && !exit_code_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    CloseInput();
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
  }

  void Write(const std::string& text) {
    size_t done = 0;
    while (in_ >= 0 && done < text.size()) {
      const ssize_t n = ::write(in_, text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }
  void CloseInput() {
    if (in_ >= 0) ::close(in_);
    in_ = -1;
  }
  // The reader of the events goes away; what was not read yet is lost.
  void CloseOutput() {
    if (out_ >= 0) ::close(out_);
    out_ = -1;
  }

  // Reads output until an event satisfies the predicate (returned) or the time runs out.
  template <typename Predicate>
  std::optional<nlohmann::ordered_json> WaitForEvent(Predicate predicate, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    size_t checked = 0;
    for (;;) {
      for (; checked < events_.size(); ++checked) {
        if (predicate(events_[checked])) return events_[checked];
      }
      if (!Pump(deadline)) return std::nullopt;
    }
  }

  // Waits for the process to end, reading everything it writes; nothing if it did not end in time.
  std::optional<int> Wait(int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Pump(deadline)) {
    }
    if (exit_code_) return exit_code_;
    for (;;) {
      int status = 0;
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return exit_code_;
      }
      if (Clock::now() >= deadline) return std::nullopt;
      ::usleep(10000);
    }
  }

  const std::vector<nlohmann::ordered_json>& events() const { return events_; }
  const std::vector<std::string>& stdout_lines() const { return lines_; }
  const std::string& stderr_text() const { return stderr_; }
  pid_t pid() const { return pid_; }

  // Text events of one control, in order.
  std::vector<std::string> TextsOf(int id) const {
    std::vector<std::string> texts;
    for (const auto& event : events_) {
      if (IsEvent(event, "text") && event.value("id", 0) == id) {
        texts.push_back(event.value("text", ""));
      }
    }
    return texts;
  }
  std::vector<nlohmann::ordered_json> EventsOfKind(const std::string& kind) const {
    std::vector<nlohmann::ordered_json> found;
    for (const auto& event : events_) {
      if (IsEvent(event, kind)) found.push_back(event);
    }
    return found;
  }

 private:
  // Reads what is there (waiting up to the deadline); false once both outputs have ended or the
  // deadline has passed.
  bool Pump(Clock::time_point deadline) {
    if (out_ < 0 && err_ < 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(left.count())) <= 0) return Clock::now() < deadline;
    char buffer[4096];
    if (out_ >= 0 && (fds[0].revents & (POLLIN | POLLHUP)) != 0) {
      const ssize_t n = ::read(out_, buffer, sizeof buffer);
      if (n <= 0) {
        ::close(out_);
        out_ = -1;
      } else {
        partial_.append(buffer, static_cast<size_t>(n));
        SplitLines();
      }
    }
    if (err_ >= 0 && (fds[1].revents & (POLLIN | POLLHUP)) != 0) {
      const ssize_t n = ::read(err_, buffer, sizeof buffer);
      if (n <= 0) {
        ::close(err_);
        err_ = -1;
      } else {
        stderr_.append(buffer, static_cast<size_t>(n));
      }
    }
    return true;
  }

  void SplitLines() {
    size_t newline;
    while ((newline = partial_.find('\n')) != std::string::npos) {
      std::string line = partial_.substr(0, newline);
      partial_.erase(0, newline + 1);
      lines_.push_back(line);
      // A line that is not JSON stays in stdout_lines, where the tests look for it.
      events_.push_back(nlohmann::ordered_json::parse(line, nullptr, false));
    }
  }

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::optional<int> exit_code_;
  std::string partial_;
  std::vector<std::string> lines_;
  std::vector<nlohmann::ordered_json> events_;
  std::string stderr_;
};

}  // namespace stampwright::e2e
