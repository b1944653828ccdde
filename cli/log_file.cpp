// Opening the driver log; what differs by platform is behind platform.h.
#include "log_file.h"

#include "platform.h"

LogFile OpenLog(const std::string& path)
{
    if (path == STANDARD_INPUT_NAME) {
        SetBinaryMode(stdin);
        return LogFile(stdin);
    }
    return LogFile(std::fopen(path.c_str(), "rb"));
}

LogFile OpenLogToFollow(const std::string& path, bool* followable)
{
    return LogFile(OpenToFollow(path, followable));
}
