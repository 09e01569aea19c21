#pragma once

#include "platform/records/quill/quill_shoal_config.h"
#include "platform/records/quill/quill_shoal_key.h"
#include "platform/records/quill/quill_shoal_status.h"
#include "platform/tables/shoal/table.h"

namespace Quill {

// Translation requests, collection `quillConfig`, keyed by uid. Read-only to the plug-in.
class QuillShoalConfigDir : public Shoal::Table<QuillShoalKey, QuillShoalConfig> {
public:
   static constexpr const char* typeName = "Quill::QuillShoalConfigDir";
   using Table::Table;

   bool quillConfigHas(const QuillShoalKey& key) const { return has(key); }
   U32 quillConfigs() const { return count(); }
   void quillConfigIs(const QuillShoalConfig& config) { recordIs(config); }
   void quillConfigDel(const QuillShoalKey& key) { recordDel(key); }
};

// One module's answers to the translation requests, collection `quillStatus`. The plug-in
// writes one record per committed uid; the programmer's base removes the answer of a request
// that went away, so the directory holds the answers of live requests only.
class QuillShoalStatusDir : public Shoal::Table<QuillShoalKey, QuillShoalStatus> {
public:
   static constexpr const char* typeName = "Quill::QuillShoalStatusDir";
   using Table::Table;

   bool quillStatusHas(const QuillShoalKey& key) const { return has(key); }
   U32 quillStatuss() const { return count(); }
   void quillStatusIs(const QuillShoalStatus& status) { recordIs(status); }
   void quillStatusDel(const QuillShoalKey& key) { recordDel(key); }
};

}  // namespace Quill
