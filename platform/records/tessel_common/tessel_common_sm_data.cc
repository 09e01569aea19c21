#include "platform/records/tessel_common/tessel_common_sm_data.h"

namespace {

template <class Map>
std::vector<typename Map::key_type> keysOf(const Map& map) {
   std::vector<typename Map::key_type> keys;
   keys.reserve(map.size());
   for (const auto& entry : map) keys.push_back(entry.first);
   return keys;
}

// Stores `value` under `key`; true when that changed the map.
template <class Map>
bool store(Map& map, const typename Map::key_type& key, const typename Map::mapped_type& value) {
   auto [it, inserted] = map.try_emplace(key, value);
   if (inserted) return true;
   if (it->second == value) return false;
   it->second = value;
   return true;
}

}  // namespace

U16 TesselCommonSmData::moduleToUnit(TesselCentral::ModId modId, bool& found) const {
   auto it = moduleToUnit_.find(modId);
   found = it != moduleToUnit_.end();
   return found ? it->second : 0;
}

std::vector<TesselCentral::ModId> TesselCommonSmData::moduleToUnitKeys() const {
   return keysOf(moduleToUnit_);
}

void TesselCommonSmData::moduleToUnitIs(TesselCentral::ModId modId, U16 unit) {
   if (!store(moduleToUnit_, modId, unit)) return;
   notify<Notifiee>([modId](Notifiee& n) { n.onModuleToUnit(modId); });
}

void TesselCommonSmData::moduleToUnitDel(TesselCentral::ModId modId) {
   if (moduleToUnit_.erase(modId) == 0) return;
   notify<Notifiee>([modId](Notifiee& n) { n.onModuleToUnit(modId); });
}

bool TesselCommonSmData::flashDownloadWait(TcamFlashDownloadReq req, bool& found) const {
   auto it = flashDownloadWait_.find(req);
   found = it != flashDownloadWait_.end();
   return found && it->second;
}

std::vector<TcamFlashDownloadReq> TesselCommonSmData::flashDownloadWaitKeys() const {
   return keysOf(flashDownloadWait_);
}

void TesselCommonSmData::flashDownloadWaitIs(TcamFlashDownloadReq req, bool done) {
   if (!store(flashDownloadWait_, req, done)) return;
   notify<Notifiee>([req](Notifiee& n) { n.onFlashDownloadWait(req); });
}

void TesselCommonSmData::flashDownloadWaitDel(TcamFlashDownloadReq req) {
   if (flashDownloadWait_.erase(req) == 0) return;
   notify<Notifiee>([req](Notifiee& n) { n.onFlashDownloadWait(req); });
}

void TesselCommonSmData::hitlessInitIs(bool hitlessInit) {
   if (hitlessInit == hitlessInit_) return;
   hitlessInit_ = hitlessInit;
   notify<Notifiee>([](Notifiee& n) { n.onHitlessInit(); });
}
