#pragma once

#include "platform/framework/kiv/types.h"

// The feature a TCAM group serves (NAT's is 145); the key under which the group manager keeps
// the group's entry manager.
using TcamGroupAssignment = U32;
