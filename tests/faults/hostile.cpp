#include "hostile.h"

#include <fstream>
#include <unistd.h>

namespace parvault::faults {

using testing::parseRequest;
using testing::Request;

HostileUdpPeer::HostileUdpPeer(Responder responder) {
    serve([responder = std::move(responder)](const Bytes& datagram) {
        Request r;
        return parseRequest(datagram, r) ? responder(r) : std::vector<Bytes>{};
    });
}

HostilePty::HostilePty(const std::filesystem::path& folder, int port, Responder responder) {
    linkAs(folder / ("COM" + std::to_string(port)));
    serve([responder = std::move(responder)](const std::string& frame, int) {
        Request r;
        std::string out;
        if (parseRequest(Bytes(frame.begin(), frame.end()), r))
            for (const Bytes& d : responder(r))
                out.append(d.begin(), d.end());
        return out;
    });
}

long long ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

} // namespace parvault::faults
