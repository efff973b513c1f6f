#pragma once

// Hostile devices for the fault tests: a UDP peer and a pty far end that
// answer requests with whatever a test asks for, or flood the line.

#include "ptypeer.h"
#include "udppeer.h"
#include "wireframes.h"

#include <filesystem>

namespace parvault::faults {

using testing::Bytes;
using testing::Responder;

class HostileUdpPeer : public testing::UdpPeer {
public:
    explicit HostileUdpPeer(Responder responder);
};

class HostilePty : public testing::PtyPeer {
public:
    // Links folder/COM<port> to the pty's slave.
    HostilePty(const std::filesystem::path& folder, int port, Responder responder);
};

// Resident size of this process in bytes.
long long ResidentBytes();

} // namespace parvault::faults
