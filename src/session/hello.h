// HELLO: the session start that takes the host frame window over.
#pragma once

// Empties the registry and the accumulated shape, finds the host frame window (once), registers
// the session placeholder under id 0 and restyles, places and shows the frame as the display mode
// says. 0 when no host frame window was found, else 1.
int OnHello();
