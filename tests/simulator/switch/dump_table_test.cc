#include "simulator/switch/dump_table.h"

#include <gtest/gtest.h>

namespace {

TEST(DumpTableTest, OneAlignedRowPerRecordAndOtherTextAsItIs) {
   const std::string dump =
       R"([{"hwKey": "type: staticSrcNat old sip: 10.0.0.1:0 vlan: *","eid0": " 0 2048",)"
       R"("eid1": "","uid": 1,"dirty": 0,"nextHop": 5},{"hwKey": "type: staticDestNat vlan: 10",)"
       R"("eid0": " 1 2049","eid1": " 2 2050","uid": 12,"dirty": 1,"nextHop": 7},])";
   EXPECT_EQ(
       Simulator::dumpTable(dump),
       "uid  key                                             default  fragment  dirty  nextHop\n"
       "1    type: staticSrcNat old sip: 10.0.0.1:0 vlan: *  0 2048             0      5\n"
       "12   type: staticDestNat vlan: 10                    1 2049   2 2050    1      7\n");
   EXPECT_EQ(Simulator::dumpTable("[]"), "uid  key  default  fragment  dirty  nextHop\n");
   EXPECT_EQ(Simulator::dumpTable("error: no such module"), "error: no such module");
}

}  // namespace
