// Usage bits of a variable on one line, shared by the effect table and the usage lists.
#pragma once
#include <cstdint>

namespace korvid {

using TUsageSet = std::uint32_t;

inline constexpr TUsageSet uWrite = 1;   // set without needing the old value
inline constexpr TUsageSet uModify = 2;  // read and rewritten
inline constexpr TUsageSet uRead = 4;
inline constexpr TUsageSet uPush = 8;
inline constexpr TUsageSet uPop = 16;

}  // namespace korvid
