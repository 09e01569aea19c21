#include "platform/framework/kiv/reactor.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// An entity reporting changes of one collection attribute, as the shared agent state does.
class Switch : public Kiv::Entity {
public:
   class Notifiee : public Kiv::NotifieeOf<Switch> {
   public:
      virtual void onPort(int) {}
   };

   using Kiv::Entity::Entity;

   void portIs(int port) {
      notify<Notifiee>([port](Notifiee& n) { n.onPort(port); });
   }
};

// The owner, to which the reactor forwards what it hears.
struct Watcher : Kiv::PtrInterface {
   std::vector<int> seen;
};

class SwitchReactor : public Kiv::Reactor<Watcher, Switch> {
public:
   using Reactor::Reactor;
   void onPort(int port) override { owner()->seen.push_back(port); }
};

TEST(ReactorTest, SilentUntilActivatedAndOnceDeactivatedDeletedOrOrphaned) {
   const struct {
      const char* name;
      void (*silence)(Watcher&, SwitchReactor&);
   } cases[] = {
       {"deactivated", [](Watcher&, SwitchReactor& r) { r.isActiveIs(false); }},
       {"owner marked deleted", [](Watcher& w, SwitchReactor&) { w.deletedIs(); }},
       {"back pointer cleared", [](Watcher&, SwitchReactor& r) { r.ownerIs(nullptr); }},
   };
   const Kiv::Ptr<Switch> sw = new Switch("sw");
   for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      Watcher watcher;
      const Kiv::Ptr<SwitchReactor> reactor = new SwitchReactor(&watcher, sw);
      sw->portIs(1);
      reactor->isActiveIs(true);
      sw->portIs(2);
      sw->portIs(3);
      c.silence(watcher, *reactor);
      sw->portIs(4);
      EXPECT_EQ(watcher.seen, (std::vector<int>{2, 3}));
   }
}

}  // namespace
