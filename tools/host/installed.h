// The standard client's way of finding add-ins, for `quorv-host --installed`: the DLLs registered
// under Software\Microsoft\Terminal Server Client\Default\AddIns, each subkey's Name value, in
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER as this process's registry view shows them (a 32-bit
// host sees the 32-bit view of HKEY_LOCAL_MACHINE\Software, a 64-bit one the 64-bit view;
// HKEY_CURRENT_USER\Software is one key for both).
#pragma once

#include <string>
#include <vector>

namespace host {

struct Registration {
  std::string key;   // e.g. "HKLM\Software\...\AddIns\quorv-x64"
  std::string path;  // the Name value, environment variables expanded
};

// Every registration with a usable Name value; what cannot be used (no Name, another type, too
// long) is described in *problems.
std::vector<Registration> ReadRegisteredAddins(std::vector<std::string> *problems);

// The machine a DLL file is built for, from its PE header: "x86", "x64", another name, or empty
// with a reason in *error when the file cannot be read or is no PE file.
std::string DllMachine(const std::string &path, std::string *error);

// The one registered add-in this process can load, chosen as the standard client would find it:
// registrations of another architecture are skipped (such a client cannot load them either) and
// the same DLL registered twice counts once. Each decision is a line in *notes. False, with the
// reason in *error, when no registration or more than one distinct DLL of this architecture is
// left (the host plays one channel).
bool ChooseInstalledAddin(const std::vector<Registration> &registrations, std::string *path,
                          std::vector<std::string> *notes, std::string *error);

}  // namespace host
