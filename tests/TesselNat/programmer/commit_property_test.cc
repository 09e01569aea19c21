#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>

#include "tests/support/programmer_fixture.h"

namespace {

using NatTest::DataFields;
using NatTest::ep;
using K = Ember::NatKeyType;

// Random sequences of commits on a TCAM too small for all of them, while another user of the
// NAT group takes and frees entries. Rules of all six types, with and without ports (so with
// and without fragment entries), with filters, protocols, every kind of next hop and up to
// three keys, are added, changed (next hop, VLANs, key count), answered for another module
// only, and removed. After every commit:
// - the entries held are exactly the ids the entry-id table records;
// - for every rule whose last commit on this module succeeded, what the chip does to the
//   rule's packets: a packet built from the rule hits one of its entries, carrying its uid,
//   translation profile and forwarding; a packet of another protocol hits nothing;
// - a removed rule has no records left, and none of its packets hits anything.
//
// The sequences are fixed by a base seed (TESSEL_NAT_SEED, default below) plus the case
// number; a failure names its seed, and setting TESSEL_NAT_SEED replays it.
class CommitPropertyTest : public NatTest::ProgrammerFixture,
                           public ::testing::WithParamInterface<int> {
protected:
   static constexpr int steps = 80;
   static constexpr U32 uids = 6;
   static constexpr U16 unlistedVlan = 99;
   static constexpr U64 nextHopMultipath = 0x8000000;

   struct Rule {
      Ember::NatHwKey key0;
      DataFields data{};                       // as last published
      bool pending = false;                    // last published for this module
      std::optional<DataFields> programmed{};  // what the chip implements, when known
   };

   CommitPropertyTest() : ProgrammerFixture(16) {}

   static unsigned baseSeed() {
      const char* fromEnvironment = std::getenv("TESSEL_NAT_SEED");
      return fromEnvironment ? static_cast<unsigned>(std::strtoul(fromEnvironment, nullptr, 10))
                             : 20261205u;
   }

   int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }

   static Netbase::IpAddr address(U8 a, U8 b, U8 c, U8 d) {
      return Netbase::IpAddr((U32{a} << 24) | (U32{b} << 16) | (U32{c} << 8) | d);
   }
   // The side of a static rule that the key does not name: its filter covers this address.
   static Netbase::IpAddr farAddress(U32 uid) { return address(198, 18, static_cast<U8>(uid), 77); }

   // Addresses are the uid's own, so no rule matches another rule's packets. Ports: none, on
   // both sides, or (twice keys) on one side only.
   Ember::NatHwKey randomKey(U32 uid) {
      const auto type = static_cast<K>(pick(1, 6));
      const int ports = pick(0, 3);
      // A static key names one side only, with ports or without.
      const bool src = type != K::staticDestNat;
      const bool dst = type != K::staticSrcNat;
      const bool srcPorts = type == K::staticSrcNat ? ports != 0 : ports == 1 || ports == 2;
      const bool dstPorts = type == K::staticDestNat ? ports != 0 : ports == 1 || ports == 3;
      const auto endpoint = [&](bool named, Netbase::IpAddr ip, bool ported, U16 port) {
         return named ? Netbase::IpAndPort(ip, static_cast<U16>(ported ? port + uid : 0))
                      : Netbase::IpAndPort();
      };
      const auto u = static_cast<U8>(uid);
      return NatTest::natKey({type, endpoint(src, address(10, 0, u, 1), srcPorts, 1000),
                              endpoint(src, address(192, 0, 2, u), srcPorts, 2000),
                              endpoint(dst, address(203, 0, 113, u), dstPorts, 3000),
                              endpoint(dst, address(10, 1, 0, u), dstPorts, 4000),
                              dynamic(type) ? static_cast<U8>(pick(0, 1) ? 6 : 17) : U8{0}});
   }

   DataFields randomData(U32 uid) {
      std::vector<U16> vlans{10, 20, 30};
      std::shuffle(vlans.begin(), vlans.end(), rng);
      vlans.resize(pick(0, 3));
      const U64 nextHops[] = {0, ~U64{0}, 5, nextHopMultipath | 9};
      const U8 protocols[] = {0, 6, 17};
      DataFields data{.protocol = protocols[pick(0, 2)],
                      .nextHop = nextHops[pick(0, 3)],
                      .vlans = vlans,
                      .faIdLimit = static_cast<U32>(pick(0, 3))};
      if (pick(0, 1)) data.filter = {address(198, 18, static_cast<U8>(uid), 0), 0xFFFFFF00};
      return data;
   }

   static bool perVlan(K type) {
      return type == K::staticDestNat || type == K::twiceDestNat || type == K::dynamicDestNat;
   }
   static bool dynamic(K type) { return type == K::dynamicSrcNat || type == K::dynamicDestNat; }
   static bool translatesPorts(const Ember::NatHwKey& key) {
      const bool oldPort = key.srcIpAndPortOld().port() || key.dstIpAndPortOld().port();
      const bool newPort = key.srcIpAndPortNew().port() || key.dstIpAndPortNew().port();
      return dynamic(key.type()) || (newPort && (oldPort || key.type() == K::staticSrcNat ||
                                                 key.type() == K::staticDestNat));
   }

   // The translation profile: the fragment's, or the default's, which for static and twice
   // keys depends on whether the deciding side translates its port.
   static U32 profileOf(const Ember::NatHwKey& key, bool frag) {
      const bool srcNewPort = key.srcIpAndPortNew().port() != 0;
      const bool dstNewPort = key.dstIpAndPortNew().port() != 0;
      switch (key.type()) {
         case K::staticSrcNat:
            return frag ? 20 : srcNewPort ? 21 : 20;
         case K::twiceSrcNat:
            return frag ? 22 : dstNewPort ? 23 : 22;
         case K::staticDestNat:
            return frag ? 16 : dstNewPort ? 17 : 16;
         case K::twiceDestNat:
            return frag ? 18 : srcNewPort ? 19 : 18;
         case K::dynamicSrcNat:
            return frag ? 20 : 21;
         default:
            return frag ? 16 : 17;
      }
   }

   // Every action a packet of the rule gets, in any order.
   static std::vector<Chip::FieldActionValue> actionsOf(const Ember::NatHwKey& key,
                                                        const DataFields& data, U32 uid,
                                                        bool frag) {
      const Shim::Sdk& sdk = Shim::sdk_;
      const U64 nh = data.nextHop;
      const U32 nextHopId = (nh & nextHopMultipath) ? (static_cast<U32>(nh) & 0xF7FFFFFF) + 200000
                                                    : static_cast<U32>(nh) + 100000;
      const Chip::FieldActionValue copyToCpuCancel{sdk.bcmFieldActionCopyToCpuCancel()};
      const Chip::FieldActionValue dropCancel{sdk.bcmFieldActionDropCancel()};
      const Chip::FieldActionValue l3Switch{sdk.bcmFieldActionL3Switch(), nextHopId};
      const Chip::FieldActionValue dropAction{sdk.bcmFieldActionDrop()};
      std::vector<Chip::FieldActionValue> actions{
          {sdk.bcmFieldActionAssignExtractionCtrlId(), profileOf(key, frag), 0x1f},
          {sdk.bcmFieldActionAssignOpaqueObject1(), uid}};
      const bool forwards = nh != 0 && nh != ~U64{0};
      switch (key.type()) {
         case K::staticSrcNat:
            break;
         case K::twiceSrcNat:
            if (nh == 0) actions.push_back(dropAction);
            if (forwards) actions.insert(actions.end(), {copyToCpuCancel, dropCancel, l3Switch});
            break;
         case K::dynamicSrcNat:
            actions.insert(actions.end(), {copyToCpuCancel, dropCancel});
            break;
         default:  // the destination family
            actions.push_back(copyToCpuCancel);
            if (nh == 0 && !dynamic(key.type())) actions.push_back(dropAction);
            if (forwards) actions.insert(actions.end(), {dropCancel, l3Switch});
      }
      return actions;
   }

   // A packet the rule's entries on `vlan` must translate.
   static Chip::Packet packetOf(const Ember::NatHwKey& key, const DataFields& data, U32 uid,
                                U16 vlan) {
      return NatTest::packetOf(key, data, vlan, farAddress(uid).value());
   }

   // The VLANs a packet of the rule arrives on, and whether the rule's entries must take it:
   // a static destination rule on its listed VLANs only (a VLAN that left the list has lost
   // its entries), a dynamic one on any VLAN once it has one (its entries carry no VLAN
   // qualifier), a source rule on any.
   static std::vector<std::pair<U16, bool>> arrivals(K type, const DataFields& data) {
      if (!perVlan(type)) return {{unlistedVlan, true}};
      std::vector<std::pair<U16, bool>> vlans;
      for (U16 vlan : {U16{10}, U16{20}, U16{30}, unlistedVlan}) {
         const bool listed = std::count(data.vlans.begin(), data.vlans.end(), vlan) != 0;
         vlans.emplace_back(vlan, type == K::dynamicDestNat ? !data.vlans.empty() : listed);
      }
      return vlans;
   }

   std::set<U32> recordedIds(const Ember::NatHwKey& key0) const {
      std::set<U32> ids;
      for (U32 faId = 0; faId < 4; ++faId) {
         Ember::NatHwKey key = key0;
         const Tessel::EntryIdTableEntry entry = programmer->entryIdTable(key.faIdIs(faId));
         for (const auto& [vlan, id] : entry.defaultEntryIdMap()) ids.insert(id);
         for (const auto& [vlan, id] : entry.fragEntryIdMap()) ids.insert(id);
      }
      return ids;
   }

   void checkPacketsHit(U32 uid, const Rule& rule) {
      const DataFields& data = *rule.programmed;
      const std::set<U32> ids = recordedIds(rule.key0);
      SCOPED_TRACE("uid " + std::to_string(uid) + " " + rule.key0.stringValue());
      for (const auto& [vlan, hits] : arrivals(rule.key0.type(), data)) {
         Chip::Packet packet = packetOf(rule.key0, data, uid, vlan);
         const auto match = chip_.classify(module, packet);
         ASSERT_EQ(match.has_value(), hits) << "vlan " << vlan;
         if (!hits) continue;
         EXPECT_TRUE(ids.count(match->entryId));
         EXPECT_THAT(match->actions.items(),
                     testing::UnorderedElementsAreArray(actionsOf(rule.key0, data, uid, false)))
             << "vlan " << vlan;

         if (translatesPorts(rule.key0)) {
            Chip::Packet fragment = packet;
            fragment.fragment = Chip::FragmentState::nonFirstFragment;
            const auto fragMatch = chip_.classify(module, fragment);
            ASSERT_TRUE(fragMatch) << "non-first fragment on vlan " << vlan;
            const auto profile =
                fragMatch->actions.find(Shim::sdk_.bcmFieldActionAssignExtractionCtrlId());
            ASSERT_TRUE(profile);
            EXPECT_EQ(profile->param0, profileOf(rule.key0, true));
         }
         if (dynamic(rule.key0.type()) || data.protocol) {
            packet.ipProtocol = packet.ipProtocol == 6 ? 17 : 6;
            packet.tcpFlags = 0;
            EXPECT_FALSE(chip_.classify(module, packet)) << "another protocol, vlan " << vlan;
         }
      }
   }

   void checkRemoved(U32 uid, const Rule& rule) {
      for (U32 faId = 0; faId < 4; ++faId) {
         Ember::NatHwKey key = rule.key0;
         EXPECT_FALSE(programmer->entryIdTableHas(key.faIdIs(faId))) << key.stringValue();
      }
      for (U16 vlan : {U16{10}, U16{20}, U16{30}, unlistedVlan}) {
         Chip::Packet packet = packetOf(rule.key0, rule.data, uid, vlan);
         EXPECT_FALSE(chip_.classify(module, packet)) << "removed uid " << uid;
         packet.fragment = Chip::FragmentState::nonFirstFragment;
         EXPECT_FALSE(chip_.classify(module, packet)) << "removed uid " << uid << " fragment";
      }
   }

   // Held entries equal recorded ids, none twice, none 0; fragments only beside defaults.
   void checkHeldEqualsRecorded() {
      size_t recorded = 0;
      programmer->entryIdTableForEach([&](const Tessel::EntryIdTableEntry& entry) {
         recorded += entry.defaultEntryIds() + entry.fragEntryIds();
         for (const auto& [vlan, id] : entry.fragEntryIdMap()) {
            EXPECT_TRUE(entry.defaultEntryIdHas(vlan)) << entry.key().stringValue();
         }
      });
      std::set<U32> expected = programmer->entryIds();
      EXPECT_EQ(expected.count(0), 0u);
      EXPECT_EQ(expected.size(), recorded) << "an id recorded twice";
      expected.insert(otherUser.begin(), otherUser.end());
      EXPECT_EQ(entriesHeld(), expected);
   }

   void step() {
      const U32 uid = static_cast<U32>(pick(1, uids));
      const TesselNat::Uid ruleUid(uid);
      const int action = pick(0, 9);
      auto rule = rules.find(uid);
      // Only a rule pending for this module is removed: otherwise its entries would stay.
      const bool removal =
          (action == 6 || action == 7) && rule != rules.end() && rule->second.pending;
      if (removal) {
         controlPlane.ruleRemovalIs(ruleUid);
         programmer->doCommitHwConfig(ruleUid);
         controlPlane.ruleDel(ruleUid);
         checkRemoved(uid, rule->second);
         rules.erase(rule);
      } else if (action <= 7) {
         const DataFields data = randomData(uid);
         if (rule == rules.end()) {
            rule = rules.emplace(uid, Rule{.key0 = randomKey(uid), .data = data}).first;
         }
         Rule& changed = rule->second;
         // A reprogrammed entry keeps a protocol or filter qualifier the new data drops, so
         // a rule keeps its protocol and filter for life.
         changed.data = DataFields{.protocol = changed.data.protocol,
                                   .nextHop = data.nextHop,
                                   .vlans = data.vlans,
                                   .faIdLimit = data.faIdLimit,
                                   .filter = changed.data.filter};
         changed.pending = action != 5;
         publish(uid, changed.key0, changed.data, changed.pending);
         programmer->doCommitHwConfig(ruleUid);
         if (changed.pending) {
            changed.programmed.reset();
            if (status(uid).result() == 1) changed.programmed = changed.data;
         }
      } else if (action == 8) {
         if (const U32 id = natEntryManager->getEntry(module, "other")) otherUser.insert(id);
      } else if (!otherUser.empty()) {
         const U32 id = *otherUser.begin();
         natEntryManager->freeEntry(module, id);
         otherUser.erase(id);
      }
      checkHeldEqualsRecorded();
      bool quiescent = true;
      for (const auto& [ruleId, each] : rules) {
         if (each.programmed) checkPacketsHit(ruleId, each);
         // A destination rule without VLANs programs no key, so it has no record to verify.
         quiescent = quiescent && each.pending && each.programmed == each.data &&
                     !(perVlan(each.key0.type()) && each.data.vlans.empty());
      }
      // Every rule programmed as published: the records and the chip must verify.
      if (quiescent) programmer->doVerify();
   }

   const unsigned seed = baseSeed() + static_cast<unsigned>(GetParam());
   std::mt19937 rng{seed};
   std::map<U32, Rule> rules;  // by uid
   std::set<U32> otherUser;
   Kiv::Ptr<Tessel::NatSlaveProgrammerSm> programmer = newProgrammer();
};

TEST_P(CommitPropertyTest, ChipAndRecordsFollowEveryCommit) {
   SCOPED_TRACE("replay with TESSEL_NAT_SEED=" + std::to_string(seed) +
                " --gtest_filter=*CommitPropertyTest*/0");
   for (int i = 0; i < steps && !HasFailure(); ++i) step();
}

INSTANTIATE_TEST_SUITE_P(Seeds, CommitPropertyTest, ::testing::Range(0, 40));

}  // namespace
