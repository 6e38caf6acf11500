// The names Windows keeps for its devices, in any folder and with any
// extension: "NUL", "com7.log", "C:\records\aux", "COM7:", "lpt1 .txt".
// Portable, so that the check is tested where it is built fastest.
#pragma once

namespace os {

// True when opening the path would open a device rather than a file.
bool namesReservedDevice(const wchar_t* path);

}  // namespace os
