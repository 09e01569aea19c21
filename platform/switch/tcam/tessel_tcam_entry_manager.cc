#include "platform/switch/tcam/tessel_tcam_entry_manager.h"

TesselTcamEntryManager::TesselTcamEntryManager(TesselTcamGroupManager* groupManager, U32 group)
    : groupManager_(groupManager), group_(group) {}
