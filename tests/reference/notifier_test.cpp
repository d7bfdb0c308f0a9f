// Desktop notifications over the session bus (notification_stand_in.h):
// each distinct notification is told once; with no service, or no bus,
// nothing is sent and the notifier neither blocks nor fails.
#include "notifier.h"
#include "posix/session_bus_notifier.h"

#include "notification_stand_in.h"

#include <gtest/gtest.h>

namespace korvane::server {
namespace {

TEST(SessionBusNotifier, TellsTheServiceEachThingOnceAndNothingWithoutIt) {
  stand_in::PrivateBus bus;
  if (!bus.Up()) GTEST_SKIP() << "dbus-daemon could not start a private bus";
  // Where a session names its bus; left naming none, so that no daemon started later tells a real desktop.
  ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str(), 1);
  {
    // A bus where nobody owns the name: nothing is started, nothing waits,
    // and nothing is kept to be told later.
    SessionBusNotifier notifier;
    notifier.Notify("Korvane kept both versions", "conflict on a.txt");
  }
  stand_in::StandInService service(bus.Address());
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
  const std::vector<stand_in::Told> expected = {
      {"Korvane", "Korvane kept both versions", "conflict on today.txt"},
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
