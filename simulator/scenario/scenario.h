#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// A scenario file as the simulator runs it: the switch to build and the steps to take. The
// parser has checked everything here, so whoever runs a scenario only converts and executes.
namespace Simulator {

enum class RuleType : uint8_t {
   staticSrcNat,
   staticDestNat,
   twiceSrcNat,
   twiceDestNat,
   dynamicSrcNat,
   dynamicDestNat,
};
// The name a scenario file spells the type with.
std::string ruleTypeName(RuleType type);

struct Endpoint {
   uint32_t ip = 0;  // Host order: a.b.c.d is a<<24 | b<<16 | c<<8 | d.
   uint16_t port = 0;

   friend bool operator==(const Endpoint&, const Endpoint&) = default;
};
// "a.b.c.d:port", or "a.b.c.d" for port 0, the way a scenario file writes it.
std::string endpointText(const Endpoint& endpoint);

struct Prefix {
   uint32_t address = 0;  // Host order, no bits set beyond `length`.
   uint8_t length = 0;

   friend bool operator==(const Prefix&, const Prefix&) = default;
};
// "a.b.c.d/length", the way a scenario file writes it.
std::string prefixText(const Prefix& prefix);

// What one of a rule's keys matches differently from the rule itself.
struct KeyOverride {
   std::optional<Prefix> filter;
   std::optional<uint8_t> protocol;

   friend bool operator==(const KeyOverride&, const KeyOverride&) = default;
};

inline constexpr uint32_t nextHopDrop = 0;
inline constexpr uint32_t nextHopNone = 0xFFFFFFFF;
// "drop", "none" or the number, the way a scenario file writes it.
std::string nextHopText(uint32_t nextHop);

struct Rule {
   uint16_t uid = 0;
   RuleType type = RuleType::staticSrcNat;
   // Present exactly when the type has them.
   std::optional<Endpoint> src;
   std::optional<Endpoint> srcNew;
   std::optional<Endpoint> dst;
   std::optional<Endpoint> dstNew;
   uint8_t dynProto = 0;  // 0 unless the type is dynamic.
   uint8_t protocol = 0;
   // The destination filter of a staticSrcNat rule, the source filter of a staticDestNat one.
   Prefix filter;
   uint32_t nextHop = nextHopNone;
   std::vector<uint16_t> vlans;
   uint32_t aclId = 0;
   std::vector<uint16_t> modules;
   // One per key, so never empty.
   std::vector<KeyOverride> keys;

   friend bool operator==(const Rule&, const Rule&) = default;
};

struct Packet {
   enum class Fragment : uint8_t { none, first, later };
   // The bits of the TCP header's flags byte.
   static constexpr uint8_t tcpFin = 0x01;
   static constexpr uint8_t tcpSyn = 0x02;
   static constexpr uint8_t tcpRst = 0x04;
   static constexpr uint8_t tcpPsh = 0x08;
   static constexpr uint8_t tcpAck = 0x10;
   static constexpr uint8_t tcpUrg = 0x20;

   uint16_t module = 0;
   uint16_t vlan = 0;  // The ingress L3 interface.
   uint8_t proto = 0;
   Endpoint src;
   Endpoint dst;
   Fragment fragment = Fragment::none;
   uint8_t tcpFlags = 0;

   friend bool operator==(const Packet&, const Packet&) = default;
};

struct AddRule {
   Rule rule;
   friend bool operator==(const AddRule&, const AddRule&) = default;
};
struct UpdateRule {
   Rule rule;
   friend bool operator==(const UpdateRule&, const UpdateRule&) = default;
};
struct Retry {
   uint16_t uid = 0;
   friend bool operator==(const Retry&, const Retry&) = default;
};
struct Delete {
   uint16_t uid = 0;
   friend bool operator==(const Delete&, const Delete&) = default;
};
struct Show {
   // The dump as the command socket gives it, an aligned table, or its records as JSON.
   enum class Format : uint8_t { dump, table, json };
   uint16_t module = 0;
   Format format = Format::dump;
   friend bool operator==(const Show&, const Show&) = default;
};
struct Verify {
   uint16_t module = 0;
   friend bool operator==(const Verify&, const Verify&) = default;
};
struct SendPacket {
   Packet packet;
   friend bool operator==(const SendPacket&, const SendPacket&) = default;
};
struct Generate {
   uint32_t rules = 0;
   uint64_t seed = 1;
   std::vector<uint16_t> modules;
   // The uids the generated rules take, ascending; the parser chose them.
   std::vector<uint16_t> uids;
   // The types the rules are drawn from; empty: all six.
   std::vector<RuleType> types;
   // The most VLANs a destination rule gets (1 to this many, drawn).
   uint32_t vlans = 4;
   // Whether the step lists every rule it made.
   bool list = false;
   friend bool operator==(const Generate&, const Generate&) = default;
};
// Every rule, by uid, with what each module in the switch holds of it.
struct ListRules {
   friend bool operator==(const ListRules&, const ListRules&) = default;
};
// Per module in the switch, the intended rules and VLANs the chip does not hold, and what it
// holds that no rule intends.
struct Diff {
   friend bool operator==(const Diff&, const Diff&) = default;
};
// Per module in the switch, the TCAM's entries by rule type and the room left.
struct TcamUse {
   friend bool operator==(const TcamUse&, const TcamUse&) = default;
};
// Every hit count of every module in the switch back to 0.
struct ClearHits {
   friend bool operator==(const ClearHits&, const ClearHits&) = default;
};
// The packets the rule's entries on the module were hit by since they were placed or the
// counts were cleared: a different count fails the run.
struct ExpectHits {
   uint16_t module = 0;
   uint16_t uid = 0;
   uint64_t hits = 0;
   friend bool operator==(const ExpectHits&, const ExpectHits&) = default;
};
// Every dynamic NAT session of the scenario's pools, with its translation and hits.
struct ListSessions {
   friend bool operator==(const ListSessions&, const ListSessions&) = default;
};
struct Restart {
   bool warm = true;
   friend bool operator==(const Restart&, const Restart&) = default;
};
struct FlashDownload {
   friend bool operator==(const FlashDownload&, const FlashDownload&) = default;
};
// The agent process is killed (SIGKILL): now, or once it gets to the planned point in a later
// step, after `calls` SDK calls there. Then a supervisor starts it again warm at once, or it
// stays down until a restart step.
struct Crash {
   enum class At : uint8_t { now, sdkCall, commitPass, flashDownload };
   At at = At::now;
   uint32_t calls = 1;
   bool restart = true;
   friend bool operator==(const Crash&, const Crash&) = default;
};
// Packets sent from now on, through everything the later steps do, each flow in turn.
struct Traffic {
   std::vector<Packet> flows;
   uint32_t rate = 1000;  // packets a second, all flows together
   friend bool operator==(const Traffic&, const Traffic&) = default;
};
struct AddModule {
   uint16_t module = 0;
   friend bool operator==(const AddModule&, const AddModule&) = default;
};
struct RemoveModule {
   uint16_t module = 0;
   friend bool operator==(const RemoveModule&, const RemoveModule&) = default;
};

using Action = std::variant<AddRule, UpdateRule, Retry, Delete, Show, Verify, SendPacket, Generate,
                            Restart, FlashDownload, Crash, AddModule, RemoveModule, Traffic,
                            ListRules, Diff, TcamUse, ListSessions, ClearHits, ExpectHits>;

struct Step {
   std::string path;  // "steps[3]", for messages about the step while it runs.
   Action action;
   // The action's name and its value as the file gives it (compact JSON), for tools that
   // read the events.
   std::string name{};
   std::string source{};
   friend bool operator==(const Step&, const Step&) = default;
};

struct Chip {
   uint32_t natEntries = 2048;  // Field entries per unit.
   uint8_t pipes = 1;
   uint8_t copiesPerPipe = 1;
   friend bool operator==(const Chip&, const Chip&) = default;
};

// A dynamic NAT pool: a packet from `inside` that hits nothing on one of `modules` goes to
// the CPU, where the control plane gives its flow an outside address and port and installs
// the flow (dynamicSrcNat), and its return flow (dynamicDestNat) on `vlans` when there are
// any; the flows go after `idleSteps` steps without a hit.
struct Pool {
   std::string name;
   Prefix inside;
   Prefix outside;
   uint16_t firstPort = 1024;
   uint16_t lastPort = 65535;
   std::vector<uint16_t> vlans;
   uint32_t idleSteps = 10;
   uint32_t sessions = 16;  // at most at once
   std::vector<uint16_t> modules;
   // The uids its sessions' flows take, the parser's choice: two a session with return flows,
   // else one; no step may use them.
   std::vector<uint16_t> uids;
   friend bool operator==(const Pool&, const Pool&) = default;
};

struct Scenario {
   Chip chip;
   std::vector<uint16_t> modules{1};
   bool flashDownloadDone = true;
   std::vector<Pool> pools;
   std::vector<Step> steps;
   friend bool operator==(const Scenario&, const Scenario&) = default;
};

}  // namespace Simulator
