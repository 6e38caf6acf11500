// Conversion between the seam's line settings and the Windows DCB. Kept
// apart from the kernel32 calls so a Windows-side check can exercise it.
#pragma once

#include <windows.h>

#include "platform/os.h"

namespace os::win32 {

// DCBlength is set; the reserved words are zero. dtrControl and rtsControl
// must fit their two-bit fields (see fitsDcb).
DCB toDcb(const LineSettings& settings);
LineSettings fromDcb(const DCB& dcb);

// False when a value would be cut short by a DCB bit field.
bool fitsDcb(const LineSettings& settings);

}  // namespace os::win32
