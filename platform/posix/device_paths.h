// Linux has no COM numbers: the program gives each device path it will use
// a number of the port table, and the open of "\\.\COM<n>" opens that path.
#pragma once

#include <cstdint>

namespace os::posix {

// False for a number outside 1..255 or a path too long to keep.
bool setDevicePath(uint32_t portNumber, const char* path);
// The path given to the number, or null.
const char* devicePath(uint32_t portNumber);

// The bytes on every device open now, in one write each that does not wait
// (its line is non-blocking): for a program that ends at once. No transfer's
// write begins from here on, and one half on the line finishes first, so
// that nothing follows the bytes. Not from a signal handler.
void writeToOpenDevices(const void* bytes, uint32_t count);

}  // namespace os::posix
