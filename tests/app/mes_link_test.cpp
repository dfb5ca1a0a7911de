// The MES link's own messages: faults raised once and cleared once by the occurrence they
// raised, queued in order before the goodbye even when told just before the close; the broker's
// state handed to a listener. The broker here is a closed loopback port: everything stays in the
// outbox, where the test reads it.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "app/mes_link.h"
#include "report/cfx/envelope.h"
#include "report/mes_outbox.h"
#include "support/temp_dir.h"

namespace stampwright {
namespace {

class MesLinkTest : public InTempDir {};

TEST_F(MesLinkTest, FaultsAreRaisedOnceAndClearedByTheirOccurrenceBeforeTheGoodbye) {
  std::mutex mutex;
  std::condition_variable told;
  std::vector<MesConnectionState> states;
  {
    std::string error;
    auto link = MesLink::Start({"amqp://127.0.0.1:1/queue/cfx", "Stampwright.Station.T1", 3600, false},
                               "outbox.db", &error);
    ASSERT_TRUE(link) << error;
    link->SetConnectionListener([&](const MesConnectionState& state) {
      const std::lock_guard lock(mutex);
      states.push_back(state);
      told.notify_all();
    });
    {
      std::unique_lock lock(mutex);
      ASSERT_TRUE(told.wait_for(lock, std::chrono::seconds(10), [&] { return !states.empty(); }));
    }
    link->SetConnectionListener(nullptr);

    const auto report = [&](int bay, StationEventBody body) {
      std::optional<MesFaultChange> change = MesFaultOf(StationEvent{bay, std::move(body)});
      ASSERT_TRUE(change);
      link->Report(*change);
    };
    EXPECT_FALSE(MesFaultOf(StationEvent{1, UnitEvent{}})) << "a unit leaving is no fault";
    report(2, JournalConnectionEvent{false, "connection refused"});
    report(2, JournalConnectionEvent{false, "timeout expired"});  // the same outage, told again
    report(3, AdapterEvent{false, "eth3"});
    report(1, JournalConnectionEvent{true, "PostgreSQL dbname=line"});  // never lost on bay 1
    report(2, JournalConnectionEvent{true, "PostgreSQL dbname=line"});
    report(2, JournalConnectionEvent{true, "PostgreSQL dbname=line"});
    report(3, AdapterEvent{true, "eth3"});  // told just before the close
  }
  ASSERT_EQ(states.size(), 1u);
  EXPECT_FALSE(states[0].connected);

  std::string error;
  auto reader = MesOutboxReader::Open("outbox.db", &error);
  ASSERT_TRUE(reader) << error;
  std::vector<MesOutboxRow> rows;
  ASSERT_FALSE(reader->Next(0, 100, &rows));
  std::vector<std::string> names;
  for (const MesOutboxRow& row : rows) names.push_back(row.message_name);
  EXPECT_EQ(names, (std::vector<std::string>{
                       "CFX.EndpointConnected", "CFX.ResourcePerformance.FaultOccurred",
                       "CFX.ResourcePerformance.FaultOccurred", "CFX.ResourcePerformance.FaultCleared",
                       "CFX.ResourcePerformance.FaultCleared", "CFX.EndpointShuttingDown"}));
  ASSERT_EQ(rows.size(), 6u);
  const cfx::Json journal = cfx::Json::parse(rows[1].envelope)["MessageBody"]["Fault"];
  EXPECT_EQ(journal["Cause"], "ServicesFailure");
  EXPECT_EQ(journal["Severity"], "Error");
  EXPECT_EQ(journal["FaultCode"], "JournalUnavailable");
  EXPECT_EQ(journal["Lane"], 2);
  EXPECT_EQ(journal["Description"], "Journal unavailable: connection refused");
  const cfx::Json adapter = cfx::Json::parse(rows[2].envelope)["MessageBody"]["Fault"];
  EXPECT_EQ(adapter["Cause"], "ElectricalFailure");
  EXPECT_EQ(adapter["FaultCode"], "AdapterMissing");
  EXPECT_EQ(adapter["Lane"], 3);
  EXPECT_EQ(adapter["Description"], "Adapter eth3 of bay 3 is missing");
  EXPECT_NE(journal["FaultOccurrenceId"], adapter["FaultOccurrenceId"]);
  EXPECT_EQ(cfx::Json::parse(rows[3].envelope)["MessageBody"]["FaultOccurrenceId"],
            journal["FaultOccurrenceId"]);
  EXPECT_EQ(cfx::Json::parse(rows[4].envelope)["MessageBody"]["FaultOccurrenceId"],
            adapter["FaultOccurrenceId"]);
}

}  // namespace
}  // namespace stampwright
