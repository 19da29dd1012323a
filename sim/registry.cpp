// The registry of the simulated machine: the key tree with its predefined
// roots, the Reg* calls, the standard keys of each version, the control
// functions for tests, and the REGEDIT4 listing.
//
// HKEY_LOCAL_MACHINE and HKEY_USERS hold every key; the other predefined
// roots are views into them. Names compare without regard to case and keep
// the case they were created with. Values keep creation order; subkeys are
// sorted by name on the NT family and keep creation order on the 9x family.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "registry.h"
#include "security.h"

namespace sim {

namespace {

const size_t kMaxKeyNameLength = 255;

// Every right a handle to a key can hold.
const DWORD kAllKeyRights = KEY_ALL_ACCESS;

std::string ValueName(const char* name) { return name ? std::string(name) : std::string(); }

// The data of a value as trace text: its bytes, quoted and escaped.
std::string DataArg(const BYTE* data, DWORD size) {
  if (!data) return "NULL";
  return "\"" + text::Escape(std::string(reinterpret_cast<const char*>(data), size), false) + "\"";
}

// The key a handle or predefined root stands for, with the rights the handle
// holds and its path for new handles.
LONG ResolveKey(HKEY hKey, Key** key, std::string* path, DWORD* rights) {
  if (PredefinedRootName(hKey)) {
    std::vector<Key*> chain;
    if (!RootChain(hKey, &chain, path)) return ERROR_INVALID_HANDLE;
    *key = chain.back();
    // Predefined handles are opened with the most the user may have.
    *rights = GrantedRights(**key);
    return ERROR_SUCCESS;
  }
  HandleObject* handle = GetHandle(reinterpret_cast<uintptr_t>(hKey), HandleKind::Key);
  if (!handle) return ERROR_INVALID_HANDLE;
  if (!handle->key) return ERROR_KEY_DELETED;
  *key = handle->key;
  *path = handle->path;
  *rights = handle->access;
  return ERROR_SUCCESS;
}

// Rights a handle opened with the given access holds.
DWORD HandleRights(const Key& key, DWORD desired) {
  if (desired & 0x02000000) return GrantedRights(key);  // MAXIMUM_ALLOWED
  return MapKeyRights(desired) & kAllKeyRights;
}

HKEY NewKeyHandle(Key* key, const std::string& path, DWORD rights) {
  HandleObject object;
  object.kind = HandleKind::Key;
  object.key = key;
  object.path = path;
  object.access = rights;
  return reinterpret_cast<HKEY>(NewHandle(object));
}

// The subkeys with their upper-cased names, in the order of those names.
std::vector<std::pair<const std::string*, Key*>> SubkeysByName(const Key& key) {
  std::vector<std::pair<const std::string*, Key*>> sorted;
  sorted.reserve(key.subkeys.size());
  for (const auto& entry : key.subkeys) sorted.emplace_back(&entry.first, entry.second.get());
  std::sort(sorted.begin(), sorted.end(),
            [](const auto& a, const auto& b) { return *a.first < *b.first; });
  return sorted;
}

void RemoveSubkey(Key* parent, const std::string& upperName) {
  auto it = parent->subkeys.find(upperName);
  if (it == parent->subkeys.end()) return;
  const Key* removed = it->second.get();
  ForgetRemovedKeys(it->second.get());
  NoteKeyChange(parent);
  // The index order loses one entry: the others keep their order. It is
  // looked for from the end, where a tree is deleted from (the last index
  // first), so that deleting a large tree stays linear.
  std::vector<Key*>& order = parent->subkeyOrder;
  if (!parent->subkeyOrderStale)
    order.erase(std::find(order.rbegin(), order.rend(), removed).base() - 1);
  parent->subkeys.erase(it);
}

void CollectKeys(Key* key, std::unordered_set<Key*>* keys) {
  keys->insert(key);
  for (auto& entry : key->subkeys) CollectKeys(entry.second.get(), keys);
}

void SetValue(Key* key, const std::string& name, DWORD type, const std::string& data) {
  auto at = key->valuePlaces.emplace(Upper(name), key->values.size());
  if (at.second) key->values.emplace_back(name, Value());
  Value& value = key->values[at.first->second].second;
  value.type = type;
  value.data = data;
  NoteKeyChange(key);
}

// The key below root at path, made with every missing key above it.
Key* MakeKey(HKEY root, const std::string& path) {
  std::vector<Key*> chain;
  std::vector<std::string> names;
  if (!RootChain(root, &chain, nullptr) || !SplitKeyPath(path.c_str(), &names)) return nullptr;
  Key* key = chain.back();
  for (const std::string& name : names) {
    auto it = key->subkeys.find(Upper(name));
    key = it != key->subkeys.end() ? it->second.get() : AddSubkey(key, name);
  }
  return key;
}

Key* LookUpKey(HKEY root, const std::string& path) {
  std::vector<Key*> chain;
  std::vector<std::string> names;
  if (!RootChain(root, &chain, nullptr) || !SplitKeyPath(path.c_str(), &names) ||
      !WalkChain(&chain, names)) {
    return nullptr;
  }
  return chain.back();
}

// -------------------------------------------------------- REGEDIT4 listing

std::string ValueLine(const std::string& name, const Value& value) {
  std::string line;
  if (name.empty()) {
    line = "@=";
  } else {
    line = "\"";
    for (char c : name) {
      if (c == '\\' || c == '"') line += '\\';
      line += c;
    }
    line += "\"=";
  }
  const std::string& data = value.data;
  // Text only when the bytes are exactly the text and one zero.
  if (value.type == REG_SZ && !data.empty() && data.back() == '\0' &&
      data.find('\0') == data.size() - 1) {
    line += "\"";
    for (size_t i = 0; i + 1 < data.size(); ++i) {
      if (data[i] == '\\' || data[i] == '"') line += '\\';
      line += data[i];
    }
    return line + "\"";
  }
  if (value.type == REG_DWORD && data.size() == 4) {
    DWORD number;
    std::memcpy(&number, data.data(), 4);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", number);
    return line + buf;
  }
  if (value.type == REG_BINARY) return line + "hex:" + text::HexBytes(data, ",");
  char prefix[24];
  std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
  return line + prefix + text::HexBytes(data, ",");
}

// Keys in name order, so that listings of machines built in another order
// compare equal.
void ListKey(const Key& key, const std::string& path, std::string* out) {
  *out += "\n[" + path + "]\n";
  for (const auto& value : key.values) *out += ValueLine(value.first, value.second) + "\n";
  for (const auto& entry : SubkeysByName(key)) {
    ListKey(*entry.second, path + "\\" + entry.second->name, out);
  }
}

// ------------------------------------------------------ the standard keys

Ace Allow(DWORD mask, const char* sid, BYTE flags = CONTAINER_INHERIT_ACE) {
  Ace ace;
  ace.type = ACCESS_ALLOWED_ACE_TYPE;
  ace.flags = flags;
  ace.mask = mask;
  ace.sid = sid;
  return ace;
}

void SetExplicit(Key* key, const std::string& owner, bool isProtected, std::vector<Ace> dacl) {
  key->security.owner = owner;
  key->security.daclPresent = true;
  key->security.isProtected = isProtected;
  key->security.dacl = std::move(dacl);
  NoteKeyChange(key);
  PropagateInheritance(key);
}

// Below a key made by ResetRegistry: the owner of the standard keys.
void SetOwnerBelow(Key* key, const std::string& owner) {
  key->security.owner = owner;
  NoteKeyChange(key);
  for (auto& entry : key->subkeys) SetOwnerBelow(entry.second.get(), owner);
}

const char* const kOtherUserSid = "S-1-5-21-1801674531-1482476501-725345543-1004";
const char* const kNtUserSid = "S-1-5-21-1801674531-1482476501-725345543-1003";

}  // namespace

// ------------------------------------------------------------ shared

bool SplitKeyPath(const char* path, std::vector<std::string>* names) {
  names->clear();
  if (!path) return true;
  if (path[0] == '\\') return false;
  std::string name;
  for (const char* p = path;; ++p) {
    if (*p == '\\' || *p == '\0') {
      if (!name.empty()) names->push_back(name);
      name.clear();
      if (*p == '\0') break;
    } else {
      name += *p;
    }
  }
  return true;
}

const char* PredefinedRootName(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (key == HKEY_USERS) return "HKEY_USERS";
  if (key == HKEY_CURRENT_CONFIG) return "HKEY_CURRENT_CONFIG";
  return nullptr;
}

std::string KeyArg(HKEY key) {
  if (const char* name = PredefinedRootName(key)) return name;
  if (!key) return "NULL";
  const uintptr_t value = reinterpret_cast<uintptr_t>(key);
  if (const HandleObject* handle = GetHandle(value, HandleKind::Key)) {
    return "[" + handle->path + "]";
  }
  return Hex(value);
}

bool RootChain(HKEY root, std::vector<Key*>* chain, std::string* path) {
  Machine& m = M();
  chain->clear();
  std::vector<std::string> below;
  if (root == HKEY_LOCAL_MACHINE || root == HKEY_CLASSES_ROOT || root == HKEY_CURRENT_CONFIG) {
    chain->push_back(&m.hklm);
    if (root == HKEY_CLASSES_ROOT) below = {"SOFTWARE", "Classes"};
    if (root == HKEY_CURRENT_CONFIG) {
      below = IsNtFamily() ? std::vector<std::string>{"SYSTEM", "CurrentControlSet",
                                                      "Hardware Profiles", "Current"}
                           : std::vector<std::string>{"Config", "0001"};
    }
  } else if (root == HKEY_USERS || root == HKEY_CURRENT_USER) {
    chain->push_back(&m.hku);
    if (root == HKEY_CURRENT_USER) below = {m.userSid};
  } else {
    return false;
  }
  if (path) *path = PredefinedRootName(root);
  return WalkChain(chain, below);
}

bool WalkChain(std::vector<Key*>* chain, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    Key* key = chain->back();
    auto it = key->subkeys.find(Upper(name));
    if (it == key->subkeys.end()) return false;
    chain->push_back(it->second.get());
  }
  return true;
}

void ForgetRemovedKeys(Key* subtreeTop) {
  std::unordered_set<Key*> removed;
  CollectKeys(subtreeTop, &removed);
  for (auto& entry : M().handles) {
    HandleObject& handle = entry.second;
    if (handle.kind == HandleKind::Key && removed.count(handle.key)) handle.key = nullptr;
  }
}

void NoteKeyChange(Key* key) {
  static uint64_t serial = 0;
  ++serial;
  for (; key; key = key->parent) key->changed = serial;
}

const Value* FindValue(const Key& key, const std::string& name) {
  auto at = key.valuePlaces.find(Upper(name));
  return at == key.valuePlaces.end() ? nullptr : &key.values[at->second].second;
}

bool RemoveValue(Key* key, const std::string& name) {
  auto at = key->valuePlaces.find(Upper(name));
  if (at == key->valuePlaces.end()) return false;
  // The values after it move up one place: the index order closes up.
  const size_t place = at->second;
  key->valuePlaces.erase(at);
  key->values.erase(key->values.begin() + static_cast<std::ptrdiff_t>(place));
  for (auto& entry : key->valuePlaces) {
    if (entry.second > place) --entry.second;
  }
  NoteKeyChange(key);
  return true;
}

uint64_t RegistryMark() {
  Machine& m = M();
  return std::max(m.hklm.changed, m.hku.changed);
}

Key* AddSubkey(Key* parent, const std::string& name) {
  static uint64_t serial = 0;
  std::unique_ptr<Key> key(new Key());
  key->name = name;
  key->parent = parent;
  key->made = ++serial;
  key->security = NewKeySecurity(*parent);
  Key* added = key.get();
  std::string upper = Upper(name);
  // The NT family enumerates a key's subkeys sorted by their upper-cased
  // names; the 9x family in the order in which they were made. Either way
  // a new key that comes last in that order extends the index order; any
  // other leaves it to be made afresh.
  const std::vector<Key*>& order = parent->subkeyOrder;
  const bool last = Is9x(M().version) || order.empty() || Upper(order.back()->name) < upper;
  parent->subkeys.insert_or_assign(std::move(upper), std::move(key));
  NoteKeyChange(added);
  if (parent->subkeyOrderStale || !last) {
    parent->subkeyOrderStale = true;
    parent->subkeyOrder.clear();
  } else {
    parent->subkeyOrder.push_back(added);
  }
  return added;
}

const std::vector<Key*>& SubkeysInOrder(const Key& key) {
  if (!key.subkeyOrderStale) return key.subkeyOrder;
  std::vector<Key*>& order = key.subkeyOrder;
  order.clear();
  if (Is9x(M().version)) {
    order.reserve(key.subkeys.size());
    for (const auto& entry : key.subkeys) order.push_back(entry.second.get());
    std::sort(order.begin(), order.end(),
              [](const Key* a, const Key* b) { return a->made < b->made; });
  } else {
    for (const auto& entry : SubkeysByName(key)) order.push_back(entry.second);
  }
  key.subkeyOrderStale = false;
  return order;
}

Key* RootKey(HKEY root, std::string* rootName) {
  std::string path;
  if (PredefinedRootName(root)) {
    std::vector<Key*> chain;
    if (!RootChain(root, &chain, &path)) return nullptr;
    if (rootName) *rootName = path;
    return chain.back();
  }
  HandleObject* handle = GetHandle(reinterpret_cast<uintptr_t>(root), HandleKind::Key);
  if (!handle) return nullptr;
  if (rootName) *rootName = handle->path;
  return handle->key;
}

Key* FindKey(Key* base, const std::string& path) {
  std::vector<std::string> names;
  if (!base || !SplitKeyPath(path.c_str(), &names)) return nullptr;
  std::vector<Key*> chain = {base};
  return WalkChain(&chain, names) ? chain.back() : nullptr;
}

// ------------------------------------------------------- control interface

void RegPutKey(HKEY root, const std::string& key) { MakeKey(root, key); }

void RegPut(HKEY root, const std::string& key, const std::string& name, DWORD type,
            const std::string& data) {
  if (Key* k = MakeKey(root, key)) SetValue(k, name, type, data);
}

void RegPutString(HKEY root, const std::string& key, const std::string& name,
                  const std::string& text) {
  RegPut(root, key, name, REG_SZ, StringOf(text.c_str()));
}

void RegPutDword(HKEY root, const std::string& key, const std::string& name, DWORD number) {
  RegPut(root, key, name, REG_DWORD, DwordOf(number));
}

bool RegGet(HKEY root, const std::string& key, const std::string& name, Value* out) {
  const Key* k = LookUpKey(root, key);
  if (!k) return false;
  const Value* value = FindValue(*k, name);
  if (value && out) *out = *value;
  return value != nullptr;
}

bool RegKeyExists(HKEY root, const std::string& key) { return LookUpKey(root, key) != nullptr; }

std::vector<std::string> RegSubkeys(HKEY root, const std::string& key) {
  std::vector<std::string> names;
  if (const Key* k = LookUpKey(root, key)) {
    for (const Key* subkey : SubkeysInOrder(*k)) names.push_back(subkey->name);
  }
  return names;
}

std::vector<std::string> RegValueNames(HKEY root, const std::string& key) {
  std::vector<std::string> names;
  if (const Key* k = LookUpKey(root, key)) {
    for (const auto& value : k->values) names.push_back(value.first);
  }
  return names;
}

void RegRemoveKey(HKEY root, const std::string& key) {
  std::vector<Key*> chain;
  std::vector<std::string> names;
  if (!RootChain(root, &chain, nullptr) || !SplitKeyPath(key.c_str(), &names) || names.empty() ||
      !WalkChain(&chain, names)) {
    return;
  }
  RemoveSubkey(chain[chain.size() - 2], Upper(chain.back()->name));
}

void WalkRegistry(HKEY root, bool withSecurity, const std::function<void(KeyRecord&)>& visit,
                  uint64_t mark) {
  Key* top = RootKey(root, nullptr);
  if (!top) return;
  // The keys still to visit, with their paths; the depth of the tree costs
  // no stack.
  std::vector<std::pair<const Key*, std::string>> pending = {{top, std::string()}};
  while (!pending.empty()) {
    const Key* key = pending.back().first;
    KeyRecord record;
    record.path = std::move(pending.back().second);
    pending.pop_back();
    if (mark && key->changed <= mark) {
      record.unchanged = true;
      visit(record);
      continue;
    }
    record.values = key->values;
    if (withSecurity) record.security = &key->security;
    const std::vector<Key*>& subkeys = SubkeysInOrder(*key);
    for (auto sub = subkeys.rbegin(); sub != subkeys.rend(); ++sub) {
      pending.emplace_back(*sub,
                           record.path.empty() ? (*sub)->name : record.path + "\\" + (*sub)->name);
    }
    visit(record);
  }
}

namespace {

// Each key of both trees with its full path; from a mark, as WalkRegistry.
void EachKey(uint64_t mark,
             const std::function<void(const std::string&, const KeyRecord&)>& visit) {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_USERS}) {
    const std::string name = PredefinedRootName(root);
    WalkRegistry(
        root, true, [&](KeyRecord& r) { visit(r.path.empty() ? name : name + "\\" + r.path, r); },
        mark);
  }
}

std::map<std::string, std::string> KeyStates() {
  std::map<std::string, std::string> keys;
  EachKey(0, [&](const std::string& path, const KeyRecord& r) {
    std::string& state = keys[path];
    for (const auto& value : r.values) state += ValueLine(value.first, value.second) + "\n";
    state += SecurityText(*r.security);
  });
  return keys;
}

}  // namespace

RegistryAtMark TakeRegistryAtMark() { return {RegistryMark(), KeyStates()}; }

std::string ChangedBehindMark(const RegistryAtMark& at) {
  const std::map<std::string, std::string> now = KeyStates();
  std::string changed;
  EachKey(at.mark, [&](const std::string& top, const KeyRecord& r) {
    if (!r.unchanged || !changed.empty()) return;
    auto tree = [&](const std::map<std::string, std::string>& keys) {
      std::vector<std::pair<std::string, std::string>> below;
      for (auto it = keys.lower_bound(top);
           it != keys.end() && it->first.compare(0, top.size(), top) == 0; ++it) {
        if (it->first.size() == top.size() || it->first[top.size()] == '\\') below.push_back(*it);
      }
      return below;
    };
    if (tree(at.keys) != tree(now)) changed = top;
  });
  return changed;
}

std::string CurrentUserSid() { return M().userSid; }

std::string StringOf(const char* text) { return std::string(text ? text : "") + '\0'; }

std::string DwordOf(DWORD number) {
  std::string bytes(4, '\0');
  std::memcpy(&bytes[0], &number, 4);
  return bytes;
}

std::string RegistryText(HKEY root, const std::string& key) {
  std::string out = "REGEDIT4\n";
  if (!root) {
    ListKey(M().hklm, "HKEY_LOCAL_MACHINE", &out);
    ListKey(M().hku, "HKEY_USERS", &out);
    return out;
  }
  std::string path;
  std::vector<Key*> chain;
  std::vector<std::string> names;
  if (!RootChain(root, &chain, &path) || !SplitKeyPath(key.c_str(), &names) ||
      !WalkChain(&chain, names)) {
    return out;
  }
  for (size_t i = 0; i < names.size(); ++i)
    path += "\\" + chain[chain.size() - names.size() + i]->name;
  ListKey(*chain.back(), path, &out);
  return out;
}

// ------------------------------------------------------ the standard keys

void ResetRegistry(Machine& m) {
  // Keys of the last machine go, and handles to them with them.
  for (auto& entry : m.handles) {
    if (entry.second.kind == HandleKind::Key) entry.second.key = nullptr;
  }
  m.hklm = Key();
  m.hku = Key();
  m.hklm.name = "HKEY_LOCAL_MACHINE";
  m.hku.name = "HKEY_USERS";
  NoteKeyChange(&m.hklm);
  NoteKeyChange(&m.hku);
  const bool nt = !Is9x(m.version);
  m.userSid = nt ? kNtUserSid : "user";
  // An administrator, as set-up programs are run.
  m.userGroups = {kSidAdministrators, kSidUsers, kSidInteractive, kSidAuthenticatedUsers};

  if (nt) {
    // The roots' lists; everything made below inherits from them.
    SetExplicit(&m.hklm, kSidAdministrators, false,
                {Allow(KEY_ALL_ACCESS, kSidAdministrators), Allow(KEY_ALL_ACCESS, kSidLocalSystem),
                 Allow(KEY_READ, kSidUsers)});
    SetExplicit(&m.hku, kSidAdministrators, false,
                {Allow(KEY_ALL_ACCESS, kSidAdministrators), Allow(KEY_ALL_ACCESS, kSidLocalSystem),
                 Allow(KEY_READ, kSidEveryone)});
    for (const char* key :
         {"SOFTWARE\\Classes", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
          "SYSTEM\\CurrentControlSet\\Control\\Class",
          "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
          "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current",
          "SYSTEM\\CurrentControlSet\\Services", "SYSTEM\\CurrentControlSet\\Enum\\Root"}) {
      RegPutKey(HKEY_LOCAL_MACHINE, key);
    }
    RegPut(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", "BootExecute",
           REG_MULTI_SZ, std::string("autocheck autochk *\0\0", 21));
    // The device tree belongs to the system: everyone may read it,
    // administrators may only change its lists.
    Key* enumKey = LookUpKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum");
    SetOwnerBelow(enumKey, kSidLocalSystem);
    SetExplicit(enumKey, kSidLocalSystem, true,
                {Allow(KEY_ALL_ACCESS, kSidLocalSystem), Allow(KEY_READ, kSidEveryone),
                 Allow(READ_CONTROL | WRITE_DAC, kSidAdministrators)});

    MakeKey(HKEY_USERS, ".DEFAULT\\Software");
    SetExplicit(LookUpKey(HKEY_USERS, ".DEFAULT"), kSidLocalSystem, true,
                {Allow(KEY_ALL_ACCESS, kSidLocalSystem), Allow(KEY_ALL_ACCESS, kSidAdministrators),
                 Allow(KEY_READ, kSidUsers)});
    for (const char* sid : {kNtUserSid, kOtherUserSid}) {
      Key* user = MakeKey(HKEY_USERS, sid);
      SetExplicit(user, sid, true,
                  {Allow(KEY_ALL_ACCESS, sid), Allow(KEY_ALL_ACCESS, kSidLocalSystem),
                   Allow(KEY_ALL_ACCESS, kSidAdministrators)});
      MakeKey(HKEY_USERS, std::string(sid) + "\\Software");
      SetOwnerBelow(user, sid);
    }
  } else {
    for (const char* key :
         {"Config\\0001", "Enum\\Root", "Software\\Classes",
          "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
          "System\\CurrentControlSet\\Services\\Class", "System\\CurrentControlSet\\Services\\VxD",
          "System\\CurrentControlSet\\control\\SessionManager"}) {
      RegPutKey(HKEY_LOCAL_MACHINE, key);
    }
    RegPutKey(HKEY_USERS, ".DEFAULT\\Software");
    RegPutKey(HKEY_USERS, "user\\Software");
  }
}

}  // namespace sim

// ------------------------------------------------------------ Win32 calls

using namespace sim;

namespace {

// The start that the Reg* calls on a key share: the call is recorded (and at
// a power loss stops the process there), the fault plan may refuse it, the
// required arguments must be given, the handle must stand for a key, and on
// the NT family the handle must hold the right the call needs.
class KeyCall {
 public:
  KeyCall(const char* function, std::string args) : rec_(function, std::move(args)) {}

  // ERROR_SUCCESS when the call may go on with key, path and rights;
  // otherwise the status to return.
  LONG Begin(HKEY hKey, bool argumentsPresent = true, DWORD neededRight = 0) {
    if (rec_.ShouldFail()) return ERROR_ACCESS_DENIED;
    if (!argumentsPresent) return ERROR_INVALID_PARAMETER;
    const LONG resolved = ResolveKey(hKey, &key, &path, &rights);
    if (resolved != ERROR_SUCCESS) return resolved;
    if (neededRight && IsNtFamily() && !(rights & neededRight)) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
  }
  LSTATUS Return(LONG status) { return rec_.Return(LSTATUS(status)); }

  Key* key = nullptr;
  std::string path;
  DWORD rights = 0;

 private:
  CallRecord rec_;
};

}  // namespace

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
  KeyCall call("RegCreateKeyExA", KeyArg(hKey) + ", " + Quote(lpSubKey) + ", " +
                                      std::to_string(Reserved) + ", " + Quote(lpClass) + ", " +
                                      std::to_string(dwOptions) + ", " + Hex(samDesired) + ", " +
                                      PointerArg(lpSecurityAttributes) + ", " +
                                      PointerArg(phkResult) + ", " + PointerArg(lpdwDisposition));
  if (LONG e = call.Begin(hKey, phkResult != nullptr)) return call.Return(e);
  Key* key = call.key;
  std::string path = call.path;
  DWORD rights = 0;
  std::vector<std::string> names;
  if (!SplitKeyPath(lpSubKey, &names)) return call.Return(ERROR_BAD_PATHNAME);
  for (const std::string& name : names) {
    if (name.size() > kMaxKeyNameLength) return call.Return(ERROR_MORE_DATA);
  }

  // Down through the keys that exist; the first missing one needs the right
  // to create subkeys on its parent, the keys made below it are the
  // caller's own.
  size_t i = 0;
  for (; i < names.size(); ++i) {
    auto it = key->subkeys.find(Upper(names[i]));
    if (it == key->subkeys.end()) break;
    key = it->second.get();
    path += "\\" + key->name;
  }
  DWORD disposition = REG_OPENED_EXISTING_KEY;
  if (i < names.size()) {
    if (!MayAccess(*key, KEY_CREATE_SUB_KEY)) return call.Return(ERROR_ACCESS_DENIED);
    for (; i < names.size(); ++i) {
      key = AddSubkey(key, names[i]);
      path += "\\" + key->name;
    }
    disposition = REG_CREATED_NEW_KEY;
    rights = HandleRights(*key, samDesired);
  } else {
    if (!MayAccess(*key, samDesired)) return call.Return(ERROR_ACCESS_DENIED);
    rights = HandleRights(*key, samDesired);
  }
  *phkResult = NewKeyHandle(key, path, rights);
  if (lpdwDisposition) *lpdwDisposition = disposition;
  return call.Return(ERROR_SUCCESS);
}

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult) {
  KeyCall call("RegOpenKeyExA", KeyArg(hKey) + ", " + Quote(lpSubKey) + ", " +
                                    std::to_string(ulOptions) + ", " + Hex(samDesired) + ", " +
                                    PointerArg(phkResult));
  if (LONG e = call.Begin(hKey, phkResult != nullptr)) return call.Return(e);
  Key* key = call.key;
  std::string path = call.path;
  std::vector<std::string> names;
  if (!SplitKeyPath(lpSubKey, &names)) return call.Return(ERROR_BAD_PATHNAME);
  // No subkey on a predefined root: the root's own handle.
  if (names.empty() && PredefinedRootName(hKey)) {
    *phkResult = hKey;
    return call.Return(ERROR_SUCCESS);
  }
  for (const std::string& name : names) {
    auto it = key->subkeys.find(Upper(name));
    if (it == key->subkeys.end()) return call.Return(ERROR_FILE_NOT_FOUND);
    key = it->second.get();
    path += "\\" + key->name;
  }
  if (!MayAccess(*key, samDesired)) return call.Return(ERROR_ACCESS_DENIED);
  *phkResult = NewKeyHandle(key, path, HandleRights(*key, samDesired));
  return call.Return(ERROR_SUCCESS);
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                              CONST BYTE* lpData, DWORD cbData) {
  KeyCall call("RegSetValueExA", KeyArg(hKey) + ", " + Quote(lpValueName) + ", " +
                                     std::to_string(Reserved) + ", " + std::to_string(dwType) +
                                     ", " + DataArg(lpData, cbData) + ", " +
                                     std::to_string(cbData));
  if (LONG e = call.Begin(hKey, true, KEY_SET_VALUE)) return call.Return(e);
  Key* key = call.key;
  if (!lpData && cbData) return call.Return(ERROR_NOACCESS);
  // The bytes exactly as given: nothing is added to text that lacks its zero.
  SetValue(key, ValueName(lpValueName), dwType,
           std::string(reinterpret_cast<const char*>(lpData), lpData ? cbData : 0));
  return call.Return(ERROR_SUCCESS);
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
  KeyCall call("RegQueryValueExA",
               KeyArg(hKey) + ", " + Quote(lpValueName) + ", " + PointerArg(lpReserved) + ", " +
                   PointerArg(lpType) + ", " + PointerArg(lpData) + ", " +
                   (lpcbData ? std::to_string(*lpcbData) : std::string("NULL")));
  if (LONG e = call.Begin(hKey, true, KEY_QUERY_VALUE)) return call.Return(e);
  Key* key = call.key;
  if (lpReserved || (lpData && !lpcbData)) return call.Return(ERROR_INVALID_PARAMETER);
  const Value* found = FindValue(*key, ValueName(lpValueName));
  if (!found) return call.Return(ERROR_FILE_NOT_FOUND);
  const Value& value = *found;
  if (lpType) *lpType = value.type;
  if (lpcbData) {
    const DWORD size = static_cast<DWORD>(value.data.size());
    if (lpData && *lpcbData < size) {
      *lpcbData = size;
      return call.Return(ERROR_MORE_DATA);
    }
    if (lpData && size) std::memcpy(lpData, value.data.data(), size);
    *lpcbData = size;
  }
  return call.Return(ERROR_SUCCESS);
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  CallRecord rec("RegCloseKey", KeyArg(hKey));
  if (PredefinedRootName(hKey)) return rec.Return(LSTATUS(ERROR_SUCCESS));
  const uintptr_t handle = reinterpret_cast<uintptr_t>(hKey);
  if (!GetHandle(handle, HandleKind::Key)) return rec.Return(LSTATUS(ERROR_INVALID_HANDLE));
  ReleaseHandle(handle);
  return rec.Return(LSTATUS(ERROR_SUCCESS));
}

LSTATUS WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                                LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
  KeyCall call("RegQueryInfoKeyA",
               KeyArg(hKey) + ", " + PointerArg(lpClass) + ", " + PointerArg(lpcchClass) + ", " +
                   PointerArg(lpReserved) + ", " + PointerArg(lpcSubKeys) + ", " +
                   PointerArg(lpcbMaxSubKeyLen) + ", " + PointerArg(lpcbMaxClassLen) + ", " +
                   PointerArg(lpcValues) + ", " + PointerArg(lpcbMaxValueNameLen) + ", " +
                   PointerArg(lpcbMaxValueLen) + ", " + PointerArg(lpcbSecurityDescriptor) + ", " +
                   PointerArg(lpftLastWriteTime));
  if (LONG e = call.Begin(hKey, true, KEY_QUERY_VALUE)) return call.Return(e);
  Key* key = call.key;
  if (lpReserved || (lpClass && !lpcchClass)) return call.Return(ERROR_INVALID_PARAMETER);
  // Keys have no class here: the empty text.
  if (lpClass && lpcchClass) {
    if (*lpcchClass < 1) return call.Return(ERROR_MORE_DATA);
    lpClass[0] = '\0';
  }
  if (lpcchClass) *lpcchClass = 0;
  if (lpcSubKeys) *lpcSubKeys = static_cast<DWORD>(key->subkeys.size());
  if (lpcbMaxSubKeyLen) {
    size_t longest = 0;
    for (const auto& entry : key->subkeys) longest = std::max(longest, entry.second->name.size());
    *lpcbMaxSubKeyLen = static_cast<DWORD>(longest);
  }
  if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
  if (lpcValues) *lpcValues = static_cast<DWORD>(key->values.size());
  if (lpcbMaxValueNameLen || lpcbMaxValueLen) {
    size_t longestName = 0;
    size_t longestData = 0;
    for (const auto& value : key->values) {
      longestName = std::max(longestName, value.first.size());
      longestData = std::max(longestData, value.second.data.size());
    }
    if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = static_cast<DWORD>(longestName);
    if (lpcbMaxValueLen) *lpcbMaxValueLen = static_cast<DWORD>(longestData);
  }
  if (lpcbSecurityDescriptor) {
    *lpcbSecurityDescriptor = IsNtFamily() ? SecurityDescriptorSize(key->security) : 0;
  }
  if (lpftLastWriteTime) {
    lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(key->lastWrite);
    lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(key->lastWrite >> 32);
  }
  return call.Return(ERROR_SUCCESS);
}

LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                             LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                             PFILETIME lpftLastWriteTime) {
  KeyCall call("RegEnumKeyExA",
               KeyArg(hKey) + ", " + std::to_string(dwIndex) + ", " + PointerArg(lpName) + ", " +
                   (lpcchName ? std::to_string(*lpcchName) : std::string("NULL")) + ", " +
                   PointerArg(lpReserved) + ", " + PointerArg(lpClass) + ", " +
                   PointerArg(lpcchClass) + ", " + PointerArg(lpftLastWriteTime));
  if (LONG e = call.Begin(hKey, true, KEY_ENUMERATE_SUB_KEYS)) return call.Return(e);
  Key* key = call.key;
  if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass)) {
    return call.Return(ERROR_INVALID_PARAMETER);
  }
  const std::vector<Key*>& order = SubkeysInOrder(*key);
  if (dwIndex >= order.size()) return call.Return(ERROR_NO_MORE_ITEMS);
  const Key& subkey = *order[dwIndex];
  const std::string& name = subkey.name;
  if (name.size() >= *lpcchName) return call.Return(ERROR_MORE_DATA);
  std::memcpy(lpName, name.c_str(), name.size() + 1);
  *lpcchName = static_cast<DWORD>(name.size());
  if (lpClass && lpcchClass) {
    if (*lpcchClass >= 1) lpClass[0] = '\0';
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime) {
    lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(subkey.lastWrite);
    lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(subkey.lastWrite >> 32);
  }
  return call.Return(ERROR_SUCCESS);
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  KeyCall call("RegDeleteKeyA", KeyArg(hKey) + ", " + Quote(lpSubKey));
  if (LONG e = call.Begin(hKey, lpSubKey != nullptr)) return call.Return(e);
  Key* key = call.key;
  std::vector<std::string> names;
  if (!SplitKeyPath(lpSubKey, &names)) return call.Return(ERROR_BAD_PATHNAME);

  Key* parent = nullptr;
  if (names.empty()) {
    // The key of the handle itself; a predefined root cannot go, nor a key
    // opened with no parent in reach.
    if (PredefinedRootName(hKey)) return call.Return(ERROR_ACCESS_DENIED);
    parent = key->parent;
    if (!parent) return call.Return(ERROR_ACCESS_DENIED);
  } else {
    for (const std::string& name : names) {
      auto it = key->subkeys.find(Upper(name));
      if (it == key->subkeys.end()) return call.Return(ERROR_FILE_NOT_FOUND);
      parent = key;
      key = it->second.get();
    }
  }
  if (IsNtFamily()) {
    // The NT family removes one key at a time: subkeys must go first.
    if (!MayAccess(*key, DELETE) || !key->subkeys.empty()) {
      return call.Return(ERROR_ACCESS_DENIED);
    }
  }
  RemoveSubkey(parent, Upper(key->name));
  return call.Return(ERROR_SUCCESS);
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  KeyCall call("RegDeleteValueA", KeyArg(hKey) + ", " + Quote(lpValueName));
  if (LONG e = call.Begin(hKey, true, KEY_SET_VALUE)) return call.Return(e);
  Key* key = call.key;
  // No name: the key's default value.
  if (!RemoveValue(key, ValueName(lpValueName))) return call.Return(ERROR_FILE_NOT_FOUND);
  return call.Return(ERROR_SUCCESS);
}
