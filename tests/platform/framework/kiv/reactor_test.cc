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

TEST_F(ReactorTest, ReactorDetachedByAnEarlierHandlerIsNotCalled) {
   // A handler that drops another observer, as a root drops a programmer during dispatch.
   struct Detacher : Kiv::Reactor<Watcher, Switch> {
      Detacher(Watcher* owner, const Kiv::Ptr<const Switch>& sw, SwitchReactor* victim)
          : Reactor(owner, sw), victim_(victim) {}
      void onPort(int) override { victim_->notifierIs(nullptr); }
      SwitchReactor* victim_;
   };
   Kiv::Ptr<Watcher> watcher = new Watcher(nullptr);
   Kiv::Ptr<Detacher> detacher = new Detacher(watcher.ptr(), sw, watcher->reactor_.ptr());
   watcher->reactor_->notifierIs(sw);  // registered after the detacher
   watcher->hasNotificationActiveIs(true);
   detacher->isActiveIs(true);
   sw->portIs(9);
   EXPECT_TRUE(watcher->seen.empty());
   EXPECT_EQ(sw->notifiees(), 1u);
}

TEST(PtrTest, LastReferenceDeletesAndCountsFollowCopies) {
   static int destroyed = 0;
   struct Counted : Kiv::PtrInterface {
      ~Counted() override { ++destroyed; }
   };
   Kiv::Ptr<Counted> a = new Counted;
   {
      Kiv::Ptr<Counted> b = a;
      Kiv::Ptr<Counted> c = std::move(b);
      EXPECT_EQ(a->references(), 2);
      EXPECT_EQ(b, nullptr);
   }
   EXPECT_EQ(a->references(), 1);
   a = nullptr;
   EXPECT_EQ(destroyed, 1);
}

}  // namespace
