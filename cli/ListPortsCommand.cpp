#include <cstdio>

#include "cli/StationRun.h"
#include "session/ExitStatus.h"
#include "station/PortListing.h"

namespace kestrel::cli {

int ListPortsCommand(const StationOptions& station) {
    const auto ports = ListPorts("/", &SystemUsbDriver());
    for (const auto& text : station.json ? PortListJson(ports) : PortListText(ports)) {
        std::fprintf(stdout, "%s\n", text.c_str());
    }
    return kExitSuccess;
}

}  // namespace kestrel::cli
