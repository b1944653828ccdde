// Appending one line to a store file whole or not at all: a reader of the file never meets
// half a line, not even after a full disk.
#pragma once

#include <string_view>

// Appends `line` to the file open at `fd` (opened for appending) in as many writes as it
// takes. Returns 0 once every byte is written; otherwise the errno of the failed write (ENOSPC
// for a full disk), with the file cut back to the length it had before, so no part of `line`
// stays. A cut that fails too returns its own errno: the caller must stop using the file.
int AppendWholeLine(int fd, std::string_view line);

// Cuts an unfinished last line off the file open at `fd`: only a writer ended in the middle
// of a line (killed, or the machine stopped) leaves one, and that line was never confirmed.
// Returns 0, or the errno of the read or the cut that failed.
int CutUnfinishedLine(int fd);
