#pragma once

// The ranges of the settings record's numbers, as the settings dialog takes
// them and the command line checks them.

#include <cstdint>

namespace parvault {

// Bus addresses are five bits: 0..31.
inline constexpr int32_t kMaxBusAddress = 31;
// The answer wait, in seconds.
inline constexpr int32_t kMinWaitSeconds = 1;
inline constexpr int32_t kMaxWaitSeconds = 31;
// The dialog keeps the addresses and the wait in five bits, whatever the
// file held.
inline constexpr int32_t kFiveBitMask = 0x1F;

} // namespace parvault
