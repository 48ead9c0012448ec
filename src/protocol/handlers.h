// The command handlers the dispatcher routes to, with the values it converts for them.
#pragma once

#include <windows.h>

#include <string_view>

int OnCreate(UINT32 messageNumber, UINT32 remoteWnd, UINT32 groupId, UINT32 parentId, UINT32 flags);
int OnDestroy(UINT32 messageNumber, UINT32 remoteWnd, UINT32 field3);
int OnShowWindow(UINT32 messageNumber, UINT32 remoteWnd, UINT32 showCommand);
int OnDestroyGroup(UINT32 messageNumber, UINT32 groupId, UINT32 field3);
int OnHello();
int OnSetIcon(UINT32 messageNumber, UINT32 remoteWnd, INT32 partKind, bool large, std::string_view payload);
int OnTitle(UINT32 messageNumber, UINT32 remoteWnd, const char *hexTitle, INT32 field4);
int OnSysTray(UINT32 messageNumber, UINT32 remoteWnd, INT32 partKind, bool large, std::string_view payload);
int OnUpdateRgn(std::string_view packedChange);
