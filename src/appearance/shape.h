// UPDATERGN: the host frame window cut down to the remote windows' shapes. The shapes are combined
// into one process-wide region, the accumulated shape, of which the host frame gets copies.
#pragma once

#include <windows.h>

#include <string_view>

// Combines one packed shape change into the accumulated shape (shaped display mode only) and
// gives the host frame window a copy of the result. An empty change applies the shape as it is.
// Returns 1.
int OnUpdateRgn(std::string_view packedChange);
// After CREATE raised the host frame window: its shape is applied again, once a session has found
// the frame.
void ReapplyShape();

// Session start: a new, empty accumulated shape.
void ResetShapeRegion();
// Library unload: the accumulated shape is deleted.
void DeleteShapeRegion();
// The accumulated shape itself (null before the first session start), for tests.
HRGN AccumulatedShapeRegion();
