#pragma once

#include <vector>

#include "platform/framework/kiv/reactor.h"
#include "platform/tables/shoal/table.h"

// A shared table of plain counters for the table tests, and a reactor noting the keys it
// hears of.
namespace TableTest {

struct Counter {
   U32 id = 0;
   U32 value = 0;
   U32 key() const { return id; }
   friend bool operator==(const Counter&, const Counter&) = default;
};

class CounterTable : public Shoal::Table<U32, Counter> {
public:
   static constexpr const char* typeName = "Test::CounterTable";
   using Table::Table;
};

struct Watcher : Kiv::PtrInterface {};

class RecordReactor : public Kiv::Reactor<Watcher, CounterTable> {
public:
   using Reactor::Reactor;
   void onRecord(const U32& changed) override { keys.push_back(changed); }
   void onRetired() override { ++retired; }
   std::vector<U32> keys;
   int retired = 0;
};

}  // namespace TableTest
