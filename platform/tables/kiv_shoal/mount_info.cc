#include "platform/tables/kiv_shoal/mount_info.h"

#include <algorithm>

namespace KivShoal {

void MountInfo::collectionInfoIs(const CollectionInfo& info) {
   auto it = std::find_if(collections_.begin(), collections_.end(),
                          [&](const CollectionInfo& c) { return c.name == info.name; });
   if (it == collections_.end()) {
      collections_.push_back(info);
   } else {
      *it = info;
   }
}

const CollectionInfo* MountInfo::collectionInfo(const Kiv::String& name) const {
   auto it = std::find_if(collections_.begin(), collections_.end(),
                          [&](const CollectionInfo& c) { return c.name == name; });
   return it == collections_.end() ? nullptr : &*it;
}

}  // namespace KivShoal
