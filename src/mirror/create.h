// CREATE: a remote window announced (or announced again).
#pragma once

#include <windows.h>

// Registers the record and, for a remote window without parent or owner, its local window; then
// raises the host frame window. Returns 1; 0 when the CREATE was dropped whole because it would
// pass the caps on records or local windows.
int OnCreate(UINT32 messageNumber, UINT32 remoteWnd, UINT32 groupId, UINT32 parentId, UINT32 flags);
