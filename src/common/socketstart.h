#pragma once

// Kept apart from sockets.h so that a program's start-up can start the
// sockets library without taking in the system's socket headers (on Windows
// they bring windows.h and its macros).

namespace parvault {

// Starts the system's sockets library once for the process (Winsock needs it;
// elsewhere there is nothing to start). False when it cannot be started.
bool startSockets();

} // namespace parvault
