#include "simulator/scenario/scenario_parser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace Simulator;

std::string withSteps(const std::string& steps) {
   return R"({"modules": [1, 2], "steps": [)" + steps + "]}";
}

// A file of no steps with `fields` at its top level.
std::string withFields(const std::string& fields) { return "{" + fields + R"(, "steps": []})"; }

std::string add(const std::string& fields) { return R"({"add": {)" + fields + "}}"; }

std::string update(const std::string& fields) { return R"({"update": {)" + fields + "}}"; }

// Rules to which a case adds a field, or which lack one.
const std::string staticSrcNoNew = R"("uid": 1, "type": "staticSrcNat", "src": "10.0.0.1")";
const std::string staticSrc = staticSrcNoNew + R"(, "srcNew": "192.0.2.1")";
const std::string staticDestNoVlans =
    R"("uid": 2, "type": "staticDestNat", "dst": "203.0.113.5:80", "dstNew": "10.0.0.5:8080")";
const std::string staticDest = staticDestNoVlans + R"(, "vlans": [10])";
const std::string twiceEndpoints = R"("src": "10.0.0.2", "srcNew": "192.0.2.2",
                                      "dst": "198.51.100.7", "dstNew": "198.51.100.8")";
const std::string twiceSrc = R"("uid": 3, "type": "twiceSrcNat", )" + twiceEndpoints;
const std::string dynamicSrc = R"("uid": 5, "type": "dynamicSrcNat", )" + twiceEndpoints;

std::string repeated(const std::string& item, int count) {
   std::string text = item;
   for (int copy = 1; copy < count; ++copy) text += ", " + item;
   return text;
}

Endpoint ep(uint32_t ip, uint16_t port = 0) { return Endpoint{ip, port}; }

TEST(ScenarioParserTest, AppliesDefaults) {
   const Scenario scenario = parseScenario(withSteps(add(staticSrc)));
   EXPECT_EQ(scenario.chip, (Chip{2048, 1, 1}));
   EXPECT_TRUE(scenario.flashDownloadDone);
   Rule expected;
   expected.uid = 1;
   expected.src = ep(0x0A000001);
   expected.srcNew = ep(0xC0000201);
   expected.modules = {1, 2};
   expected.keys = {KeyOverride{}};
   EXPECT_EQ(std::get<AddRule>(scenario.steps.at(0).action).rule, expected);
   EXPECT_EQ(parseScenario(R"({"steps": []})").modules, std::vector<uint16_t>{1});
}

TEST(ScenarioParserTest, ReadsEveryFieldAndTracksUidsAndModulesAcrossSteps) {
   const Scenario scenario = parseScenario(R"({
      "chip": {"natEntries": 16, "pipes": 4, "copiesPerPipe": 2},
      "modules": [2, 1],
      "flashDownloadDone": false,
      "steps": [
         {"add": {"uid": 3, "type": "staticSrcNat", "src": "10.1.2.3:1024",
                  "srcNew": "192.0.2.1:65535", "filter": "198.51.100.0/24", "protocol": 6,
                  "nextHop": "drop", "keys": [{}, {"filter": "0.0.0.0/0", "protocol": 17}]}},
         {"add": {"uid": 1, "type": "dynamicDestNat", "src": "8.8.4.4:53", "srcNew": "8.8.4.4:53",
                  "dst": "0.0.0.1", "dstNew": "255.255.255.255:1", "dynProto": 255,
                  "vlans": [20, 10], "nextHop": 4294967295, "aclId": 4294967295,
                  "modules": [2]}},
         {"generate": {"rules": 3}},
         {"delete": 4}, {"delete": 1}, {"addModule": 7},
         {"generate": {"rules": 3, "seed": 18446744073709551615, "modules": [7],
                       "types": ["twiceSrcNat", "staticDestNat"], "vlans": 64, "list": true}},
         {"update": {"uid": 3, "type": "staticSrcNat", "src": "10.1.2.3:1024",
                     "srcNew": "192.0.2.1:65535", "filter": "198.51.100.0/25", "protocol": 17,
                     "nextHop": 70000}},
         {"packet": {"module": 7, "vlan": 4094, "proto": 255, "src": "1.2.3.4:5555",
                     "dst": "30.0.0.1", "fragment": "first", "tcpFlags": ["urg", "fin", "ack"]}},
         {"retry": 2}, {"restart": "cold"}, {"flashDownload": true}, {"removeModule": 2},
         {"crash": {"at": "commitPass", "calls": 7, "restart": "step"}},
         {"add": {"uid": 8, "type": "staticSrcNat", "src": "10.0.0.1", "srcNew": "192.0.2.1"}}
      ]})");
   EXPECT_EQ(scenario.chip, (Chip{16, 4, 2}));
   EXPECT_EQ(scenario.modules, (std::vector<uint16_t>{2, 1}));
   EXPECT_FALSE(scenario.flashDownloadDone);
   ASSERT_EQ(scenario.steps.size(), 15u);
   EXPECT_EQ(std::get<Crash>(scenario.steps[13].action),
             (Crash{Crash::At::commitPass, 7, false}));

   const Rule& napt = std::get<AddRule>(scenario.steps[0].action).rule;
   EXPECT_EQ(napt.src, ep(0x0A010203, 1024));
   EXPECT_EQ(napt.srcNew, ep(0xC0000201, 65535));
   EXPECT_EQ(napt.filter, (Prefix{0xC6336400, 24}));
   EXPECT_EQ(napt.protocol, 6);
   EXPECT_EQ(napt.nextHop, nextHopDrop);
   EXPECT_EQ(napt.modules, (std::vector<uint16_t>{1, 2})) << "the switch's, ascending";
   EXPECT_EQ(napt.keys, (std::vector<KeyOverride>{{}, {Prefix{0, 0}, 17}}));

   const Rule& dynamic = std::get<AddRule>(scenario.steps[1].action).rule;
   EXPECT_EQ(dynamic.dst, ep(1));
   EXPECT_EQ(dynamic.dstNew, ep(0xFFFFFFFF, 1));
   EXPECT_EQ(dynamic.dynProto, 255);
   EXPECT_EQ(dynamic.vlans, (std::vector<uint16_t>{20, 10}));
   EXPECT_EQ(dynamic.nextHop, 0xFFFFFFFFu);
   EXPECT_EQ(dynamic.aclId, 0xFFFFFFFFu);
   EXPECT_EQ(dynamic.modules, std::vector<uint16_t>{2});

   EXPECT_EQ(std::get<Generate>(scenario.steps[2].action),
             (Generate{3, 1, {1, 2}, {2, 4, 5}, {}, 4, false}));
   EXPECT_EQ(std::get<Generate>(scenario.steps[6].action),
             (Generate{3, 18446744073709551615u, {7}, {1, 4, 6},
                       {RuleType::twiceSrcNat, RuleType::staticDestNat}, 64, true}));
   const Rule& updated = std::get<UpdateRule>(scenario.steps[7].action).rule;
   EXPECT_EQ(updated.nextHop, 70000u);
   // An update keeps the rule's modules, though module 7 came since.
   EXPECT_EQ(updated.modules, (std::vector<uint16_t>{1, 2}));
   EXPECT_EQ(std::get<SendPacket>(scenario.steps[8].action).packet,
             (Packet{7, 4094, 255, ep(0x01020304, 5555), ep(0x1E000001), Packet::Fragment::first,
                     Packet::tcpUrg | Packet::tcpFin | Packet::tcpAck}));
   EXPECT_FALSE(std::get<Restart>(scenario.steps[10].action).warm);
   EXPECT_EQ(std::get<AddRule>(scenario.steps[14].action).rule.modules,
             (std::vector<uint16_t>{1, 7}));
}

struct BadInput {
   std::string text;
   std::string message;
};

void PrintTo(const BadInput& input, std::ostream* out) { *out << input.text; }

std::string refusal(const std::string& text) {
   try {
      parseScenario(text);
   } catch (const ScenarioError& error) {
      return error.what();
   }
   return "parsed";
}

const BadInput badFiles[] = {
    // The top level.
    {"[]", "scenario: expected an object, got a list"},
    {"{}", "steps: missing"},
    {R"({"steps": {}})", "steps: expected a list, got an object"},
    {withFields(R"("a b": 1)"), R"(["a b"]: unknown field)"},
    {R"({"steps": [], "steps": []})", "scenario: field 'steps' appears twice in one object"},
    {R"({"steps": [)" + std::string(20, '[') + std::string(20, ']') + "]}",
     "scenario: nested deeper than 16 levels"},
    {withFields(R"("chip": {"natEntries": 15})"),
     "chip.natEntries: 15 is out of range (16..65536)"},
    {withFields(R"("chip": {"pipes": 5})"), "chip.pipes: 5 is out of range (1..4)"},
    {withFields(R"("chip": {"copiesPerPipe": 0})"), "chip.copiesPerPipe: 0 is out of range (1..4)"},
    {withFields(R"("modules": [])"), "modules: empty, needs at least one module"},
    {withFields(R"("modules": [1, 65])"), "modules[1]: 65 is not a module id (1..64)"},
    {withFields(R"("modules": [2, 2])"), "modules[1]: 2 is listed twice"},
    {withFields(R"("flashDownloadDone": 1)"), "flashDownloadDone: expected true or false, got 1"},
    // Steps.
    {withSteps("5"), "steps[0]: expected an object, got 5"},
    {withSteps("{}"), "steps[0]: a step has exactly one action, found 0"},
    {withSteps(R"({"show": 1, "verify": 1})"), "steps[0]: a step has exactly one action, found 2"},
    {withSteps(R"({"foo": 1})"), "steps[0]: unknown action 'foo'"},
    {withSteps(R"({"show": 65})"), "steps[0].show: 65 is not a module id (1..64)"},
    {withSteps(R"({"restart": ")" + std::string(60, 'x') + "\"}"),
     R"(steps[0].restart: ")" + std::string(39, 'x') + R"(... is not a restart kind (warm, cold))"},
    {withSteps(R"({"flashDownload": false})"), "steps[0].flashDownload: must be true, got false"},
    {withSteps(R"({"diff": 1})"), "steps[0].diff: expected true or false, got 1"},
    {withSteps(R"({"show": {"module": 1, "format": "xml"}})"),
     R"(steps[0].show.format: "xml" is not a dump format (dump, table, json))"},
    {withSteps(R"({"crash": {"at": "commit"}})"),
     R"(steps[0].crash.at: "commit" is not a crash point (now, sdkCall, commitPass, flashDownload))"},
    {withSteps(R"({"crash": {"calls": 3}})"), "steps[0].crash.calls: a crash now counts no calls"},
    {withSteps(R"({"crash": {"at": "sdkCall", "calls": 0}})"),
     "steps[0].crash.calls: 0 is not SDK calls (1..1000000)"},
    {withSteps(R"({"crash": {"restart": "warm"}})"),
     R"(steps[0].crash.restart: "warm" is not a restart kind (supervisor, step))"},
    {withSteps(R"({"traffic": {"flows": []}})"), "steps[0].traffic.flows: 1 to 64 flows, got 0"},
    {withSteps(R"({"traffic": {"flows": [{"module": 3, "vlan": 1, "proto": 6, "src": "1.2.3.4",
                   "dst": "1.2.3.5"}]}})"),
     "steps[0].traffic.flows[0].module: module 3 is not in the switch"},
    {withSteps(R"({"traffic": {"flows": [{"module": 1, "vlan": 1, "proto": 6, "src": "1.2.3.4",
                   "dst": "1.2.3.5"}], "rate": 0}})"),
     "steps[0].traffic.rate: 0 is not packets a second (1..1000000)"},
    // A step asking a module that is not in the switch would quietly report nothing.
    {withSteps(R"({"show": 3})"), "steps[0].show: module 3 is not in the switch"},
    {withSteps(R"({"verify": 3})"), "steps[0].verify: module 3 is not in the switch"},
    {withSteps(R"({"packet": {"module": 64}})"),
     "steps[0].packet.module: module 64 is not in the switch"},
    {withSteps(R"({"addModule": 1})"), "steps[0].addModule: module 1 is already in the switch"},
    {withSteps(R"({"removeModule": 3})"), "steps[0].removeModule: module 3 is not in the switch"},
    {R"({"steps": [{"removeModule": 1}]})",
     "steps[0].removeModule: module 1 is the switch's last module"},
    // Uids.
    {withSteps(add(staticSrc) + "," + add(staticSrc)), "steps[1].add.uid: 1 is already in use"},
    {withSteps(update(staticSrc)), "steps[0].update.uid: 1 is not in use"},
    {withSteps(add(staticDest) + "," +
               update(R"("uid": 2, "type": "twiceDestNat", "vlans": [10], )" + twiceEndpoints)),
     "steps[1].update.type: cannot change under uid 2 (delete and add the rule)"},
    {withSteps(add(staticDest) + "," +
               update(R"("uid": 2, "type": "staticDestNat", "dst": "1.1.1.1",
                         "dstNew": "10.0.0.5:8080", "vlans": [10])")),
     "steps[1].update.dst: cannot change under uid 2 (delete and add the rule)"},
    {withSteps(add(staticDest) + "," + update(staticDest + R"(, "aclId": 1)")),
     "steps[1].update.aclId: cannot change under uid 2 (delete and add the rule)"},
    {withSteps(add(staticDest) + "," + update(staticDest + R"(, "modules": [1])")),
     "steps[1].update.modules: cannot change under uid 2 (delete and add the rule)"},
    {withSteps(add(staticDest + R"(, "protocol": 6)") + "," + update(staticDest)),
     "steps[1].update.protocol: cannot be removed under uid 2 (delete and add the rule)"},
    {withSteps(add(staticDest + R"(, "keys": [{}, {"filter": "10.0.0.0/8"}])") + "," +
               update(staticDest + R"(, "keys": [{}, {}])")),
     "steps[1].update.keys[1].filter: cannot be removed under uid 2 (delete and add the rule)"},
    {withSteps(R"({"generate": {"rules": 1}}, )" + update(staticSrc)),
     "steps[1].update.uid: 1 is a generated rule (steps[0].generate); it can only be retried or "
     "deleted"},
    // A deleted rule's keys are free again, and the rule that takes them holds them.
    {withSteps(add(twiceSrc) + R"(, {"delete": 3}, )" +
               add(R"("uid": 4, "type": "twiceSrcNat", )" + twiceEndpoints) + "," +
               add(R"("uid": 5, "type": "twiceSrcNat", )" + twiceEndpoints)),
     "steps[3].add: the same keys as uid 4"},
    // A pool's sessions take uids from 65535 down, two each with return flows.
    {R"({"pools": [{"name": "office", "inside": "10.1.0.0/16", "outside": "192.0.2.8/30",
                    "vlans": [100], "sessions": 2}],
        "steps": [{"add": {"uid": 65531, "type": "staticSrcNat", "src": "10.0.0.1",
                           "srcNew": "192.0.2.1"}},
                  {"add": {"uid": 65532, "type": "staticSrcNat", "src": "10.0.0.2",
                           "srcNew": "192.0.2.2"}}]})",
     R"(steps[1].add.uid: 65532 is taken by pool "office"'s sessions)"},
    {R"({"pools": [{"name": "a", "inside": "10.1.0.0/16", "outside": "192.0.2.8/30"}],
        "steps": [{"generate": {"rules": 65520}}]})",
     "steps[0].generate.rules: 65520 rules, but only 65519 uids are free"},
    {withFields(R"("pools": [{"name": "a", "inside": "10.1.0.0/16", "outside": "192.0.2.8/30",
                              "ports": [2000, 2001], "sessions": 9}])"),
     "pools[0].sessions: 9 sessions, but only 8 outside addresses and ports"},
    {withFields(R"("pools": [{"name": "a", "inside": "10.1.0.0/16", "outside": "192.0.2.8/30"},
                             {"name": "b", "inside": "10.2.0.0/16", "outside": "192.0.2.0/24"}])"),
     R"(pools[1].outside: overlaps pool "a"'s)"},
    {withFields(R"("pools": [{"name": "a", "inside": "10.1.0.0/16", "outside": "10.1.2.0/24"}])"),
     "pools[0].outside: overlaps the inside prefix"},
    {withFields(R"("pools": [{"name": "a", "inside": "10.1.0.0/16", "outside": "192.0.2.8/30",
                              "ports": [2001, 2000]}])"),
     "pools[0].ports: the last port is below the first"},
    {withSteps(R"({"retry": 9})"), "steps[0].retry: uid 9 is not in use"},
    {withSteps(add(staticSrc) + R"(, {"delete": 1}, {"delete": 1})"),
     "steps[2].delete: uid 1 is not in use"},
    {withSteps(add(staticSrc) + R"(, {"generate": {"rules": 65535}})"),
     "steps[1].generate.rules: 65535 rules, but only 65534 uids are free"},
    {withSteps(R"({"generate": {"rules": 0}})"),
     "steps[0].generate.rules: 0 is out of range (1..65535)"},
    {withSteps(R"({"generate": {"rules": 1, "seed": -1}})"),
     "steps[0].generate.seed: -1 is not a seed (0..18446744073709551615)"},
    {withSteps(R"({"generate": {"rules": 1, "modules": [3]}})"),
     "steps[0].generate.modules[0]: module 3 is not in the switch"},
    {withSteps(R"({"generate": {"rules": 1, "types": []}})"),
     "steps[0].generate.types: names no rule type"},
    {withSteps(R"({"generate": {"rules": 1, "types": ["staticNat"]}})"),
     "steps[0].generate.types[0]: \"staticNat\" is not a rule type (staticSrcNat, staticDestNat, "
     "twiceSrcNat, twiceDestNat, dynamicSrcNat, dynamicDestNat)"},
    {withSteps(R"({"generate": {"rules": 1, "types": ["twiceSrcNat", "twiceSrcNat"]}})"),
     "steps[0].generate.types[1]: \"twiceSrcNat\" is listed twice"},
    {withSteps(R"({"generate": {"rules": 1, "vlans": 65}})"),
     "steps[0].generate.vlans: 65 is not a VLAN count (1..64)"},
    {withSteps(R"({"generate": {"rules": 1, "list": 1}})"),
     "steps[0].generate.list: expected true or false, got 1"},
    // Packets.
    {withSteps(R"({"packet": {"module": 1}})"), "steps[0].packet.vlan: missing"},
    {withSteps(R"({"packet": {"module": 1, "vlan": 10, "proto": 6, "src": "1.1.1.1",
                              "dst": "2.2.2.2", "fragment": "middle"}})"),
     R"(steps[0].packet.fragment: "middle" is not a fragment kind (none, first, later))"},
    {withSteps(R"({"packet": {"module": 1, "vlan": 10, "proto": 6, "src": "1.1.1.1",
                              "dst": "2.2.2.2", "tcpFlags": ["syn", "nop"]}})"),
     R"(steps[0].packet.tcpFlags[1]: "nop" is not a TCP flag (fin, syn, rst, ack, psh, urg))"},
    {withSteps(R"({"packet": {"module": 1, "vlan": 10, "proto": 6, "src": "1.1.1.1",
                              "dst": "2.2.2.2", "tcpFlags": ["syn", "ack", "syn"]}})"),
     R"(steps[0].packet.tcpFlags[2]: "syn" is listed twice)"},
};

class BadFileTest : public testing::TestWithParam<BadInput> {};

TEST_P(BadFileTest, IsRefusedWithAMessageNamingTheField) {
   EXPECT_EQ(refusal(GetParam().text), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(ScenarioParserTest, BadFileTest, testing::ValuesIn(badFiles));

// The fields of an add step, and the message after the step's path "steps[0].add.".
const BadInput badRules[] = {
    {R"("type": "staticSrcNat")", "uid: missing"},
    {R"("uid": 18446744073709551616)", "uid: expected an integer, got 1.8446744073709552e+19"},
    {R"("uid": 0)", "uid: 0 is not a uid (1..65535)"},
    {R"("uid": 1)", "type: missing"},
    {R"("uid": 1, "type": "fullNat")",
     R"(type: "fullNat" is not a rule type (staticSrcNat, staticDestNat, twiceSrcNat, )"
     "twiceDestNat, dynamicSrcNat, dynamicDestNat)"},
    {staticDest + R"(, "nextHop": "far")",
     R"(nextHop: expected a number, "drop" or "none", got "far")"},
    {staticDest + R"(, "nextHop": 4294967296)",
     "nextHop: 4294967296 is not a next hop (0..4294967295)"},
    {staticDest + R"(, "aclId": -1)", "aclId: -1 is not an ACL id (0..4294967295)"},
    {staticDest + R"(, "protocol": 256)", "protocol: 256 is not a protocol number (0..255)"},
    {staticDestNoVlans + R"(, "vlans": [10, 5000])", "vlans[1]: 5000 is not a VLAN id (1..4094)"},
    {staticDestNoVlans + R"(, "vlans": [)" + repeated("10", 65) + "]",
     "vlans: 65 VLANs, at most 64"},
    {staticDest + R"(, "modules": [3])", "modules[0]: module 3 is not in the switch"},
    {staticDest + R"(, "keys": [])", "keys: 0 keys, at least 1"},
    {staticDest + R"(, "keys": [{}, null])", "keys[1]: expected an object, got null"},
    {staticDest + R"(, "keys": [)" + repeated("{}", 65) + "]", "keys: 65 keys, at most 64"},
    // Addresses and prefixes.
    {staticSrcNoNew + R"(, "srcNew": 16843009)", "srcNew: expected a string, got 16843009"},
    {staticSrc + R"(, "filter": "10.0.0.0/33")",
     R"(filter: "10.0.0.0/33" is not a prefix (a.b.c.d/len, len 0..32))"},
    {staticSrc + R"(, "filter": "10.0.0.0")",
     R"(filter: "10.0.0.0" is not a prefix (a.b.c.d/len, len 0..32))"},
    {staticSrc + R"(, "keys": [{"filter": "10.0.0.1/31"}])",
     R"(keys[0].filter: "10.0.0.1/31" has host bits set; the prefix is 10.0.0.0/31)"},
    // What each type has and has not.
    {staticSrc + R"(, "dst": "1.1.1.1")", "dst: a staticSrcNat rule has no dst"},
    {staticSrc + R"(, "vlans": [])", "vlans: a staticSrcNat rule has no vlans"},
    {staticSrc + R"(, "dynProto": 6)", "dynProto: a staticSrcNat rule has no dynProto"},
    {staticSrcNoNew, "srcNew: a staticSrcNat rule needs srcNew"},
    {staticSrcNoNew + R"(, "srcNew": "0.0.0.0")", "srcNew: a staticSrcNat rule cannot use 0.0.0.0"},
    {staticDest + R"(, "src": "1.1.1.1")", "src: a staticDestNat rule has no src"},
    {staticDestNoVlans, "vlans: a staticDestNat rule needs vlans"},
    {staticDestNoVlans + R"(, "vlans": [])", "vlans: a staticDestNat rule needs at least one VLAN"},
    {twiceSrc + R"(, "filter": "0.0.0.0/0")", "filter: a twiceSrcNat rule has no filter"},
    {twiceSrc + R"(, "keys": [{}, {"filter": "0.0.0.0/0"}])",
     "keys[1].filter: a twiceSrcNat rule has no filter"},
    {R"("uid": 4, "type": "twiceDestNat", )" + twiceEndpoints,
     "vlans: a twiceDestNat rule needs vlans"},
    {dynamicSrc, "dynProto: a dynamicSrcNat rule needs dynProto"},
    {dynamicSrc + R"(, "dynProto": 0)", "dynProto: 0 is not a protocol number (1..255)"},
    {dynamicSrc + R"(, "dynProto": 6, "protocol": 6)",
     "protocol: a dynamicSrcNat rule has no protocol"},
    {dynamicSrc + R"(, "dynProto": 6, "keys": [{"protocol": 6}])",
     "keys[0].protocol: a dynamicSrcNat rule has no protocol"},
    {R"("uid": 6, "type": "dynamicDestNat", "dynProto": 6, )" + twiceEndpoints,
     "vlans: a dynamicDestNat rule needs vlans"},
    // The agent writes a key's protocol only beside the rule's own, and cannot clear it.
    {staticSrc + R"(, "keys": [{}, {"protocol": 17}])",
     "keys[1].protocol: a key's protocol needs the rule's own, and cannot be 0"},
    {staticSrc + R"(, "protocol": 6, "keys": [{"protocol": 0}])",
     "keys[0].protocol: a key's protocol needs the rule's own, and cannot be 0"},
};

class BadRuleTest : public testing::TestWithParam<BadInput> {};

TEST_P(BadRuleTest, IsRefusedWithAMessageNamingTheField) {
   EXPECT_EQ(refusal(withSteps(add(GetParam().text))), "steps[0].add." + GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(ScenarioParserTest, BadRuleTest, testing::ValuesIn(badRules));

TEST(ScenarioParserTest, RefusesAnAddressOtherThanFourDecimalOctetsAndAPort) {
   for (const std::string address :
        {"10.0.0", "10.0.0.256", "+1.1.1.1", "1.1.1.01", "1.1.1.1:65536", "1.1.1.1:", "1.1.1.1 "}) {
      EXPECT_EQ(refusal(withSteps(add(staticSrcNoNew + R"(, "srcNew": ")" + address + "\""))),
                "steps[0].add.srcNew: \"" + address +
                    "\" is not an address (a.b.c.d or a.b.c.d:port; octets 0..255, port 0..65535)");
   }
}

// A syntax error, a number beyond a double, and nesting the JSON parser would follow deep.
TEST(ScenarioParserTest, RefusesAnyMalformedTextWithAScenarioErrorOnly) {
   for (const std::string& input : {std::string(), std::string(100000, '['),
                                    std::string(R"({"steps": [{"add": {"uid": 1e999}}]})")}) {
      EXPECT_THROW(parseScenario(input), ScenarioError) << input.substr(0, 60);
   }
   EXPECT_THAT([] { parseScenario(R"({"steps": [}")"); },
               testing::ThrowsMessage<ScenarioError>(
                   testing::StartsWith("scenario: [json.exception.parse_error.101]")));
}

}  // namespace
