// The Windows directory is asked for until the answer fits: a directory longer than the room
// offered answers with the room it needs, terminator included, instead of its name.
#include "driver_log_path.h"

#include <windows.h>

#include <cstdlib>

namespace {

constexpr char LOG_FILE_NAME[] = "\\ndislog.txt";

}  // namespace

char* NewDriverLogPath()
{
    for (UINT room = MAX_PATH;;) {
        // The directory's room, and that of the name behind it (its terminator is counted in room).
        char* path = static_cast<char*>(std::malloc(room + sizeof LOG_FILE_NAME - 1));
        if (path == nullptr)
            return nullptr;
        const UINT length = GetWindowsDirectoryA(path, room);
        if (length != 0 && length < room)
            return lstrcatA(path, LOG_FILE_NAME);
        std::free(path);
        if (length == 0)
            return nullptr;
        room = length;
    }
}
