#include "label/printer.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <filesystem>
#include <thread>

#include "base/work_directory.h"

extern char** environ;

namespace stampwright {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Owns a descriptor: closed on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&&) = delete;
  ~Descriptor() { Reset(); }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

int MsLeft(SteadyClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for events on fd until deadline; false when the time ran out.
bool Await(int fd, short events, SteadyClock::time_point deadline) {
  for (;;) {
    pollfd state{fd, events, 0};
    const int ready = ::poll(&state, 1, MsLeft(deadline));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

std::string Seconds(std::chrono::milliseconds limit) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(limit.count()) / 1000.0);
  return text;
}

std::optional<std::string> SendAll(int fd, std::string_view bytes, SteadyClock::time_point deadline,
                                   std::chrono::milliseconds limit) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<size_t>(sent));
    } else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      return std::string("sending failed: ") + std::strerror(errno);
    } else if (!Await(fd, POLLOUT, deadline)) {
      return "the printer took no data within " + Seconds(limit);
    }
  }
  return std::nullopt;
}

std::optional<std::string> PrintTcp(const PrinterTarget& target, const std::string& zpl,
                                    std::chrono::milliseconds limit) {
  const SteadyClock::time_point deadline = SteadyClock::now() + limit;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(target.port);
  if (const int error = ::getaddrinfo(target.host.c_str(), port.c_str(), &hints, &found)) {
    return "cannot find " + target.host + ": " + ::gai_strerror(error);
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
  Descriptor socket(::socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                             found->ai_protocol));
  if (socket.get() < 0) return std::string("no socket: ") + std::strerror(errno);
  if (::connect(socket.get(), found->ai_addr, found->ai_addrlen) != 0 && errno != EINPROGRESS) {
    return "cannot connect to " + target.host + ":" + port + ": " + std::strerror(errno);
  }
  if (!Await(socket.get(), POLLOUT, deadline)) {
    return target.host + ":" + port + " did not answer within " + Seconds(limit);
  }
  int error = 0;
  socklen_t size = sizeof error;
  ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &size);
  if (error != 0) return "cannot connect to " + target.host + ":" + port + ": " + std::strerror(error);
  if (auto failed = SendAll(socket.get(), zpl, deadline, limit)) return failed;
  // The label counts as printed once the printer's side has acknowledged every byte: a printer
  // that stops reading mid-label holds the unit rather than losing its label.
  for (;;) {
    int unacknowledged = 0;
    if (::ioctl(socket.get(), SIOCOUTQ, &unacknowledged) != 0 || unacknowledged == 0) break;
    if (MsLeft(deadline) == 0) return "the printer took no data within " + Seconds(limit);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::shutdown(socket.get(), SHUT_WR);
  return std::nullopt;
}

// A raw job through CUPS's lp, fed the label on its standard input; lp's own words on failure.
std::optional<std::string> PrintCups(const PrinterTarget& target, const std::string& zpl,
                                     std::chrono::milliseconds limit) {
  const SteadyClock::time_point deadline = SteadyClock::now() + limit;
  int input[2];
  int output[2];
  if (::pipe2(input, O_CLOEXEC) != 0) return std::string("no pipe: ") + std::strerror(errno);
  Descriptor input_read(input[0]), input_write(input[1]);
  if (::pipe2(output, O_CLOEXEC) != 0) return std::string("no pipe: ") + std::strerror(errno);
  Descriptor output_read(output[0]), output_write(output[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input_read.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output_write.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output_write.get(), STDERR_FILENO);
  std::string queue = target.queue;
  char* argv[] = {const_cast<char*>("lp"), const_cast<char*>("-d"), queue.data(),
                  const_cast<char*>("-o"), const_cast<char*>("raw"), nullptr};
  pid_t child = 0;
  const int spawned = ::posix_spawnp(&child, "lp", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::string("cannot run lp: ") + std::strerror(spawned);
  input_read.Reset();
  output_write.Reset();
  ::fcntl(input_write.get(), F_SETFL, O_NONBLOCK);
  ::fcntl(output_read.get(), F_SETFL, O_NONBLOCK);
  std::optional<std::string> failed;
  std::string said;
  std::string_view left = zpl;
  bool output_open = true;
  while ((!left.empty() || output_open) && !failed) {
    pollfd states[2] = {{output_open ? output_read.get() : -1, POLLIN, 0},
                        {left.empty() ? -1 : input_write.get(), POLLOUT, 0}};
    const int ready = ::poll(states, 2, MsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      failed = "lp did not finish within " + Seconds(limit);
      break;
    }
    if (states[1].revents != 0) {
      const ssize_t sent = ::write(input_write.get(), left.data(), left.size());
      if (sent > 0) left.remove_prefix(static_cast<size_t>(sent));
      if (sent < 0 && errno != EAGAIN && errno != EINTR) left = {};  // lp went: its status says why
      if (left.empty()) input_write.Reset();
    }
    if (states[0].revents != 0) {
      char buffer[512];
      const ssize_t got = ::read(output_read.get(), buffer, sizeof buffer);
      if (got > 0 && said.size() < 2000) said.append(buffer, static_cast<size_t>(got));
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) output_open = false;
    }
  }
  int status = 0;
  if (failed) ::kill(child, SIGKILL);
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (failed) return failed;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return std::nullopt;
  while (!said.empty() && (said.back() == '\n' || said.back() == ' ')) said.pop_back();
  if (said.empty()) said = "lp failed with status " + std::to_string(WEXITSTATUS(status));
  return "lp: " + said;
}

// Written beside its final name and renamed into place: a watcher never sees half a label.
std::optional<std::string> PrintToDirectory(const PrinterTarget& target, const std::string& name,
                                            const std::string& zpl, const std::string& workdir) {
  namespace fs = std::filesystem;
  if (name.empty() || name.front() == '.' || name.find('/') != name.npos) {
    return "not a label's file name: " + name;
  }
  const fs::path directory = InDirectory(workdir, target.directory);
  std::error_code error;
  fs::create_directories(directory, error);
  if (error) return "cannot make " + target.directory + ": " + error.message();
  const fs::path final_path = directory / (name + ".zpl");
  const fs::path temporary = directory / ("." + name + ".zpl.tmp");
  Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (file.get() < 0) return "cannot write " + temporary.string() + ": " + std::strerror(errno);
  std::string_view left = zpl;
  while (!left.empty()) {
    const ssize_t written = ::write(file.get(), left.data(), left.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return "cannot write " + temporary.string() + ": " + std::strerror(errno);
    left.remove_prefix(static_cast<size_t>(written));
  }
  if (::fsync(file.get()) != 0) return "cannot write " + temporary.string() + ": " + std::strerror(errno);
  file.Reset();
  fs::rename(temporary, final_path, error);
  if (error) return "cannot write " + final_path.string() + ": " + error.message();
  return std::nullopt;
}

}  // namespace

std::variant<PrinterTarget, std::string> ParsePrinterTarget(std::string_view text) {
  PrinterTarget target;
  target.text = std::string(text);
  const auto bad = [&](const std::string& why) {
    return "--label-printer '" + std::string(text) + "': " + why;
  };
  if (text.starts_with("tcp://")) {
    target.kind = PrinterTarget::Kind::kTcp;
    std::string_view rest = text.substr(6);
    std::optional<std::string_view> port;
    if (rest.starts_with('[')) {  // [IPv6]:port
      const size_t close = rest.find(']');
      if (close == rest.npos) return bad("no ']' after the address");
      target.host = std::string(rest.substr(1, close - 1));
      rest.remove_prefix(close + 1);
      if (rest.starts_with(':')) {
        port = rest.substr(1);
      } else if (!rest.empty()) {
        return bad("text after the address");
      }
    } else {
      const size_t colon = rest.find(':');
      target.host = std::string(rest.substr(0, colon));
      if (colon != rest.npos) port = rest.substr(colon + 1);
    }
    if (target.host.empty()) return bad("no host");
    if (port) {
      unsigned value = 0;
      const auto [end, error] = std::from_chars(port->data(), port->data() + port->size(), value);
      if (port->empty() || error != std::errc{} || end != port->data() + port->size() ||
          value == 0 || value > 65535) {
        return bad("the port is not a number from 1 to 65535");
      }
      target.port = static_cast<uint16_t>(value);
    }
    return target;
  }
  if (text.starts_with("cups:")) {
    target.kind = PrinterTarget::Kind::kCups;
    target.queue = std::string(text.substr(5));
    if (target.queue.empty() || target.queue.starts_with('-')) return bad("no queue name");
    return target;
  }
  if (text.starts_with("dir:")) {
    target.kind = PrinterTarget::Kind::kDirectory;
    target.directory = std::string(text.substr(4));
    if (target.directory.empty()) return bad("no directory");
    return target;
  }
  return bad("expected tcp://HOST[:PORT], cups:QUEUE or dir:PATH");
}

std::optional<std::string> PrintLabel(const PrinterTarget& target, const std::string& name,
                                      const std::string& zpl, const std::string& workdir,
                                      std::chrono::milliseconds limit) {
  switch (target.kind) {
    case PrinterTarget::Kind::kTcp:
      return PrintTcp(target, zpl, limit);
    case PrinterTarget::Kind::kCups:
      return PrintCups(target, zpl, limit);
    case PrinterTarget::Kind::kDirectory:
      return PrintToDirectory(target, name, zpl, workdir);
  }
  return "no printer";
}

}  // namespace stampwright
