// winsim advapi32: the registry as an in-memory tree that tests fill through the ordinary calls.
#include <windows.h>

#include <inspect.h>

#include <strings.h>

#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace {

struct NoCase {
  bool operator()(const std::string &a, const std::string &b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};

struct Key {
  std::map<std::string, std::shared_ptr<Key>, NoCase> subKeys;
  std::map<std::string, std::pair<DWORD, std::string>, NoCase> values;
  bool deleted = false;
};

struct OpenKey {
  std::shared_ptr<Key> key;
  uintptr_t root;  // the predefined key it lies under
};

struct Registry {
  std::mutex lock;
  std::map<uintptr_t, std::shared_ptr<Key>> roots;
  std::map<uintptr_t, OpenKey> open;
  uintptr_t next = 0x2000;
  bool standardUser = false;
};

Registry &Reg() {
  static Registry *registry = new Registry;  // lives until the process ends
  return *registry;
}

bool IsRoot(HKEY key) { return reinterpret_cast<uintptr_t>(key) >= 0x80000000u; }

std::shared_ptr<Key> Resolve(Registry &r, HKEY key) {
  uintptr_t k = reinterpret_cast<uintptr_t>(key);
  if (IsRoot(key)) {
    std::shared_ptr<Key> &root = r.roots[k];
    if (!root) root = std::make_shared<Key>();
    return root;
  }
  auto it = r.open.find(k);
  return it == r.open.end() || it->second.key->deleted ? nullptr : it->second.key;
}

std::vector<std::string> Split(const char *path) {
  std::vector<std::string> parts;
  std::string part;
  for (const char *p = path ? path : ""; *p; ++p) {
    if (*p == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += *p;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

// The key below node that the parts name, or null when one of them is missing.
std::shared_ptr<Key> Descend(std::shared_ptr<Key> node, std::span<const std::string> parts) {
  for (const std::string &part : parts) {
    auto it = node->subKeys.find(part);
    if (it == node->subKeys.end()) return nullptr;
    node = it->second;
  }
  return node;
}

uintptr_t RootOf(Registry &r, HKEY key) {
  uintptr_t k = reinterpret_cast<uintptr_t>(key);
  if (IsRoot(key)) return k;
  auto it = r.open.find(k);
  return it == r.open.end() ? 0 : it->second.root;
}

HKEY NewHandle(Registry &r, std::shared_ptr<Key> key, HKEY parent) {
  uintptr_t root = RootOf(r, parent);
  r.next += 4;
  r.open[r.next] = {std::move(key), root};
  return reinterpret_cast<HKEY>(r.next);
}

const REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | 0x00010000 /*DELETE*/ |
                            0x00040000 /*WRITE_DAC*/ | 0x00080000 /*WRITE_OWNER*/;

// A standard user may read everything but open for writing only keys below HKEY_CURRENT_USER.
bool Denied(Registry &r, HKEY key, REGSAM desired) {
  if (!r.standardUser || !(desired & kWriteRights)) return false;
  return RootOf(r, key) != reinterpret_cast<uintptr_t>(HKEY_CURRENT_USER);
}

}  // namespace

extern "C" {

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM desired, PHKEY result) {
  Registry &r = Reg();
  std::lock_guard<std::mutex> guard(r.lock);
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::shared_ptr<Key> node = Resolve(r, key);
  if (!node) return ERROR_INVALID_HANDLE;
  node = Descend(node, Split(subKey));
  if (!node) return ERROR_FILE_NOT_FOUND;
  if (Denied(r, key, desired)) return ERROR_ACCESS_DENIED;
  *result = NewHandle(r, node, key);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM desired, LPSECURITY_ATTRIBUTES,
                               PHKEY result, LPDWORD disposition) {
  Registry &r = Reg();
  std::lock_guard<std::mutex> guard(r.lock);
  if (!result) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<Key> node = Resolve(r, key);
  if (!node) return ERROR_INVALID_HANDLE;
  bool created = false;
  for (const std::string &part : Split(subKey)) {
    std::shared_ptr<Key> &child = node->subKeys[part];
    if (!child) {
      if (Denied(r, key, KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
      child = std::make_shared<Key>();
      created = true;
    }
    node = child;
  }
  if (Denied(r, key, desired)) return ERROR_ACCESS_DENIED;
  if (disposition) *disposition = created ? 1 /*REG_CREATED_NEW_KEY*/ : 2 /*REG_OPENED_EXISTING_KEY*/;
  *result = NewHandle(r, node, key);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD dataSize) {
  Registry &r = Reg();
  std::lock_guard<std::mutex> guard(r.lock);
  if (reserved) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<Key> node = Resolve(r, key);
  if (!node) return ERROR_INVALID_HANDLE;
  auto it = node->values.find(valueName ? valueName : "");
  if (it == node->values.end()) return ERROR_FILE_NOT_FOUND;
  const std::string &bytes = it->second.second;
  if (type) *type = it->second.first;
  if (data) {
    if (!dataSize) return ERROR_INVALID_PARAMETER;
    if (*dataSize < bytes.size()) {
      *dataSize = static_cast<DWORD>(bytes.size());
      return ERROR_MORE_DATA;
    }
    std::copy(bytes.begin(), bytes.end(), data);
  }
  if (dataSize) *dataSize = static_cast<DWORD>(bytes.size());
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE *data, DWORD dataSize) {
  Registry &r = Reg();
  std::lock_guard<std::mutex> guard(r.lock);
  std::shared_ptr<Key> node = Resolve(r, key);
  if (!node) return ERROR_INVALID_HANDLE;
  node->values[valueName ? valueName : ""] = {type,
                                              std::string(reinterpret_cast<const char *>(data), data ? dataSize : 0)};
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  Registry &r = Reg();
  std::lock_guard<std::mutex> guard(r.lock);
  std::shared_ptr<Key> node = Resolve(r, key);
  if (!node) return ERROR_INVALID_HANDLE;
  std::vector<std::string> parts = Split(subKey);
  if (parts.empty()) return ERROR_INVALID_PARAMETER;
  node = Descend(node, std::span(parts).first(parts.size() - 1));
  if (!node) return ERROR_FILE_NOT_FOUND;
  auto it = node->subKeys.find(parts.back());
  if (it == node->subKeys.end()) return ERROR_FILE_NOT_FOUND;
  if (!it->second->subKeys.empty()) return ERROR_ACCESS_DENIED;  // as RegDeleteKey: leaves only
  it->second->deleted = true;
  node->subKeys.erase(it);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM, DWORD reserved) {
  if (reserved) return ERROR_INVALID_PARAMETER;
  return RegDeleteKeyA(key, subKey);
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  Registry &r = Reg();
  std::lock_guard<std::mutex> guard(r.lock);
  if (IsRoot(key)) return ERROR_SUCCESS;
  return r.open.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // extern "C"

namespace winsim {

void SetStandardUser(bool standard) {
  Registry &r = Reg();
  std::lock_guard<std::mutex> guard(r.lock);
  r.standardUser = standard;
}

}  // namespace winsim
