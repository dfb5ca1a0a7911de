// Start-up time: from starting the station to its page being shown. A timing harness that starts
// the program several times, each run with a fresh working directory and XDG_RUNTIME_DIR (so the
// single-instance lock of one run never meets another's).
//
//   startup_bench [--runs N] -- PROGRAM ARGS...            headless: until the "ready" event
//   startup_bench [--runs N] --window CAPTION -- PROGRAM ARGS...
//                                                          window: until a top-level window is
//                                                          mapped (xev), checked to be the one of
//                                                          that name (xwininfo)
//
// "--workdir DIR" is appended to the program's arguments. In headless mode stdin is empty, so the
// program closes by itself right after "ready"; the time to its exit is reported too. In window
// mode the program is ended with SIGTERM once its window is shown. startup_bench.sh runs this in
// a network namespace with one veth end and no unit, under xvfb-run for the window.

#include <benchmark/benchmark.h>  // linked by bench/CMakeLists.txt; unused here
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;
constexpr auto kRunLimit = std::chrono::seconds(30);

double MsSince(Steady::time_point start) {
  return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

struct RunResult {
  double shown_ms = 0;                 // start to ready event or viewable window
  std::optional<double> reported_ms;   // the "ms" of the ready event, as the program counts
  std::optional<double> exit_ms;       // start to exit (headless)
};

std::string MakeTempDir(const char* stem) {
  std::string pattern = std::string("/tmp/") + stem + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  return ::mkdtemp(buffer.data()) != nullptr ? std::string(buffer.data()) : std::string();
}

void RemoveTree(const std::string& dir) {
  if (dir.empty()) return;
  const std::string command = "rm -rf '" + dir + "'";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "startup_bench: cannot remove %s\n", dir.c_str());
}

// Starts the program with stdin from /dev/null, stdout into `out_fd` (or /dev/null) and stderr
// into the run's log.
pid_t Spawn(const std::vector<std::string>& command, const std::string& runtime_dir, int out_fd,
            const std::string& log) {
  const pid_t child = ::fork();
  if (child != 0) return child;
  ::setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 1);
  const int null_fd = ::open("/dev/null", O_RDWR);
  const int log_fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(null_fd, 0);
  ::dup2(out_fd >= 0 ? out_fd : null_fd, 1);
  ::dup2(log_fd >= 0 ? log_fd : null_fd, 2);
  std::vector<char*> argv;
  for (const auto& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  ::execvp(argv[0], argv.data());
  ::_exit(127);
}

// Waits for the child for at most `limit`, then kills it.
std::optional<int> Reap(pid_t child, std::chrono::milliseconds limit) {
  const auto deadline = Steady::now() + limit;
  int status = 0;
  while (Steady::now() < deadline) {
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, &status, 0);
  return std::nullopt;
}

std::optional<RunResult> RunHeadless(const std::vector<std::string>& command, const std::string& runtime_dir,
                                     const std::string& log) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return std::nullopt;
  const auto start = Steady::now();
  const pid_t child = Spawn(command, runtime_dir, pipe_fds[1], log);
  ::close(pipe_fds[1]);
  if (child < 0) return std::nullopt;
  ::fcntl(pipe_fds[0], F_SETFL, O_NONBLOCK);
  std::string pending;
  std::optional<RunResult> result;
  char buffer[4096];
  bool open = true;
  while (open && Steady::now() - start < kRunLimit) {
    const ssize_t got = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (got == 0) open = false;
    if (got < 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      continue;
    }
    pending.append(buffer, static_cast<size_t>(got));
    for (size_t end; !result && (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      const std::string line = pending.substr(0, end);
      if (line.find("\"event\":\"ready\"") == std::string::npos) continue;
      result = RunResult{MsSince(start), std::nullopt, std::nullopt};
      const size_t ms = line.find("\"ms\":");
      if (ms != std::string::npos) result->reported_ms = std::atof(line.c_str() + ms + 5);
    }
    if (result && pending.size() > 65536) pending.clear();
  }
  ::close(pipe_fds[0]);
  const auto status = Reap(child, std::chrono::seconds(10));
  if (result && status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) result->exit_ms = MsSince(start);
  return result;
}

bool WindowViewable(const std::string& caption) {
  const std::string command = "xwininfo -name '" + caption + "' 2>/dev/null";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  char line[512];
  bool viewable = false;
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    viewable = viewable || std::strstr(line, "Map State: IsViewable") != nullptr;
  }
  ::pclose(pipe);
  return viewable;
}

// One xev on the root window for the whole bench, reporting every top-level window mapped. Waiting
// on its output rather than polling the server with a new client every few milliseconds matters:
// under such polling the program's own connection to the server was now and then refused.
class MapWatcher {
 public:
  MapWatcher() {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      const int null_fd = ::open("/dev/null", O_RDWR);
      ::dup2(null_fd, 0);
      ::dup2(pipe_fds[1], 1);
      ::dup2(null_fd, 2);
      ::execlp("xev", "xev", "-root", "-event", "substructure", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(pipe_fds[1]);
    fd_ = pipe_fds[0];
    ::fcntl(fd_, F_SETFL, O_NONBLOCK);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // xev selects its events
  }
  ~MapWatcher() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return pid_ > 0 && fd_ >= 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

  // Forgets what was reported so far.
  void Drain() {
    char buffer[4096];
    while (::read(fd_, buffer, sizeof buffer) > 0) {
    }
    pending_.clear();
  }

  // True once a top-level window has been mapped; false when `keep_waiting` says stop.
  template <typename KeepWaiting>
  bool AwaitMap(KeepWaiting keep_waiting) {
    char buffer[4096];
    while (keep_waiting()) {
      const ssize_t got = ::read(fd_, buffer, sizeof buffer);
      if (got <= 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        continue;
      }
      pending_.append(buffer, static_cast<size_t>(got));
      for (size_t end; (end = pending_.find('\n')) != std::string::npos; pending_.erase(0, end + 1)) {
        if (pending_.compare(0, 9, "MapNotify") == 0) {
          pending_.erase(0, end + 1);
          return true;
        }
      }
    }
    return false;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string pending_;
};

std::optional<RunResult> RunWindow(const std::vector<std::string>& command, const std::string& runtime_dir,
                                   const std::string& log, const std::string& caption, MapWatcher& watcher) {
  watcher.Drain();
  const auto start = Steady::now();
  const pid_t child = Spawn(command, runtime_dir, -1, log);
  if (child < 0) return std::nullopt;
  int status = 0;
  bool ended = false;
  const bool mapped = watcher.AwaitMap([&] {
    ended = ::waitpid(child, &status, WNOHANG) == child;
    return !ended && Steady::now() - start < kRunLimit;
  });
  std::optional<RunResult> result;
  // The window mapped must be the station's, named by its caption.
  if (mapped) result = RunResult{MsSince(start), std::nullopt, std::nullopt};
  if (mapped && !WindowViewable(caption)) {
    std::fprintf(stderr, "startup_bench: a window was mapped, but none named \"%s\" is viewable\n", caption.c_str());
    result.reset();
  }
  if (ended) {
    std::fprintf(stderr, "startup_bench: the program ended after %.0f ms before its window showed (%s %d)\n",
                 MsSince(start), WIFEXITED(status) ? "exit" : "signal",
                 WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
    return std::nullopt;
  }
  ::kill(child, SIGTERM);
  Reap(child, std::chrono::seconds(5));
  return result;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  std::optional<std::string> caption;
  int first = 1;
  for (; first < argc && std::strcmp(argv[first], "--") != 0; ++first) {
    if (std::strcmp(argv[first], "--runs") == 0 && first + 1 < argc) {
      runs = std::atoi(argv[++first]);
    } else if (std::strcmp(argv[first], "--window") == 0 && first + 1 < argc) {
      caption = argv[++first];
    } else {
      first = argc;
    }
  }
  if (first + 1 >= argc || runs <= 0) {
    std::fprintf(stderr, "usage: startup_bench [--runs N] [--window CAPTION] -- PROGRAM ARGS...\n");
    return 2;
  }
  const std::vector<std::string> base(argv + first + 1, argv + argc);

  std::optional<MapWatcher> watcher;
  if (caption) {
    watcher.emplace();
    if (!watcher->ok()) {
      std::fprintf(stderr, "startup_bench: cannot start xev on the display\n");
      return 1;
    }
  }
  std::vector<double> shown, reported, exited;
  for (int run = 0; run < runs; ++run) {
    const std::string dir = MakeTempDir("startup-bench");
    if (dir.empty() || ::mkdir((dir + "/runtime").c_str(), 0700) != 0 || ::mkdir((dir + "/work").c_str(), 0755) != 0) {
      std::perror("startup_bench: temporary directory");
      return 1;
    }
    std::vector<std::string> command = base;
    command.push_back("--workdir");
    command.push_back(dir + "/work");
    const std::string log = dir + "/stderr.log";
    const auto result = caption ? RunWindow(command, dir + "/runtime", log, *caption, *watcher)
                                : RunHeadless(command, dir + "/runtime", log);
    if (!result) {
      std::fprintf(stderr, "startup_bench: run %d: the page was never shown; its stderr:\n", run + 1);
      const std::string show = "cat '" + log + "' >&2";
      if (std::system(show.c_str()) != 0) std::fprintf(stderr, "(no log)\n");
      RemoveTree(dir);
      return 1;
    }
    RemoveTree(dir);
    shown.push_back(result->shown_ms);
    std::printf("run %d: shown after %.1f ms", run + 1, result->shown_ms);
    if (result->reported_ms) {
      reported.push_back(*result->reported_ms);
      std::printf(" (the program's own count: %.0f ms)", *result->reported_ms);
    }
    if (result->exit_ms) {
      exited.push_back(*result->exit_ms);
      std::printf(", exited after %.1f ms", *result->exit_ms);
    }
    std::printf("\n");
  }
  std::printf("%s: median start to shown %.1f ms over %d runs (min %.1f, max %.1f)",
              caption ? "window" : "headless", Median(shown), runs,
              *std::min_element(shown.begin(), shown.end()), *std::max_element(shown.begin(), shown.end()));
  if (!reported.empty()) std::printf("; program's own count %.0f ms", Median(reported));
  if (!exited.empty()) std::printf("; to exit %.1f ms", Median(exited));
  std::printf("\n");
  return 0;
}
