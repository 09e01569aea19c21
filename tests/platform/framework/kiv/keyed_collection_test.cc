#include "platform/framework/kiv/keyed_collection.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Member : Kiv::PtrInterface {
   explicit Member(int id) : id(id) {}
   int id;
};

class KeyedCollectionTest : public ::testing::Test {
protected:
   void SetUp() override {
      for (int key : {1, 2, 3, 4, 5}) members.memberIs(key, new Member(key * 10));
   }

   // Walks the collection, calling `step` on each visited key before moving on.
   template <class F>
   std::vector<int> walkWith(F step) {
      std::vector<int> visited;
      for (auto walker = members.walk(); !walker.done(); walker.next()) {
         visited.push_back(walker.current()->id);
         step(walker.key());
      }
      return visited;
   }

   Kiv::KeyedCollection<int, Member> members;
};

TEST_F(KeyedCollectionTest, WalkSurvivesRemovalOfTheCurrentOrNextMemberAndSeesOnesAddedAhead) {
   auto visited = walkWith([this](int key) {
      if (key == 2) members.memberDel(3);
      if (key == 4) members.memberIs(7, new Member(70));
   });
   EXPECT_EQ(visited, (std::vector<int>{10, 20, 40, 50, 70}));

   visited = walkWith([this](int key) {
      Kiv::Ptr<Member> removed = members.memberDel(key);
      EXPECT_EQ(removed->references(), 2) << "ours and the walker's";
   });
   EXPECT_EQ(visited, (std::vector<int>{10, 20, 40, 50, 70}));
   EXPECT_EQ(members.size(), 0u);
}

}  // namespace
