// Prints each input report of one open interface from the library's callback
// thread, and notes when the device is gone. Used by monitor and demo.
#pragma once

#include <cstddef>
#include <cstdint>

namespace juxhid::tool {

// Installs the error callback and then the data callback (every report, or
// only changed ones). Times count from this call. Prints why on failure.
bool printReportsOf(int32_t index, int32_t readLength, bool changedOnly, const char* indent);

bool printedDeviceGone();
int32_t printedGoneStatus();
size_t reportsPrinted();

}  // namespace juxhid::tool
