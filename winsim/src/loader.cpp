// winsim's module loader: LoadLibraryA maps "name.dll" to "name.so" beside the program (or in the
// working folder) and calls its DllMain as Windows does, at load, at the last FreeLibrary, and at
// process exit (with a non-null reserved argument) for modules still loaded.
#include <windows.h>

#include <inspect.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

typedef BOOL(WINAPI *DllEntry)(HINSTANCE, DWORD, LPVOID);

struct Module {
  void *handle;
  std::string path;
  int references;
};

std::recursive_mutex g_loaderLock;
std::vector<Module> *g_modules = new std::vector<Module>;  // lives until the process ends
std::string *g_moduleFileName = new std::string;
bool g_exitHookInstalled = false;

std::string ProgramPath() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string Directory(const std::string &path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string ResolveModule(const char *name) {
  std::string file = name;
  size_t sep = file.find_last_of("\\/");
  bool explicitPath = file.find('/') != std::string::npos;
  if (!explicitPath && sep != std::string::npos) file = file.substr(sep + 1);
  if (file.size() > 4 && strcasecmp(file.c_str() + file.size() - 4, ".dll") == 0)
    file = file.substr(0, file.size() - 4) + ".so";
  else if (file.find('.') == std::string::npos)
    file += ".so";
  if (explicitPath) return file;
  for (const std::string &dir : {Directory(ProgramPath()), std::string(".")}) {
    std::string candidate = dir + "/" + file;
    if (access(candidate.c_str(), R_OK) == 0) return candidate;
  }
  return std::string();
}

DllEntry EntryOf(void *handle) { return reinterpret_cast<DllEntry>(dlsym(handle, "DllMain")); }

void DetachAtExit() {
  std::lock_guard<std::recursive_mutex> guard(g_loaderLock);
  for (Module &m : *g_modules) {
    if (DllEntry entry = EntryOf(m.handle))
      entry(reinterpret_cast<HINSTANCE>(m.handle), DLL_PROCESS_DETACH, reinterpret_cast<LPVOID>(1));
  }
  g_modules->clear();
}

}  // namespace

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> guard(g_loaderLock);
  std::string path = ResolveModule(fileName);
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  for (Module &m : *g_modules) {
    if (m.handle == handle) {
      ++m.references;
      dlclose(handle);  // keep one dlopen reference per loaded module
      return reinterpret_cast<HMODULE>(handle);
    }
  }
  if (!g_exitHookInstalled) {
    g_exitHookInstalled = true;
    atexit(DetachAtExit);
  }
  g_modules->push_back(Module{handle, path, 1});
  if (DllEntry entry = EntryOf(handle)) {
    if (!entry(reinterpret_cast<HINSTANCE>(handle), DLL_PROCESS_ATTACH, nullptr)) {
      g_modules->pop_back();
      dlclose(handle);
      SetLastError(1114);  // ERROR_DLL_INIT_FAILED
      return nullptr;
    }
  }
  return reinterpret_cast<HMODULE>(handle);
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  std::lock_guard<std::recursive_mutex> guard(g_loaderLock);
  for (size_t i = 0; i < g_modules->size(); ++i) {
    Module &m = (*g_modules)[i];
    if (m.handle != module) continue;
    if (--m.references == 0) {
      void *handle = m.handle;
      if (DllEntry entry = EntryOf(handle)) entry(module, DLL_PROCESS_DETACH, nullptr);
      g_modules->erase(g_modules->begin() + static_cast<long>(i));
      dlclose(handle);
    }
    return TRUE;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
  void *symbol = module ? dlsym(module, procName) : nullptr;
  if (!symbol) SetLastError(ERROR_PROC_NOT_FOUND);
  return reinterpret_cast<FARPROC>(symbol);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
  if (!moduleName) return reinterpret_cast<HMODULE>(0x00400000);  // the program's image base
  std::lock_guard<std::recursive_mutex> guard(g_loaderLock);
  std::string wanted = ResolveModule(moduleName);
  for (Module &m : *g_modules)
    if (m.path == wanted) return reinterpret_cast<HMODULE>(m.handle);
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  std::string path;
  {
    std::lock_guard<std::recursive_mutex> guard(g_loaderLock);
    if (!module || module == reinterpret_cast<HMODULE>(0x00400000)) {
      path = g_moduleFileName->empty() ? ProgramPath() : *g_moduleFileName;
    } else {
      for (Module &m : *g_modules)
        if (m.handle == module) path = m.path;
      if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
      }
    }
  }
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // As on Windows Vista and later: a path that does not fit is cut and terminated, and the result
  // is the buffer size with ERROR_INSUFFICIENT_BUFFER.
  if (path.size() >= size) {
    memcpy(fileName, path.data(), size - 1);
    fileName[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  memcpy(fileName, path.c_str(), path.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

}  // extern "C"

namespace winsim {

void SetModuleFileName(const char *path) {
  std::lock_guard<std::recursive_mutex> guard(g_loaderLock);
  *g_moduleFileName = path ? path : "";
}

}  // namespace winsim
