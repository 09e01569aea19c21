#pragma once

#include <vector>

#include "platform/framework/kiv/string.h"
#include "platform/framework/kiv/types.h"

namespace KivShoal {

// How a mount uses its table.
enum class KivShoalType : U8 {
   // The mounting agent creates the table and owns it: only it writes, and the table leaves
   // shared memory with the agent's entity manager.
   writer = 0,
   // Read-only mounts of a table that another process publishes; the table is created empty
   // when nobody has published it yet. A real table service maps the two differently (1 is
   // watched for changes, 2 is looked up); the in-process store serves them alike.
   watchingReader = 1,
   reader = 2,
};

// Sizing of one collection of a mounted table.
struct CollectionInfo {
   Kiv::String name;
   U32 size = 0;

   friend bool operator==(const CollectionInfo&, const CollectionInfo&) = default;
};

// What a mount request asks for: the mount type and the sizing of the collections it uses.
class MountInfo {
public:
   explicit MountInfo(KivShoalType type) : type_(type) {}

   KivShoalType type() const { return type_; }

   // Adds the collection, or replaces the one of the same name.
   void collectionInfoIs(const CollectionInfo& info);
   // The collection of that name, or null; the pointer lasts until the next change.
   const CollectionInfo* collectionInfo(const Kiv::String& name) const;
   // All collections, in the order they were first given.
   const std::vector<CollectionInfo>& collectionInfos() const { return collections_; }

private:
   KivShoalType type_;
   std::vector<CollectionInfo> collections_;
};

}  // namespace KivShoal
