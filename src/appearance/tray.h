// The notification-area mirror: remote notification icons re-made in the local notification area.
#pragma once

// Library unload: frees the pending notification record and clears the tray icon assembly.
void ResetTrayMirror();
