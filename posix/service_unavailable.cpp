// Services are a Windows matter: elsewhere the companion runs under the system's own
// service manager (systemd, a supervisor) as a plain `report --follow`.
#include "notice_sink.h"
#include "service_host.h"

int RunServiceCommand(const ServiceRequest&, const ServiceFollowing&)
{
    TellNotice(NoticeKind::Error, "ndislog: service is for Windows only; run report --follow under the system's "
                                  "service manager instead\n");
    return 1;
}
