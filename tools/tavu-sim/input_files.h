// The files named on the command line, checked before the machine is built:
// a mistake in them ends the run with one line that names the file and the
// reason, before anything is made under --root or opened for long.
#pragma once

#include <cstdio>
#include <string>

#include "tools/tavu-sim/sim_command.h"

namespace tavu::tool {

// "" for a file the tool can use as given, otherwise why not ("a FIFO: not a
// regular file or block device", "Permission denied", ...). Checks the type
// before opening, since opening a FIFO waits for a writer for ever.
// *writeRefused: the file reads, but cannot be opened for the writing asked.
std::string InputFileProblem(const InputFile& file, bool write, bool* writeRefused);

// Whether a listing's first bytes are UTF-16 (what PowerShell's > writes):
// a byte-order mark, or every other byte zero.
bool LooksLikeUtf16(const std::string& head);

// 0, or 2 after one line on err for the first file that cannot be used.
int CheckInputFiles(const SimOptions& options, std::FILE* err);

}  // namespace tavu::tool
