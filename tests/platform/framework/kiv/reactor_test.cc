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

class Watcher;

class SwitchReactor : public Kiv::Reactor<Watcher, Switch> {
public:
   using Reactor::Reactor;
   void onPort(int port) override;
};

// A state machine owning one reactor, switched with its own notification state.
class Watcher : public Kiv::PtrInterface {
public:
   explicit Watcher(const Kiv::Ptr<const Switch>& sw) : reactor_(new SwitchReactor(this, sw)) {}

   void hasNotificationActiveIs(bool active) override {
      PtrInterface::hasNotificationActiveIs(active);
      reactor_->isActiveIs(active);
   }

   std::vector<int> seen;
   Kiv::Ptr<SwitchReactor> reactor_;
};

void SwitchReactor::onPort(int port) { owner()->seen.push_back(port); }

class ReactorTest : public ::testing::Test {
protected:
   Kiv::Ptr<Switch> sw = new Switch("sw");
};

TEST_F(ReactorTest, SilentUntilActivatedAndOnceDeactivatedDeletedOrOrphaned) {
   const struct {
      const char* name;
      void (*silence)(Watcher&);
   } cases[] = {
       {"deactivated", [](Watcher& w) { w.hasNotificationActiveIs(false); }},
       {"owner marked deleted", [](Watcher& w) { w.deletedIs(); }},
       {"back pointer cleared", [](Watcher& w) { w.reactor_->ownerIs(nullptr); }},
   };
   for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      Kiv::Ptr<Watcher> watcher = new Watcher(sw);
      sw->portIs(1);
      watcher->hasNotificationActiveIs(true);
      sw->portIs(2);
      sw->portIs(3);
      c.silence(*watcher);
      sw->portIs(4);
      EXPECT_EQ(watcher->seen, (std::vector<int>{2, 3}));
   }
}

}  // namespace
