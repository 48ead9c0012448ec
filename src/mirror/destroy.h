// DESTROY and DESTROYGRP: remote windows gone, one by id or a whole group.
#pragma once

#include <windows.h>

// 1 when the id was registered, else 0.
int OnDestroy(UINT32 messageNumber, UINT32 remoteWnd, UINT32 field3);
// Removes every record of the group; an empty registry in shaped mode blanks the host frame.
int OnDestroyGroup(UINT32 messageNumber, UINT32 groupId, UINT32 field3);
