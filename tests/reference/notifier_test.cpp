// Desktop notifications over the session bus: a private bus of the test's
// own (dbus-daemon) with a stand-in notification service that records each
// Notify it is sent. Each distinct notification is told once; with no
// service, or no bus, nothing is sent and the notifier neither blocks nor
// fails.
#include "notifier.h"
#include "posix/session_bus_notifier.h"

#include "notification_stand_in.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace korvane::server {
namespace {

using stand_in::PrivateBus;
using stand_in::StandInService;
using stand_in::Told;

TEST(SessionBusNotifier, TellsTheServiceEachThingOnceAndNothingWithoutIt) {
  PrivateBus bus;
  if (!bus.Up()) GTEST_SKIP() << "dbus-daemon could not start a private bus";
  {
    // A bus where nobody owns the name: nothing is started, nothing waits,
    // and nothing is kept to be told later.
    SessionBusNotifier notifier;
    notifier.Notify("Korvane kept both versions", "conflict on a.txt");
  }
  StandInService service(bus.Address());
  ASSERT_TRUE(service.Owns());
  {
    SessionBusNotifier notifier;
    const InstalledNotifier installed(notifier);
    Notify("Korvane kept both versions", "conflict on today.txt");
    Notify("Korvane kept both versions", "conflict on today.txt");  // the same: told already
    Notify("Korvane cannot sync /site", "The server refused the credential");
    notifier.Notify("Korvane kept both versions", "conflict on notes.txt");
  }  // the notifier sends what is queued before it goes
  Notify("Korvane kept both versions", "nobody installed: nobody told");
  const std::vector<Told> expected = {{"Korvane", "Korvane kept both versions", "conflict on today.txt"},
                                      {"Korvane", "Korvane cannot sync /site", "The server refused the credential"},
                                      {"Korvane", "Korvane kept both versions", "conflict on notes.txt"}};
  EXPECT_EQ(service.Recorded(), expected);

  // No bus at all.
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/korvane-bus", 1);
  SessionBusNotifier notifier;
  notifier.Notify("Korvane kept both versions", "conflict on c.txt");
}

}  // namespace
}  // namespace korvane::server
