// "mes status" and "mes listen": what the station's MES outbox holds, and what reaches a broker.

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "commands.h"
#include "journal/record.h"
#include "journal_common.h"
#include "report/amqp_url.h"
#include "report/mes_listener.h"
#include "report/mes_outbox.h"

namespace stampwright::tool {
namespace {

constexpr const char* kCommand = "mes";

std::string TimeOrDash(const std::optional<int64_t>& utc_ms) {
  return utc_ms ? FormatUtcSeconds(*utc_ms) + " UTC" : std::string("-");
}

int RunStatus(const JournalArguments& arguments) {
  if (arguments.operands.size() != 1) return UsageError(kCommand, "too many arguments");
  const std::string path = arguments.Get("--journal", kDefaultJournalTarget);
  MesOutboxStatus status;
  if (auto error = ReadMesOutboxStatus(path, &status)) return Failure(kCommand, error->c_str());
  std::printf("backlog: %lld\n", static_cast<long long>(status.backlog));
  std::printf("oldest waiting: %s\n", TimeOrDash(status.backlog > 0 ? status.oldest_waiting : std::nullopt).c_str());
  std::printf("last sent: %s%s%s\n", TimeOrDash(status.last_sent).c_str(),
              status.last_sent_name.empty() ? "" : " ", status.last_sent_name.c_str());
  std::printf("last error: %s%s%s\n", TimeOrDash(status.last_error_at).c_str(),
              status.last_error.empty() ? "" : " ", status.last_error.c_str());
  return kExitOk;
}

// One envelope as one JSON line on stdout; what cannot be read, a line on stderr.
void Print(const ReceivedCfxMessage& message) {
  if (!message.error.empty()) {
    std::fprintf(stderr, "stampwright-tool mes: message %s: %s\n", message.message_id.c_str(),
                 message.error.c_str());
    return;
  }
  const auto envelope = nlohmann::ordered_json::parse(message.envelope, nullptr, false);
  if (envelope.is_discarded()) {
    std::fprintf(stderr, "stampwright-tool mes: message %s is not JSON\n", message.message_id.c_str());
    return;
  }
  std::printf("%s\n", envelope.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
  std::fflush(stdout);
}

// Until SIGINT or SIGTERM, or count messages; each envelope as one JSON line on stdout.
int RunListen(const JournalArguments& arguments) {
  if (arguments.operands.size() != 2) return UsageError(kCommand, "expects one URL");
  const std::string url = arguments.operands[1];
  long count = 0;
  if (const std::string text = arguments.Get("--count"); !text.empty()) {
    char* end = nullptr;
    count = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || count <= 0) return UsageError(kCommand, "--count takes a positive number");
  }
  // The listener's thread inherits the blocked signals; this thread takes them with sigtimedwait.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  std::atomic<long> received = 0;
  MesListener listener(
      url,
      [&](const ReceivedCfxMessage& message) {
        Print(message);
        ++received;
      },
      [&](bool connected, const std::string& text) {
        std::fprintf(stderr, "stampwright-tool mes: %s%s\n", connected ? "listening on " : "", text.c_str());
      },
      count);
  std::string error;
  if (!listener.Start(&error)) return Failure(kCommand, error.c_str());
  const timespec tick{0, 100'000'000};
  while (count == 0 || received.load() < count) {
    if (sigtimedwait(&stop, nullptr, &tick) > 0) break;
  }
  listener.Stop();
  return kExitOk;
}

}  // namespace

int RunMes(int argc, char** argv) {
  if (argc < 2) return UsageError(kCommand, "expects status or listen");
  const std::string sub = argv[1];
  const std::set<std::string> allowed = sub == "status" ? std::set<std::string>{"--journal"}
                                                        : std::set<std::string>{"--count"};
  if (sub != "status" && sub != "listen") return UsageError(kCommand, ("unknown subcommand " + sub).c_str());
  const JournalArguments arguments = ParseJournalArguments(argc, argv, 1, allowed);
  if (!arguments.error.empty()) return UsageError(kCommand, arguments.error.c_str());
  return sub == "status" ? RunStatus(arguments) : RunListen(arguments);
}

}  // namespace stampwright::tool
