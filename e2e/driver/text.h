// Texts between the driver's UTF-8 command line and output and the UTF-16
// of the windows it reads.
#pragma once

#include <string>

std::string utf8(const std::wstring& text);
std::wstring wide(const std::string& text);
// One output line: carriage return, line feed, tab and backslash become
// \r, \n, \t and \\, so that a message box's text stays on one line.
std::string escaped(const std::wstring& text);
