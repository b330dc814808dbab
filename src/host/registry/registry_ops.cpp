// The RegistryOps calls of the host build, over the bound machine's
// registry, with the results Win32 gives.
#include "core/registry_ops.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "host/registry/machine.h"

namespace RegistryOps {

using hostreg::Key;
using hostreg::KeyTree;
using hostreg::Machine;

namespace {

// The bound machine, when it has a registry.
Machine* WithRegistry() {
  Machine* machine = hostreg::BoundMachine();
  return machine == nullptr || machine->registry() == nullptr ? nullptr
                                                              : machine;
}

Key* ResolveKey(Machine* machine, HKEY handle) {
  return machine == nullptr ? nullptr : machine->handles()->Resolve(handle);
}

// The value's data as the query calls return it, by the registry's rules
// (kept in `read` when it differs from what is stored).
const std::string& DataRead(const Machine& machine, const hostreg::Value& value,
                            std::string& read) {
  const hostreg::StringRules rules = machine.registry()->stringRules();
  if (!hostreg::ReadsOtherwise(rules, value.type)) return value.data;
  read = hostreg::ReadData(rules, value.type, value.data);
  return read;
}

// Copies `data` out as the query calls do: ERROR_MORE_DATA and the size
// needed when it does not fit.
LONG CopyData(const std::string& data, LPBYTE out, LPDWORD size) {
  if (out != nullptr) {
    if (size == nullptr) return ERROR_INVALID_PARAMETER;
    if (data.size() > *size) {
      *size = static_cast<DWORD>(data.size());
      return ERROR_MORE_DATA;
    }
    std::memcpy(out, data.data(), data.size());
  }
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  Machine* machine = WithRegistry();
  Key* parent = ResolveKey(machine, key);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  const KeyTree& keys = machine->registry()->keys();
  Key* found = machine->handles()->LastEnumerated(key);
  if (found == nullptr || subKey == nullptr ||
      !hostreg::NamesEqual(keys.Name(*found), subKey))
    found = keys.FindPath(*parent, subKey == nullptr ? "" : subKey);
  if (found == nullptr) return ERROR_FILE_NOT_FOUND;
  *result = machine->handles()->Open(found);
  return ERROR_SUCCESS;
}

LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize) {
  Machine* machine = WithRegistry();
  if (ResolveKey(machine, key) == nullptr) return ERROR_INVALID_HANDLE;
  Key* subkey = machine->handles()->EnumSubkey(key, index);
  if (subkey == nullptr) return ERROR_NO_MORE_ITEMS;
  const std::string found =
      hostreg::AnsiName(machine->registry()->keys().Name(*subkey));
  if (name == nullptr || found.size() + 1 > nameSize) return ERROR_MORE_DATA;
  std::memcpy(name, found.c_str(), found.size() + 1);
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength,
                   LPDWORD reserved, LPDWORD type, LPBYTE data,
                   LPDWORD dataSize) {
  if (reserved != nullptr || nameLength == nullptr)
    return ERROR_INVALID_PARAMETER;
  Machine* machine = WithRegistry();
  Key* parent = ResolveKey(machine, key);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  const std::vector<hostreg::Value>& values =
      machine->registry()->values().Of(*parent);
  if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
  const hostreg::Value& value = values[index];
  const std::string shown = hostreg::AnsiName(value.name);
  if (name == nullptr || shown.size() + 1 > *nameLength)
    return ERROR_MORE_DATA;
  std::string buffer;
  const std::string& read = DataRead(*machine, value, buffer);
  if (const LONG result = CopyData(read, data, dataSize)) return result;
  std::memcpy(name, shown.c_str(), shown.size() + 1);
  *nameLength = static_cast<DWORD>(shown.size());
  if (type != nullptr) *type = value.type;
  if (dataSize != nullptr) *dataSize = static_cast<DWORD>(read.size());
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  if (reserved != nullptr) return ERROR_INVALID_PARAMETER;
  Machine* machine = WithRegistry();
  Key* parent = ResolveKey(machine, key);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  if (valueName == nullptr) valueName = "";
  machine->NoteValue(*parent, valueName, false);
  const hostreg::Value* value =
      machine->registry()->values().Find(*parent, valueName);
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  std::string buffer;
  const std::string& read = DataRead(*machine, *value, buffer);
  if (const LONG result = CopyData(read, data, dataSize)) return result;
  if (type != nullptr) *type = value->type;
  if (dataSize != nullptr) *dataSize = static_cast<DWORD>(read.size());
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                    const BYTE* data, DWORD dataSize) {
  if (reserved != 0) return ERROR_INVALID_PARAMETER;
  if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
  Machine* machine = WithRegistry();
  Key* parent = ResolveKey(machine, key);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  if (valueName == nullptr) valueName = "";
  const hostreg::StringRules rules = machine->registry()->stringRules();
  // Windows 9x takes a string's length from the string itself, so it needs
  // one (Wine's tests record the error).
  if (data == nullptr && hostreg::ReadsOtherwise(rules, type))
    return ERROR_INVALID_PARAMETER;
  machine->NoteValue(*parent, valueName, true);
  const std::string bytes = hostreg::StoredData(
      rules, type,
      std::string_view(reinterpret_cast<const char*>(data), dataSize));
  machine->registry()->values().Set(*parent, valueName, type, bytes);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  Machine* machine = WithRegistry();
  const Key* closed = nullptr;
  if (machine == nullptr || !machine->handles()->Close(key, &closed))
    return ERROR_INVALID_HANDLE;
  // Once the last handle on a key is gone, a walk is past it.
  if (closed != nullptr && !machine->handles()->IsOpen(*closed))
    machine->registry()->values().Release(*closed);
  return ERROR_SUCCESS;
}

int lstrcmpiA(LPCSTR a, LPCSTR b) { return hostreg::CompareNames(a, b); }

LPSTR lstrcatA(LPSTR dest, LPCSTR suffix) {
  std::memcpy(dest + std::strlen(dest), suffix, std::strlen(suffix) + 1);
  return dest;
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  if (Machine* machine = hostreg::BoundMachine())
    machine->ShowAbout(text, caption, type);
  else
    Machine(nullptr).ShowAbout(text, caption, type);
  return 1;  // IDOK
}

}  // namespace RegistryOps
