// The diagnostic log: appends time-stamped records to c:\vozuda.log, only on machines where the
// marker file C:\QVX_EnableDebug exists.
#pragma once

#if defined(__GNUC__)
#define QUORV_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define QUORV_PRINTF(f, a)
#endif

// printf-style; the text carries its own "\n". Text from the wire is passed as an argument of
// "%s", never as the format.
void LogDebug(const char *format, ...) QUORV_PRINTF(1, 2);
