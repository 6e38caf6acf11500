// The files a command line names, looked at before anything is opened and
// before any port is touched.
#pragma once

#include <cstdio>
#include <string>

#include "cli/options.h"

namespace cli {

// False with a message naming the operand and what it is when a FILE,
// --log or --record names a FIFO, a device, a directory or a socket: each
// could hold an open or a read for good, and a serial port named by
// mistake would have its lines raised. A name that does not exist yet passes.
bool checkFileOperands(const Options& o, std::string* message);

// False with a message naming both when --log or --record names the file
// that another operand (or standard output or error) names, under any name:
// the output would wipe or mix with what the other holds.
bool checkSameFiles(const Options& o, std::string* message);

// A plain file named in UTF-8 ("rb", "ab" or "w"), opened without ever
// blocking; null when it cannot be opened or is no plain file.
FILE* openFile(const std::string& name, const char* mode);

}  // namespace cli
