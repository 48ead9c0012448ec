// A client's connection cut in the middle of a message (--script's "#!cut"): the client gets the
// first bytes the server library writes to its socket, then the socket is shut down.
//
// FreeRDP's server library writes a channel message to the socket at once, all its chunks in one
// call, and has no way to send part of one; so this program has a send() of its own, which FreeRDP's
// socket layer calls in place of the C library's. While a socket is armed, it passes at most the
// given number of bytes, shuts the socket down when they have gone and fails every send after.
// Every other socket, and the armed one before and after, goes to the system unchanged.
#pragma once

#include <cstddef>

namespace rdpserver {

// Arms the socket FD: the next BUDGET bytes sent on it go, then it is shut down.
void ArmCut(int fd, size_t budget);
// Disarms it; true if the cut happened (the budget was used up and the socket shut down).
bool DisarmCut();
// Whether this program's send() is the one FreeRDP's library calls (it is, when the program is
// linked so that its own send() is exported; checked once at start).
bool CutWorks();

}  // namespace rdpserver
