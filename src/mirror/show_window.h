// SHOWWINDOW: a remote window shown or hidden, passed on to its local window.
#pragma once

#include <windows.h>

// 1 when the id was registered (with or without a local window), else 0.
int OnShowWindow(UINT32 messageNumber, UINT32 remoteWnd, UINT32 showCommand);
