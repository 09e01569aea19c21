// Runs the benchmarks, then prints the figures the project is judged on: each a ratio of two
// measurements of this run, against its target.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "platform/framework/kiv/freed_memory.h"

namespace {

struct Measured {
   double seconds = 0;  // per iteration
   std::map<std::string, double> counters;
};

// Keeps every run's time and counters, by "function/args", and reports as the console does.
class Collector : public benchmark::ConsoleReporter {
public:
   Collector() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

   void ReportRuns(const std::vector<Run>& runs) override {
      for (const Run& run : runs) {
         if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
         Measured& measured = runs_[run.run_name.function_name + "/" + run.run_name.args];
         measured.seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
         for (const auto& [name, counter] : run.counters) measured.counters[name] = counter.value;
      }
      ConsoleReporter::ReportRuns(runs);
   }

   std::optional<double> seconds(const std::string& name) const {
      const auto found = runs_.find(name);
      if (found == runs_.end()) return std::nullopt;
      return found->second.seconds;
   }
   std::optional<double> counter(const std::string& name, const std::string& counter) const {
      const auto found = runs_.find(name);
      if (found == runs_.end() || !found->second.counters.contains(counter)) return std::nullopt;
      return found->second.counters.at(counter);
   }

private:
   std::map<std::string, Measured> runs_;
};

std::optional<double> ratio(std::optional<double> a, std::optional<double> b, double scale = 1) {
   if (!a || !b || *b == 0) return std::nullopt;
   return *a / *b * scale;
}

void row(const char* figure, std::optional<double> value, double target, const char* unit = "") {
   if (!value) {
      std::printf("| %-72s | %10s | %8s | %-7s |\n", figure, "n/a", "", "");
      return;
   }
   char limit[32];
   std::snprintf(limit, sizeof limit, "<= %g%s", target, unit);
   std::printf("| %-72s | %10.2f | %8s | %-7s |\n", figure, *value, limit,
               *value <= target ? "met" : "MISSED");
}

// A figure that must reach at least `target`.
void rowAtLeast(const char* figure, std::optional<double> value, double target) {
   if (!value) {
      std::printf("| %-72s | %10s | %8s | %-7s |\n", figure, "n/a", "", "");
      return;
   }
   char limit[32];
   std::snprintf(limit, sizeof limit, ">= %g", target);
   std::printf("| %-72s | %10.0f | %8s | %-7s |\n", figure, *value, limit,
               *value >= target ? "met" : "MISSED");
}

void tableHeader() {
   std::printf("\n| %-72s | %10s | %8s | %-7s |\n", "Figure", "Value", "Target", "");
   std::printf("|%s|%s|%s|%s|\n", std::string(74, '-').c_str(), std::string(12, '-').c_str(),
               std::string(10, '-').c_str(), std::string(9, '-').c_str());
}

void printFigures(const Collector& c) {
   const auto perRule = [&](const char* name, int rules, const char* more = "") {
      return ratio(c.seconds(std::string(name) + "/" + std::to_string(rules) + more),
                   std::optional<double>(rules));
   };
   tableHeader();
   row("commit of 16384 rules: agent / its SDK calls through the call convention",
       ratio(c.seconds("BM_AgentCommit/16384"), c.seconds("BM_SdkReplayThroughCalls/16384")),
       1.5);
   row("commit of 16384 rules: agent / its SDK calls replayed bare",
       ratio(c.seconds("BM_AgentCommit/16384"), c.seconds("BM_SdkReplay/16384")), 3);
   row("per-rule add at 65535 rules / at 1024 (the programmer alone)",
       ratio(perRule("BM_ProgrammerAdd", 65535), perRule("BM_ProgrammerAdd", 1024)), 1.3);
   row("per-rule delete at 65535 rules / at 1024 (the programmer alone)",
       ratio(perRule("BM_ProgrammerDelete", 65535), perRule("BM_ProgrammerDelete", 1024)), 1.3);
   row("16384 rules published in bulk / delivered one at a time",
       ratio(c.seconds("BM_AgentCommit/16384"), c.seconds("BM_AgentCommitOneAtATime/16384")),
       1.1);
   row("verification per key at 16384 keys / at 1024",
       ratio(ratio(c.seconds("BM_VerifyPerKey/16384"), c.counter("BM_VerifyPerKey/16384", "keys")),
             ratio(c.seconds("BM_VerifyPerKey/1024"), c.counter("BM_VerifyPerKey/1024", "keys"))),
       1.2);
   row("show dump per key at 16384 keys / at 1024",
       ratio(ratio(c.seconds("BM_ShowPerKey/16384"), c.counter("BM_ShowPerKey/16384", "keys")),
             ratio(c.seconds("BM_ShowPerKey/1024"), c.counter("BM_ShowPerKey/1024", "keys"))),
       1.2);
   row("flash download of 16384 rules / of 4096",
       ratio(c.seconds("BM_FlashDownload/16384"), c.seconds("BM_FlashDownload/4096")), 5);
   row("warm start of 16384 rules / their cold install",
       ratio(c.seconds("BM_WarmStart/16384"), c.seconds("BM_ColdStart/16384")), 1);
   row("plug-in heap per single-VLAN rule at 65535 rules",
       c.counter("BM_PluginHeapPerRule/65535", "bytes_per_rule"), 80, " B");
   rowAtLeast("generate of 16384 rules end to end, rules/s",
              c.counter("BM_GenerateEndToEnd/16384", "rules_per_second"), 100000);
   std::printf("\nKept from earlier work:\n");
   tableHeader();
   row("warm start of 16384 clean rules / of 4096",
       ratio(c.seconds("BM_WarmStart/16384"), c.seconds("BM_WarmStart/4096")), 4.5);
   row("commit pass over 16384 answered requests: per request / lookup",
       ratio(c.seconds("BM_CommitPassAnswered/16384"), c.seconds("BM_SharedTableLookups/16384")),
       3);
   row("plug-in heap per rule at 65535 rules / at 1024",
       ratio(c.counter("BM_PluginHeapPerRule/65535", "bytes_per_rule"),
             c.counter("BM_PluginHeapPerRule/1024", "bytes_per_rule")),
       1.2);
   row("commit that finds the TCAM full / a successful one",
       ratio(c.seconds("BM_CommitTcamFull/1"), c.seconds("BM_CommitTcamFull/0")), 1);
   const auto commit = perRule("BM_AgentCommit", 16384);
   const auto convention = perRule("BM_SdkReplayThroughCalls", 16384);
   const auto replay = perRule("BM_SdkReplay", 16384);
   if (commit && convention && replay) {
      std::printf("\ncommit of 16384 rules into the chip in the switch segment: %.2f us a rule; "
                  "its SDK calls through the call convention: %.2f us; replayed bare: %.2f us\n",
                  *commit * 1e6, *convention * 1e6, *replay * 1e6);
   }
   if (const auto bytes = c.counter("BM_ShowPerKey/16384", "dump_bytes")) {
      if (const auto seconds = c.seconds("BM_ShowPerKey/16384")) {
         std::printf("\nshow dump of 16384 keys: %.0f bytes, %.1f MB/s\n", *bytes,
                     *bytes / *seconds / 1e6);
      }
   }
}

}  // namespace

int main(int argc, char** argv) {
   Kiv::doKeepFreedMemory();
   benchmark::Initialize(&argc, argv);
   if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
   Collector collector;
   benchmark::RunSpecifiedBenchmarks(&collector);
   printFigures(collector);
   benchmark::Shutdown();
   return 0;
}
