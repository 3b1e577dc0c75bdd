// Platform-private: the registry's state in this process and the file behind it. The Reg*
// functions (registry.cpp) work on the state; the store (linux/registry_store.cpp) keeps it
// in step with the file and writes changes through.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "internal/registry_format.h"
#include "platform/io/registry.h"

namespace platform::detail {

// The registry file: $BELVANE_REGISTRY, else $XDG_STATE_HOME/belvane/registry.reg, else
// ~/.local/state/belvane/registry.reg. Read anew at every registry call, so a change of
// the variable switches to the other file.
std::string RegistryFilePath();

// Drops every volatile key (HKEY_LOCAL_MACHINE\Drivers\Active and below).
void ClearVolatileKeys();

// True for folded paths of volatile keys, which live in this process only.
bool IsVolatile(std::u16string_view folded);

// The identity of the file when it was read or written: device, inode, size and times.
struct FileStamp {
    bool exists = false;
    std::uint64_t device = 0, inode = 0;
    std::int64_t size = 0, modifiedSec = 0, modifiedNsec = 0, changedSec = 0, changedNsec = 0;
    bool operator==(const FileStamp&) const = default;
};

struct OpenKey {
    std::u16string folded;
    REGSAM access;
};

struct Store {
    std::mutex mutex;
    std::string file;  // the file the state was loaded from
    FileStamp stamp;   // its identity when loaded or written
    bool loaded = false;
    bool damaged = false;     // the loaded file had problems; keep it before replacing it
    bool unreadable = false;  // the file exists but could not be read: refuse writes
    RegKeyMap keys;           // persistent and volatile keys
    std::unordered_map<uintptr_t, OpenKey> handles;
    uintptr_t nextHandle = 0x100;
    int batchDepth = 0;                      // open RegistryBatch scopes, all of one thread
    std::thread::id batchOwner;              // the thread whose batch is open
    std::condition_variable_any batchEnded;  // waited on with mutex held
    int batchLock = -1;                      // the file lock a batch holds from its first change on
    bool batchDirty = false;                 // the batch changed persistent keys not yet written
    bool batchFailed = false;                // the batch could not get the lock: its changes fail
    unsigned writes = 0;                     // files this process has written
};

Store& TheStore();

// Brings the state up to date with the file; the store's mutex is held. Changes a batch
// has not written yet pin the state: the file is not read again until the batch ends.
void Refresh(Store& s);

// A change to the key at folded (the store's mutex is held). change edits a copy of the
// state and returns a status; the copy replaces the state when the status is success and
// the file (for persistent keys) was written.
using Change = std::function<LONG(RegKeyMap&)>;
// A change that leaves the keys as they are writes nothing. A write waits a few seconds for
// another program's lock, then fails with a line in the account of failures.
LONG Mutate(Store& s, const std::u16string& folded, const Change& change);

// Within its scope, changes of this process's registry are written once, at its end, and
// not at all when nothing changed. The file lock is taken at the first change and held to
// the end, so the changes apply to the latest file and no other program writes between
// them. A batch belongs to the thread that opened it: another thread's batch, or change of
// a persistent key, waits for it to end, so that no change is reported done before it is
// written or joins a write that may fail for reasons of the other thread's. Changes report success
// when made; a final write that fails is reported in the account of failures and drops them (the
// file is read again). Scopes nest: the outermost one writes.
class RegistryBatch {
  public:
    RegistryBatch();
    ~RegistryBatch();
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;

  private:
    bool owned_ = false;  // this scope counts in the open batch
};

}  // namespace platform::detail
