// The service on POSIX: Windows services are a Windows matter; here the companion runs under
// the system's own service manager (systemd, a supervisor) as a plain `report --follow`.
#include "notices.h"
#include "platform.h"

int RunServiceCommand(const ServiceRequest&, const ServiceFollowing&, NoticeChannel& notices)
{
    notices.Tell(NoticeType::Error, NoticeLine("service is for Windows only; run report --follow under the "
                                               "system's service manager instead"));
    return 1;
}
