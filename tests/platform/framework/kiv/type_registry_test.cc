#include "platform/framework/kiv/type_registry.h"

#include <gtest/gtest.h>

namespace {

class Programmer : public Kiv::Entity {
public:
   using Kiv::Entity::Entity;
   int unit() const { return 7; }
   bool doProgram(const Kiv::String& key, int vlanId) {
      programmed = key + "@" + std::to_string(vlanId);
      return vlanId != 0;
   }
   void doShow() const { ++shows; }

   Kiv::String programmed;
   mutable int shows = 0;
};

class TypeRegistryTest : public ::testing::Test {
protected:
   static Kiv::Ptr<Kiv::TypeNode> describe(const Kiv::String& name) {
      Kiv::Ptr<Kiv::TypeNode> node = new Kiv::TypeNode(name);
      node->attributeIs(Kiv::attribute("unit", &Programmer::unit));
      node->operationIs(Kiv::operation("doProgram", &Programmer::doProgram));
      node->operationIs(Kiv::operation("doShow", &Programmer::doShow));
      return node;
   }

   Kiv::Ptr<Programmer> programmer = new Programmer("p1");
};

TEST_F(TypeRegistryTest, RegisteredOnceListsMembersInDeclarationOrderAndInvokesByName) {
   auto node = describe("Test::ProgrammerA");
   Kiv::typeNodeIs(node);
   ASSERT_EQ(Kiv::typeNode("Test::ProgrammerA"), node);
   EXPECT_THROW(Kiv::typeNodeIs(describe("Test::ProgrammerA")), Kiv::NameInUseException);
   ASSERT_EQ(node->operations().size(), 2u);
   EXPECT_EQ(node->operations()[0].name, "doProgram");
   EXPECT_EQ(node->operations()[1].name, "doShow");

   std::any result = node->invoke(*programmer, "doProgram", {Kiv::String("k"), 10});
   EXPECT_TRUE(std::any_cast<bool>(result));
   EXPECT_EQ(programmer->programmed, "k@10");
   node->invoke(*programmer, "doShow", {});
   EXPECT_EQ(programmer->shows, 1);
   EXPECT_EQ(std::any_cast<int>(node->attribute(*programmer, "unit")), 7);
}

TEST_F(TypeRegistryTest, RequestsTheTypeCannotServeRaiseTheTypeError) {
   auto node = describe("Test::ProgrammerB");
   EXPECT_THROW(node->invoke(*programmer, "doVerify", {}), Kiv::TypeException);
   EXPECT_THROW(node->invoke(*programmer, "doProgram", {Kiv::String("k")}), Kiv::TypeException);
   EXPECT_THROW(node->invoke(*programmer, "doProgram", {10, 10}), Kiv::TypeException);
   EXPECT_THROW(node->attribute(*programmer, "hash"), Kiv::TypeException);
   EXPECT_THROW(node->newEntityForDir("x", nullptr), Kiv::TypeException) << "no factory yet";

   node->factoryIs([](const Kiv::Name& name, const Kiv::Ptr<Kiv::Entity>&) {
      return Kiv::Ptr<Kiv::PtrInterface>(new Programmer(name));
   });
   auto created = Kiv::ptrCast<Programmer>(node->newEntityForDir("p2", nullptr));
   ASSERT_TRUE(created);
   EXPECT_EQ(created->name(), "p2");
}

}  // namespace
