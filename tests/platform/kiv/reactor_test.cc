#include "platform/kiv/reactor.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

// An entity with one plain attribute and one collection attribute, as the shared agent
// state has.
class Switch : public Kiv::Entity {
public:
   class Notifiee : public Kiv::NotifieeOf<Switch> {
   public:
      virtual void onEnabled() {}
      virtual void onPort(int) {}
   };

   using Kiv::Entity::Entity;

   void enabledIs(bool enabled) {
      if (enabled == enabled_) return;
      enabled_ = enabled;
      notify<Notifiee>([](Notifiee& n) { n.onEnabled(); });
   }
   void portIs(int port, int speed) {
      auto [it, inserted] = ports_.emplace(port, speed);
      if (!inserted && it->second == speed) return;
      it->second = speed;
      notify<Notifiee>([port](Notifiee& n) { n.onPort(port); });
   }
   void portDel(int port) {
      if (ports_.erase(port) == 0) return;
      notify<Notifiee>([port](Notifiee& n) { n.onPort(port); });
   }

private:
   bool enabled_ = false;
   std::map<int, int> ports_;
};

class Watcher;

class SwitchReactor : public Kiv::Reactor<Watcher, Switch> {
public:
   using Reactor::Reactor;
   void onEnabled() override;
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

void SwitchReactor::onEnabled() { owner()->seen.push_back(-1); }
void SwitchReactor::onPort(int port) { owner()->seen.push_back(port); }

class ReactorTest : public ::testing::Test {
protected:
   Kiv::Ptr<Switch> sw = new Switch("sw");
   Kiv::Ptr<Watcher> watcher = new Watcher(sw);
};

TEST_F(ReactorTest, CalledOncePerChangedAttributeAndPerChangedKey) {
   watcher->hasNotificationActiveIs(true);
   sw->enabledIs(true);
   sw->enabledIs(true);  // no change, no call
   sw->portIs(3, 10);
   sw->portIs(3, 10);
   sw->portIs(5, 10);
   sw->portIs(3, 40);
   sw->portDel(5);
   sw->portDel(7);
   EXPECT_EQ(watcher->seen, (std::vector<int>{-1, 3, 5, 3, 5}));
}

TEST_F(ReactorTest, SilentUntilActivatedAndAfterDeactivation) {
   sw->portIs(1, 10);
   watcher->hasNotificationActiveIs(true);
   sw->portIs(2, 10);
   watcher->hasNotificationActiveIs(false);
   sw->portIs(3, 10);
   EXPECT_EQ(watcher->seen, (std::vector<int>{2}));
}

TEST_F(ReactorTest, SilentWhileOwnerIsMarkedForDeletion) {
   watcher->hasNotificationActiveIs(true);
   watcher->deletedIs();
   sw->enabledIs(true);
   sw->portIs(1, 10);
   EXPECT_TRUE(watcher->seen.empty());
}

TEST_F(ReactorTest, SilentOnceBackPointerIsCleared) {
   watcher->hasNotificationActiveIs(true);
   watcher->reactor_->ownerIs(nullptr);
   sw->portIs(1, 10);
   EXPECT_TRUE(watcher->seen.empty());
}

TEST_F(ReactorTest, NotifierIsRetargetsTheReactor) {
   watcher->hasNotificationActiveIs(true);
   Kiv::Ptr<Switch> other = new Switch("other");
   watcher->reactor_->notifierIs(other);
   sw->portIs(1, 10);
   other->portIs(2, 10);
   EXPECT_EQ(watcher->seen, (std::vector<int>{2}));
   EXPECT_EQ(sw->notifiees(), 0u);
   EXPECT_EQ(other->notifiees(), 1u);
}

TEST_F(ReactorTest, ReactorDetachedByAnEarlierHandlerIsNotCalled) {
   // A handler that drops another observer, as a root drops a programmer during dispatch.
   struct Detacher : Kiv::Reactor<Watcher, Switch> {
      Detacher(Watcher* owner, const Kiv::Ptr<const Switch>& sw, SwitchReactor* victim)
          : Reactor(owner, sw), victim_(victim) {}
      void onPort(int) override { victim_->notifierIs(nullptr); }
      SwitchReactor* victim_;
   };
   watcher->reactor_->notifierIs(nullptr);
   Kiv::Ptr<Detacher> detacher = new Detacher(watcher.ptr(), sw, watcher->reactor_.ptr());
   watcher->reactor_->notifierIs(sw);  // registered after the detacher
   watcher->hasNotificationActiveIs(true);
   detacher->isActiveIs(true);
   sw->portIs(9, 1);
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
