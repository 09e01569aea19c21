#include "simulator/switch/event_writer.h"

#include <nlohmann/json.hpp>
#include <ostream>
#include <vector>

#include "simulator/switch/dump_table.h"

namespace Simulator {

using Json = nlohmann::ordered_json;

void EventWriter::step(const std::string& path, const std::string& what,
                       const std::string& action, const std::string& source) {
   if (format_ == Format::json) {
      Json line{{"event", "step"}, {"step", path}, {"what", what}};
      if (!action.empty() && !source.empty()) {
         line["action"] = action;
         line["fields"] = Json::parse(source);
      }
      out_ << line.dump() << "\n";
   } else {
      out_ << path << " " << what << "\n";
   }
}

namespace {

// What a module's result code means, in a word or two.
const char* resultMeaning(uint32_t result) {
   switch (result) {
      case 1:
         return "done";
      case 2:
         return "TCAM full";
      default:
         return "unknown result";
   }
}

}  // namespace

void EventWriter::status(uint16_t module, uint16_t uid, uint32_t result,
                         const RuleOnModule* held) {
   if (format_ == Format::json) {
      Json line{{"event", "status"},
                {"module", module},
                {"uid", uid},
                {"result", result},
                {"meaning", resultMeaning(result)}};
      if (held) {
         line["vlansIn"] = held->vlansIn;
         line["vlansOut"] = held->vlansOut;
         line["needs"] = held->needs;
         line["free"] = held->free;
      }
      out_ << line.dump() << "\n";
   } else {
      out_ << "status module " << module << " uid " << uid << " result " << result << " ("
           << resultMeaning(result) << (held ? ": " + shortfallText(*held) : std::string())
           << ")\n";
   }
}

void EventWriter::unanswered(uint16_t module, uint16_t uid) {
   if (format_ == Format::json) {
      out_
          << Json{{"event", "status"}, {"module", module}, {"uid", uid}, {"answered", false}}.dump()
          << "\n";
   } else {
      out_ << "status module " << module << " uid " << uid << " unanswered\n";
   }
}

void EventWriter::waiting(uint16_t module, uint16_t uid) {
   if (format_ == Format::json) {
      out_ << Json{{"event", "status"}, {"module", module}, {"uid", uid}, {"answered", false},
                   {"agentDown", true}}
                  .dump()
           << "\n";
   } else {
      out_ << "status module " << module << " uid " << uid << " waiting: the agent is down\n";
   }
}

void EventWriter::refused(uint16_t uid, const std::string& reason) {
   if (format_ == Format::json) {
      out_ << Json{{"event", "refused"}, {"uid", uid}, {"reason", reason}}.dump() << "\n";
   } else {
      out_ << "uid " << uid << " " << reason << "\n";
   }
}

void EventWriter::answersLost(uint16_t module, uint32_t count) {
   if (format_ == Format::json) {
      out_ << Json{{"event", "answersLost"}, {"module", module}, {"count", count}}.dump() << "\n";
   } else {
      out_ << "module " << module << ": status directory full, " << count << " answer(s) refused\n";
   }
}

void EventWriter::show(uint16_t module, const std::string& dump, const std::string& shown) {
   if (format_ == Format::json) {
      Json line{{"event", "show"}, {"module", module}, {"dump", dump}};
      if (std::optional<Json> records = dumpRecords(dump)) line["records"] = std::move(*records);
      out_ << line.dump() << "\n";
   } else {
      out_ << shown;
   }
}

void EventWriter::verifyOk(uint16_t module) {
   if (format_ == Format::json) {
      out_ << Json{{"event", "verify"}, {"module", module}, {"ok", true}}.dump() << "\n";
   } else {
      out_ << "verify module " << module << ": ok\n";
   }
}

void EventWriter::disagreement(uint16_t module, const std::string& check, const std::string& key,
                               uint16_t vlan, uint32_t entry, uint64_t expected, uint64_t read,
                               uint16_t fullUid) {
   if (format_ == Format::json) {
      Json line{{"event", "verify"}, {"module", module},     {"ok", false},
                {"check", check},    {"key", key},           {"vlan", vlan},
                {"entry", entry},    {"expected", expected}, {"read", read}};
      if (fullUid != 0) line["tcamFullUid"] = fullUid;
      out_ << line.dump() << "\n";
   } else {
      out_ << "verify module " << module << ": " << check << ": key " << key << ", vlan " << vlan
           << ", entry " << entry << ", expected " << expected << ", read " << read;
      if (fullUid != 0) out_ << " (uid " << fullUid << " did not fit: TCAM full)";
      out_ << "\n";
   }
}

void EventWriter::packetHit(uint16_t module, const Hit& hit) {
   if (format_ == Format::json) {
      out_ << Json{{"event", "packet"},
                   {"module", module},
                   {"entry", hit.entry},
                   {"uid", hit.uid},
                   {"profile", hit.profile},
                   {"kind", hit.kind},
                   {"forwarding", hit.forwarding},
                   {"src", hit.src},
                   {"dst", hit.dst}}
                  .dump()
           << "\n";
   } else {
      out_ << "packet module " << module << ": entry " << hit.entry << " uid " << hit.uid
           << " profile " << hit.profile << " (" << hit.kind << ") " << hit.forwarding << " -> "
           << hit.src << " > " << hit.dst << "\n";
   }
}

void EventWriter::packetMiss(uint16_t module) {
   if (format_ == Format::json) {
      out_ << Json{{"event", "packet"}, {"module", module}, {"match", false}}.dump() << "\n";
   } else {
      out_ << "packet module " << module << ": no match\n";
   }
}

void EventWriter::traffic(std::size_t flow, const std::string& packets, uint64_t sent,
                          uint64_t lost, uint64_t misrouted) {
   if (format_ == Format::json) {
      out_ << Json{{"event", "traffic"}, {"flow", flow}, {"packets", packets},
                   {"sent", sent},       {"lost", lost}, {"misrouted", misrouted}}
                  .dump()
           << "\n";
   } else {
      out_ << "traffic flow " << flow << " (" << packets << "): sent " << sent << ", lost " << lost
           << ", misrouted " << misrouted << "\n";
   }
}

void EventWriter::note(const std::string& text) {
   if (format_ == Format::json) {
      out_ << Json{{"event", "note"}, {"text", text}}.dump() << "\n";
   } else {
      out_ << text << "\n";
   }
}

void EventWriter::event(const char* event, const std::string& text, const Json& fields) {
   if (format_ == Format::json) {
      Json line{{"event", event}};
      line.update(fields);
      out_ << line.dump() << "\n";
   } else {
      out_ << text << "\n";
   }
}

void EventWriter::summary(std::size_t rules, const std::vector<ModuleUse>& modules,
                          const Requests& requests) {
   if (format_ == Format::json) {
      Json perModule = Json::array();
      for (const ModuleUse& use : modules) {
         perModule.push_back({{"module", use.module}, {"used", use.used}, {"free", use.free}});
      }
      out_ << Json{{"event", "summary"},
                   {"rules", rules},
                   {"modules", perModule},
                   {"answered1", requests.answered1},
                   {"answered2", requests.answered2},
                   {"unanswered", requests.unanswered},
                   {"refused", requests.refused},
                   {"lost", requests.lost}}
                  .dump()
           << "\n";
      return;
   }
   out_ << "summary: " << rules << " rules;";
   for (const ModuleUse& use : modules) {
      out_ << " module " << use.module << " " << use.used << " entries used, " << use.free
           << " free;";
   }
   out_ << " requests answered 1: " << requests.answered1 << ", 2: " << requests.answered2
        << ", unanswered: " << requests.unanswered << ", refused: " << requests.refused
        << ", answers lost: " << requests.lost << "\n";
}

}  // namespace Simulator
