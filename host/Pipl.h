// The plug-in property list a host reads from the module file (section
// ".pipl") to learn what the filter is called and where it is offered.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr size_t kPiplSize = 394;

// The bytes exactly as they stand in the module's ".pipl" section.
extern const std::array<uint8_t, kPiplSize> g_pipl;
