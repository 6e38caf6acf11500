// Bounded formatting of the texts that the message boxes show.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstddef>

// Formats with the runtime's wide printf rules (%s wide text, %hs narrow
// text, %ld long) into buffer, which always ends up NUL-terminated. A text
// longer than capacity - 1 characters keeps its beginning and ends in "...".
// Returns the length of the text, or -1 when nothing sensible could be made
// (no buffer, no format, or a conversion that failed).
int formatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list arguments);
int formatBoundedText(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);

// Stands in for the system's description of an error that has none.
extern const wchar_t kNoSystemText[];

// "operation:\r\n(error) system text", the start-up failure box's text; the
// system text is used as FormatMessageW gives it, line end included.
int composeStartupFailureText(wchar_t* buffer, size_t capacity, const wchar_t* operation,
                              DWORD error);
