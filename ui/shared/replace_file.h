// Saving a file whole or not at all.
#pragma once

#include <windows.h>

// Writes bytes to a new file beside the target and puts it in the
// target's place in one step: the old file stays whole until then, and on
// any failure it stays as it was. Returns 0 or the system's error.
DWORD replaceFile(const wchar_t* path, const char* bytes, DWORD size);
