#include "simulator/switch/dump_table.h"

#include <gtest/gtest.h>

namespace {

// Two keys out of uid order, the second on two VLANs out of VLAN order, one of them staged.
constexpr const char* dump =
    R"([{"hwKey": "type: staticDestNat vlan: 20","eid0": " 1 2049","eid1": " 2 2050",)"
    R"("uid": 12,"dirty": 1,"nextHop": 0},)"
    R"({"hwKey": "type: staticDestNat vlan: 10","eid0": " 4294967295 4294967295","eid1": "",)"
    R"("uid": 12,"dirty": 0,"nextHop": 18446744073709551615},)"
    R"({"hwKey": "type: staticSrcNat old sip: 10.0.0.1:0 vlan: *","eid0": " 0 2048",)"
    R"("eid1": "","uid": 1,"dirty": 0,"nextHop": 5},])";

TEST(DumpTableTest, OneAlignedRowPerKeyAndVlanByUidAndVlan) {
   EXPECT_EQ(Simulator::dumpTable(dump),
             "uid  key                                     vlan  default        fragment  dirty  "
             "nextHop\n"
             "1    type: staticSrcNat old sip: 10.0.0.1:0  *     0 2048                   clean  5\n"
             "12   type: staticDestNat                     10    staged staged            clean  "
             "none\n"
             "12   type: staticDestNat                     20    1 2049         2 2050    dirty  "
             "drop\n");
   EXPECT_EQ(Simulator::dumpTable("[]"), "uid  key  vlan  default  fragment  dirty  nextHop\n");
   EXPECT_EQ(Simulator::dumpTable("error: no such module"), "error: no such module");
}

TEST(DumpTableTest, RecordsAreRealJsonWithStagedEntriesAsNull) {
   const std::optional<nlohmann::ordered_json> records = Simulator::dumpRecords(dump);
   ASSERT_TRUE(records);
   EXPECT_EQ(records->dump(),
             R"([{"uid":1,"key":"type: staticSrcNat old sip: 10.0.0.1:0","vlan":0,)"
             R"("default":[0,2048],"fragment":[],"staged":false,"dirty":0,"nextHop":5},)"
             R"({"uid":12,"key":"type: staticDestNat","vlan":10,"default":[null,null],)"
             R"("fragment":[],"staged":true,"dirty":0,"nextHop":18446744073709551615},)"
             R"({"uid":12,"key":"type: staticDestNat","vlan":20,"default":[1,2049],)"
             R"("fragment":[2,2050],"staged":false,"dirty":1,"nextHop":0}])");
   EXPECT_FALSE(Simulator::dumpRecords("error: no such module"));
   EXPECT_FALSE(Simulator::dumpRecords(R"([{"hwKey": "x","eid0": " 1 a","uid": 1},])"));
}

}  // namespace
