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
//
// A commit reads its rule when it starts and echoes the request as it reads it when it ends;
// its SDK calls give the control plane time to publish a newer request in between, whose rule
// the commit never read. So a mount that knows its requests (requestsIs()) holds back an
// answer to a request whose change has not reached the requests' mount yet: the answer stays
// as it was, and the change, when it arrives, finds its request unanswered and has it
// committed.
class QuillShoalStatusDir : public Shoal::Table<QuillShoalKey, QuillShoalStatus> {
public:
   static constexpr const char* typeName = "Quill::QuillShoalStatusDir";
   using Table::Table;

   bool quillStatusHas(const QuillShoalKey& key) const { return has(key); }
   U32 quillStatuss() const { return count(); }
   void quillStatusIs(const QuillShoalStatus& status) {
      if (requests_ && requests_->changePending(status.key())) return;
      recordIs(status);
   }
   void quillStatusDel(const QuillShoalKey& key) { recordDel(key); }

   // The requests these are answers to, as the answering agent's mount tells them; null
   // holds nothing back.
   void requestsIs(const Kiv::Ptr<const QuillShoalConfigDir>& requests) { requests_ = requests; }

private:
   Kiv::Ptr<const QuillShoalConfigDir> requests_;
};

}  // namespace Quill
