#include <gtest/gtest.h>

#include "platform/quill/quill_shoal_config.h"
#include "platform/quill/quill_shoal_status.h"

namespace {

using Quill::QuillShoalKey;

TEST(QuillShoalTest, KeysOrderByUidAndStatusEchoesVersion) {
   EXPECT_LT(QuillShoalKey(2), QuillShoalKey(10));
   EXPECT_EQ(std::hash<QuillShoalKey>()(QuillShoalKey(7)), QuillShoalKey(7).hash(0));

   const Quill::QuillShoalConfig config(QuillShoalKey(7), 3);
   const Quill::QuillShoalStatus status(config.key(), 0, config.reqVersion());
   EXPECT_EQ(status.stringValue(), "uid: 7 result: 0 reqVersion: 3");
   EXPECT_EQ(Quill::QuillShoalStatus(), Quill::QuillShoalStatus(QuillShoalKey(), 0, 0));
   EXPECT_NE(status, Quill::QuillShoalStatus(QuillShoalKey(7), 1, 3));
}

}  // namespace
