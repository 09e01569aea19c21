#pragma once

namespace Tessel {

// Where the NAT control plane publishes its tables in shared memory.
inline constexpr const char* quillShoalConfigDirPath = "tesselnat/ingQuillShoalConfigDir";
inline constexpr const char* hwKeyUidTablePath = "tesselnat/hwKeyUidTable";
inline constexpr const char* uidHwKeyTablePath = "tesselnat/uidHwKeyTable";
inline constexpr const char* hwShadowPath = "tesselnat/hwShadow";
inline constexpr const char* ingModSetDirPath = "tesselnat/ingModSetDir";
// A module's status directory, formatted with the module id; its one collection and size.
inline constexpr const char* quillShoalStatusDirPathFormat = "tesselnat/ingQuillShoalStatusDir/%d";
inline constexpr const char* quillStatusCollection = "quillStatus";
inline constexpr unsigned quillStatusCollectionSize = 16384;

}  // namespace Tessel
