// The Windows directory is asked for until the answer fits: a directory longer than MAX_PATH
// answers with the room it needs instead of its name.
#include "driver_log_path.h"

#include <windows.h>

std::string DriverLogPath()
{
    std::string directory(MAX_PATH, '\0');
    UINT length;
    // Too small a buffer gets the size it needs, terminator included; a fitting one the length.
    while ((length = GetWindowsDirectoryA(directory.data(), static_cast<UINT>(directory.size()))) >=
           directory.size())
        directory.resize(length);
    if (length == 0)
        return std::string();
    directory.resize(length);
    return directory + "\\ndislog.txt";
}
