#include "TesselNat/diagnostics/nat_cli_callback.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "tests/support/agent_harness.h"
#include "tests/support/programmer_fixture.h"

namespace {

// The agent command for the plug-in, from the callback the agent creates by type name to the
// dump on the command's descriptor. Programmers exist for modules 2 and 3.
class NatCliCallbackTest : public NatTest::ProgrammerFixture {
protected:
   NatCliCallbackTest() {
      scsd->moduleToUnitIs(TesselCentral::ModId(2), 1);
      scsd->moduleToUnitIs(TesselCentral::ModId(3), 1);
      callback = Kiv::ptrCast<Tessel::NatCliCallback>(
          agent.loader.commandCallbackIs("Tessel::NatCliCallback", "TesselNat"));
   }

   // What a command for `unit` writes, read back from a pipe.
   std::string answer(U16 unit, const std::string& command = "show") {
      int fds[2];
      EXPECT_EQ(pipe(fds), 0);
      callback->doProcessCommand(static_cast<U32>(fds[1]), command, unit);
      close(fds[1]);
      return readAll(fds[0]);
   }

   std::string dumpOf(U16 modId) {
      int fds[2];
      EXPECT_EQ(pipe(fds), 0);
      agent.programmer(modId)->doShow(static_cast<U32>(fds[1]), TesselCentral::ModId(modId));
      close(fds[1]);
      return readAll(fds[0]);
   }

   static std::string readAll(int fd) {
      std::string out;
      char buffer[4096];
      for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) out.append(buffer, n);
      close(fd);
      return out;
   }

   NatTest::Agent agent{sharedMemory, scsd, TesselTcamGroupManager::Start::cold, 16, {1}};
   Kiv::Ptr<Tessel::NatCliCallback> callback;
};

TEST_F(NatCliCallbackTest, AnswersWithTheModulesDumpWhateverTheCommandSays) {
   EXPECT_EQ(callback->commandType(), "TesselNat");
   EXPECT_EQ(callback->natMounter(), agent.mounter);
   // Before the mounter made its root there is nobody to answer.
   EXPECT_EQ(answer(3), "");

   agent.mounter->doInit();
   Kiv::eventLoop().doRunUntilIdle();
   // Each module has a rule of its own.
   controlPlane.ruleIs({TesselNat::Uid(7),
                        NatTest::staticDestNapt(),
                        NatTest::natData({.vlans = {10}}),
                        {TesselCentral::ModId(3)},
                        {}});
   controlPlane.ruleIs(
       {TesselNat::Uid(8), NatTest::staticSrcNapt(), {}, {TesselCentral::ModId(2)}, {}});
   Kiv::eventLoop().doRunUntilIdle();
   const std::string dump3 = dumpOf(3);
   ASSERT_NE(dump3.find("\"uid\": 7"), std::string::npos) << dump3;
   EXPECT_EQ(answer(3), dump3);
   EXPECT_EQ(answer(3, ""), dump3);
   EXPECT_EQ(answer(3, "verify everything now"), dump3);
   EXPECT_NE(dumpOf(2).find("\"uid\": 8"), std::string::npos);
   EXPECT_EQ(answer(2), dumpOf(2));
   EXPECT_EQ(answer(1), "");
   EXPECT_EQ(answer(64), "");
}

TEST_F(NatCliCallbackTest, ModuleAbove64IsARangeErrorWithNothingWritten) {
   agent.mounter->doInit();
   Kiv::eventLoop().doRunUntilIdle();
   int fds[2];
   ASSERT_EQ(pipe(fds), 0);
   try {
      callback->doProcessCommand(static_cast<U32>(fds[1]), "show", 65);
      ADD_FAILURE() << "module 65 accepted";
   } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), "ModId::value < ModId::min or > ModId::null not allowed");
   }
   close(fds[1]);
   EXPECT_EQ(readAll(fds[0]), "");
}

TEST_F(NatCliCallbackTest, HandleCommandTakesTheModuleFromTheCommandAndIsTraced) {
   agent.mounter->doInit();
   Kiv::eventLoop().doRunUntilIdle();
   programmerTrace.levelIs(4, true);
   sdkCallsClear();
   int fds[2];
   ASSERT_EQ(pipe(fds), 0);
   callback->handleCommand(static_cast<U32>(fds[1]), "3 show nat detail");
   close(fds[1]);
   EXPECT_EQ(readAll(fds[0]), dumpOf(3));
   EXPECT_EQ(programmerTraces().front(),
             "Socket: " + std::to_string(fds[1]) + ", Command: show nat detail, Unit: 3");
   EXPECT_THROW(callback->handleCommand(0, "three show"), std::invalid_argument);
   EXPECT_THROW(callback->handleCommand(0, "70000 show"), std::invalid_argument);
}

TEST_F(NatCliCallbackTest, DescriptorListsTheThirteenMembersInOrderAndReadsTheEntitysPlace) {
   const Kiv::Ptr<Kiv::TypeNode> type = Tessel::NatCliCallback::typeNode();
   std::vector<Kiv::String> members;
   for (const Kiv::MemberDescriptor& member : type->members()) members.push_back(member.name);
   EXPECT_EQ(members, (std::vector<Kiv::String>{
                          "name", "fullName", "parent", "parentAttrName", "entity", "commandType",
                          "createAgentAsyncCommandRequestSm", "sharedEntity", "handleCommand",
                          "scsd", "doProcessSliceCommand", "doProcessCommand", "natMounter"}));

   // The agent makes the callback outside any directory, and the mounter for its entity manager.
   EXPECT_EQ(std::any_cast<Kiv::String>(type->attribute(*callback, "fullName")), "TesselNat");
   EXPECT_EQ(std::any_cast<const Kiv::Entity*>(type->attribute(*callback, "parent")), nullptr);
   EXPECT_EQ(std::any_cast<Kiv::Ptr<const Kiv::Entity>>(type->attribute(*callback, "entity")).ptr(),
             callback.ptr());
   EXPECT_EQ(agent.mounter->parent(), agent.entityManager.ptr());
   EXPECT_EQ(agent.mounter->parentAttrName(), "entity");
   EXPECT_EQ(agent.mounter->fullName(), agent.entityManager->name() + "/" + agent.mounter->name());
   EXPECT_FALSE(std::any_cast<Kiv::Ptr<Kiv::PtrInterface>>(
       type->invoke(*callback, "createAgentAsyncCommandRequestSm", {Agent::CommandRequest{}})));
}

}  // namespace
