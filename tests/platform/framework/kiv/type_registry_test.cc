#include "platform/framework/kiv/type_registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/framework/kiv/constructor_argument.h"
#include "platform/framework/kiv/keyed_collection.h"
#include "platform/framework/kiv/types.h"

namespace {

struct Module : Kiv::PtrInterface {
   Module(U16 unit, Kiv::Ptr<Kiv::PtrInterface> chip) : unit(unit), chip(std::move(chip)) {}
   U16 unit;
   Kiv::Ptr<Kiv::PtrInterface> chip;
};

// A state machine with an attribute, an overloaded operation and a collection, as the agent
// reaches its root and programmers by name.
class Root : public Kiv::PtrInterface {
public:
   U32 inits() const { return inits_; }
   void doInit() { ++inits_; }
   void doInit(U32 req) { lastReq = req; }

   Kiv::Ptr<Module> module(U16 modId) const { return modules_.member(modId); }
   Kiv::Ptr<Module> moduleIs(U16 modId, U16 unit, Kiv::Ptr<Kiv::PtrInterface> chip) {
      if (Kiv::Ptr<Module> existing = modules_.member(modId)) {
         Kiv::requireSameConstructorArgument("unit", unit, existing->unit);
         Kiv::requireSameConstructorArgument("chip", chip, existing->chip);
         return existing;
      }
      Kiv::Ptr<Module> created(new Module(unit, std::move(chip)));
      modules_.memberIs(modId, created);
      return created;
   }
   Kiv::Ptr<Module> moduleDel(U16 modId) { return modules_.memberDel(modId); }

   U32 lastReq = 0;

private:
   U32 inits_ = 0;
   Kiv::KeyedCollection<U16, Module> modules_;
};

Kiv::Ptr<Kiv::TypeNode> rootType() {
   Kiv::Ptr<Kiv::TypeNode> node(new Kiv::TypeNode("Test::Root"));
   node->attributeIs(Kiv::attribute("inits", &Root::inits));
   node->operationIs(Kiv::operation("doInit", static_cast<void (Root::*)()>(&Root::doInit)));
   node->operationIs(Kiv::operation("doInit", static_cast<void (Root::*)(U32)>(&Root::doInit)));
   node->collectionIs(Kiv::collection("module", &Root::module, &Root::moduleIs, &Root::moduleDel));
   return node;
}

TEST(TypeRegistryTest, ListsMembersInDeclarationOrderAndInvokesTheOverloadTheArgumentsFit) {
   const Kiv::Ptr<Kiv::TypeNode> node = rootType();
   std::vector<Kiv::String> names;
   for (const Kiv::MemberDescriptor& member : node->members()) names.push_back(member.name);
   EXPECT_THAT(names, testing::ElementsAre("inits", "doInit", "doInit", "module"));
   EXPECT_EQ(node->members()[3].kind, Kiv::MemberDescriptor::Kind::collection);

   Root root;
   node->invoke(root, "doInit", {});
   node->invoke(root, "doInit", {U32{3}});
   EXPECT_EQ(std::any_cast<U32>(node->attribute(root, "inits")), 1u);
   EXPECT_EQ(root.lastReq, 3u);
   EXPECT_THROW(node->invoke(root, "doInit", {Kiv::String("3")}), Kiv::TypeException);
   EXPECT_THROW(node->invoke(root, "doInit", {U32{3}, U32{4}}), Kiv::TypeException);
}

TEST(TypeRegistryTest, CollectionMembersAreFoundCreatedAndDeletedByKey) {
   const Kiv::Ptr<Kiv::TypeNode> node = rootType();
   Root root;
   const Kiv::Ptr<Kiv::PtrInterface> chip(new Kiv::PtrInterface);
   const auto created =
       std::any_cast<Kiv::Ptr<Module>>(node->memberIs(root, "module", {U16{1}, U16{5}, chip}));
   EXPECT_EQ(std::any_cast<Kiv::Ptr<Module>>(node->member(root, "module", U16{1})), created);
   EXPECT_EQ(
       std::any_cast<Kiv::Ptr<Module>>(node->memberIs(root, "module", {U16{1}, U16{5}, chip})),
       created);
   EXPECT_THAT(
       [&] {
          node->memberIs(root, "module", {U16{1}, U16{6}, chip});
       },
       testing::ThrowsMessage<Kiv::NameInUseException>(testing::StrEq(
           "Reinstantiating the pointer interface where constructor parameter attribute _unit "
           "has a different value of 6 than the current value of 5 not allowed")));
   EXPECT_THROW(node->memberIs(root, "module", {U16{1}, U16{5}, Kiv::Ptr<Kiv::PtrInterface>()}),
                Kiv::NameInUseException);
   EXPECT_EQ(std::any_cast<Kiv::Ptr<Module>>(node->memberDel(root, "module", U16{1})), created);
   EXPECT_FALSE(std::any_cast<Kiv::Ptr<Module>>(node->member(root, "module", U16{1})));
   EXPECT_THROW(node->member(root, "modules", U16{1}), Kiv::TypeException);
}

}  // namespace
