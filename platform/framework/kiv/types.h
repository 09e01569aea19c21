#pragma once

#include <cstdint>

// Fixed-width integer names used throughout the agent and its plug-ins.
using U8 = std::uint8_t;
using U16 = std::uint16_t;
using U32 = std::uint32_t;
using U64 = std::uint64_t;
using S32 = std::int32_t;
using S64 = std::int64_t;
