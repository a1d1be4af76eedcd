#include "platform/dbm.h"

#include <lmdb.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "platform/fail_inject.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/thread.h"

namespace {

constexpr const char* kDbmDir = "/etc/config/vela/capwap.lmdb";
constexpr size_t kMapSize = size_t{256} << 20;
constexpr unsigned kMaxTables = 64;
// The framework's settings table (switch-wide flags such as automatic AP
// admission). Its name is the one the database has always used for it.
constexpr int kSettingsTable = 17;
constexpr const char* kSettingsTableName = "table17";
// The framework's ACL table, written by the configuration side and read by
// the policy pushes; open, like the settings table, while connected.
constexpr int kAclTable = 127;
constexpr const char* kAclTableName = "table127";

struct EnvCloser {
  void operator()(MDB_env* env) const { mdb_env_close(env); }
};

struct TxnAborter {
  void operator()(MDB_txn* txn) const { mdb_txn_abort(txn); }
};
using TxnPtr = std::unique_ptr<MDB_txn, TxnAborter>;

struct CursorCloser {
  void operator()(MDB_cursor* cursor) const { mdb_cursor_close(cursor); }
};
using CursorPtr = std::unique_ptr<MDB_cursor, CursorCloser>;

struct Table {
  MDB_dbi dbi;
  std::string name;
};

// The framework's single database connection. Handles of named databases stay
// valid until the environment closes, so closing a table only forgets its
// number (two numbers may share one name and so one handle).
struct DbmState {
  std::unique_ptr<MDB_env, EnvCloser> env;
  std::map<int, Table> tables;
  bool unflushed = false;               // commits not yet flushed to the device
  thread_master* flush_loop = nullptr;  // where the flush timer runs
  thread* flush_event = nullptr;        // the pending flush, cleared by the loop
};

DbmState& State() {
  static DbmState state;
  return state;
}

void LogLmdb(const char* what, int table, int rc) {
  zlog_err(nullptr, "DBM: %s failed on table %d: %s", what, table, mdb_strerror(rc));
}

TxnPtr BeginTxn(unsigned flags, int table, const char* what) {
  MDB_txn* txn = nullptr;
  int rc = mdb_txn_begin(State().env.get(), nullptr, flags, &txn);
  if (rc != MDB_SUCCESS) {
    LogLmdb(what, table, rc);
    return nullptr;
  }
  return TxnPtr(txn);
}

int OnFlushTimer(thread*) {
  capwap::DbmFlush();
  return 0;
}

// A commit reached the operating system; the device follows on the timer.
void NoteUnflushed() {
  DbmState& state = State();
  state.unflushed = true;
  if (state.flush_loop && !state.flush_event) {
    thread_add_timer_msec(state.flush_loop, OnFlushTimer, nullptr, capwap::kDbmFlushMs,
                          &state.flush_event);
  }
}

// Commits; the handle is consumed either way.
bool Commit(TxnPtr txn, int table, const char* what) {
  int rc = mdb_txn_commit(txn.release());
  if (rc != MDB_SUCCESS) {
    LogLmdb(what, table, rc);
    return false;
  }
  NoteUnflushed();
  return true;
}

// The handle of an open table number. A number never opened, or closed, is
// refused: it must not silently become some other database.
const Table* TableOf(int table, const char* what) {
  DbmState& state = State();
  if (!state.env) {
    zlog_err(nullptr, "DBM: %s on table %d while the database is not connected", what, table);
    return nullptr;
  }
  auto it = state.tables.find(table);
  if (it != state.tables.end()) return &it->second;
  zlog_err(nullptr, "DBM: %s on table %d, which is not open", what, table);
  return nullptr;
}

MDB_val ValOf(const void* data, size_t len) {
  return MDB_val{len, const_cast<void*>(data)};
}

capwap::Bytes CopyOf(const MDB_val& val) {
  const auto* begin = static_cast<const uint8_t*>(val.mv_data);
  return capwap::Bytes(begin, begin + val.mv_size);
}

bool ValidKey(int table, const void* key, size_t key_len, const char* what) {
  if (key && key_len > 0 &&
      key_len <= static_cast<size_t>(mdb_env_get_maxkeysize(State().env.get()))) {
    return true;
  }
  zlog_err(nullptr, "DBM: %s on table %d with an invalid key (length %zu)", what, table, key_len);
  return false;
}

// Runs `step` on a read-only cursor of the table; nullopt when the table
// cannot be read.
template <typename Step>
std::optional<capwap::Bytes> WithCursor(int table, const char* what, Step step) {
  const Table* t = TableOf(table, what);
  if (!t) return std::nullopt;
  TxnPtr txn = BeginTxn(MDB_RDONLY, table, what);
  if (!txn) return std::nullopt;
  MDB_cursor* raw = nullptr;
  int rc = mdb_cursor_open(txn.get(), t->dbi, &raw);
  if (rc != MDB_SUCCESS) {
    LogLmdb(what, table, rc);
    return std::nullopt;
  }
  CursorPtr cursor(raw);
  return step(cursor.get());
}

}  // namespace

int DBM_Connect() {
  DbmState& state = State();
  if (state.env) return 0;
  std::string dir = capwap::DbmPath();
  if (!capwap::MakeDirs(dir)) {
    zlog_err(nullptr, "DBM: cannot create %s: %s", dir.c_str(), strerror(errno));
    return 1;
  }
  MDB_env* raw = nullptr;
  int rc = mdb_env_create(&raw);
  if (rc != MDB_SUCCESS) {
    zlog_err(nullptr, "DBM: cannot create the environment: %s", mdb_strerror(rc));
    return 1;
  }
  std::unique_ptr<MDB_env, EnvCloser> env(raw);
  rc = mdb_env_set_mapsize(env.get(), kMapSize);
  if (rc == MDB_SUCCESS) rc = mdb_env_set_maxdbs(env.get(), kMaxTables);
  // No device flush per commit: DbmFlush does it (see the header).
  if (rc == MDB_SUCCESS) rc = mdb_env_open(env.get(), dir.c_str(), MDB_NOTLS | MDB_NOSYNC, 0664);
  if (rc != MDB_SUCCESS) {
    zlog_err(nullptr, "DBM: cannot open %s: %s", dir.c_str(), mdb_strerror(rc));
    return 1;
  }
  // Reader slots left behind by a process that died are released here, so
  // they cannot pin old pages for ever.
  int dead = 0;
  mdb_reader_check(env.get(), &dead);
  state.env = std::move(env);
  state.tables.clear();
  return DBM_Open(kSettingsTable, kSettingsTableName) | DBM_Open(kAclTable, kAclTableName);
}

void DBM_Disconnect() {
  DbmState& state = State();
  capwap::DbmFlush();
  thread_cancel(state.flush_event);
  state.flush_loop = nullptr;
  state.tables.clear();
  state.env.reset();
  state.unflushed = false;
}

int DBM_Open(int table, const char* name) {
  DbmState& state = State();
  if (!state.env) {
    zlog_err(nullptr, "DBM: open of table %d while the database is not connected", table);
    return 1;
  }
  if (!name || !*name) {
    zlog_err(nullptr, "DBM: open of table %d without a name", table);
    return 1;
  }
  auto it = state.tables.find(table);
  if (it != state.tables.end() && it->second.name == name) return 0;
  TxnPtr txn = BeginTxn(0, table, "open");
  if (!txn) return 1;
  MDB_dbi dbi = 0;
  int rc = mdb_dbi_open(txn.get(), name, MDB_CREATE, &dbi);
  if (rc != MDB_SUCCESS) {
    LogLmdb("open", table, rc);
    return 1;
  }
  if (!Commit(std::move(txn), table, "open")) return 1;
  state.tables[table] = Table{dbi, name};
  return 0;
}

void DBM_Close(int table) { State().tables.erase(table); }

int DBM_Store(int table, const void* key, size_t key_len, const void* value, size_t value_len) {
  if (capwap::ShouldFail(capwap::FailFamily::kDbmStore)) {
    zlog_err(nullptr, "DBM: store on table %d failed (injected)", table);
    return 1;
  }
  const Table* t = TableOf(table, "store");
  if (!t || !ValidKey(table, key, key_len, "store")) return 1;
  if (!value && value_len > 0) {
    zlog_err(nullptr, "DBM: store on table %d without a value", table);
    return 1;
  }
  TxnPtr txn = BeginTxn(0, table, "store");
  if (!txn) return 1;
  MDB_val k = ValOf(key, key_len);
  MDB_val v = ValOf(value ? value : "", value_len);
  int rc = mdb_put(txn.get(), t->dbi, &k, &v, 0);
  if (rc != MDB_SUCCESS) {
    LogLmdb("store", table, rc);
    return 1;
  }
  return Commit(std::move(txn), table, "store") ? 0 : 1;
}

std::optional<capwap::Bytes> DBM_Fetch(int table, const void* key, size_t key_len) {
  const Table* t = TableOf(table, "fetch");
  if (!t || !ValidKey(table, key, key_len, "fetch")) return std::nullopt;
  TxnPtr txn = BeginTxn(MDB_RDONLY, table, "fetch");
  if (!txn) return std::nullopt;
  MDB_val k = ValOf(key, key_len);
  MDB_val v{};
  int rc = mdb_get(txn.get(), t->dbi, &k, &v);
  if (rc == MDB_NOTFOUND) return std::nullopt;
  if (rc != MDB_SUCCESS) {
    LogLmdb("fetch", table, rc);
    return std::nullopt;
  }
  return CopyOf(v);
}

int DBM_Delete(int table, const void* key, size_t key_len) {
  const Table* t = TableOf(table, "delete");
  if (!t || !ValidKey(table, key, key_len, "delete")) return 1;
  TxnPtr txn = BeginTxn(0, table, "delete");
  if (!txn) return 1;
  MDB_val k = ValOf(key, key_len);
  int rc = mdb_del(txn.get(), t->dbi, &k, nullptr);
  if (rc == MDB_NOTFOUND) return 0;
  if (rc != MDB_SUCCESS) {
    LogLmdb("delete", table, rc);
    return 1;
  }
  return Commit(std::move(txn), table, "delete") ? 0 : 1;
}

std::optional<capwap::Bytes> DBM_GetFirstKey(int table) {
  return WithCursor(table, "first key", [&](MDB_cursor* cursor) -> std::optional<capwap::Bytes> {
    MDB_val k{}, v{};
    int rc = mdb_cursor_get(cursor, &k, &v, MDB_FIRST);
    if (rc == MDB_NOTFOUND) return std::nullopt;
    if (rc != MDB_SUCCESS) {
      LogLmdb("first key", table, rc);
      return std::nullopt;
    }
    return CopyOf(k);
  });
}

std::optional<capwap::Bytes> DBM_GetNextKey(int table, const void* key, size_t key_len) {
  if (!key || key_len == 0) return DBM_GetFirstKey(table);
  if (!TableOf(table, "next key") || !ValidKey(table, key, key_len, "next key")) {
    return std::nullopt;
  }
  return WithCursor(table, "next key", [&](MDB_cursor* cursor) -> std::optional<capwap::Bytes> {
    MDB_val k = ValOf(key, key_len);
    MDB_val v{};
    // Position at the first key not below `key`; step over it when it is
    // `key` itself, so a deleted key still leads to its successor.
    int rc = mdb_cursor_get(cursor, &k, &v, MDB_SET_RANGE);
    if (rc == MDB_SUCCESS && k.mv_size == key_len && std::memcmp(k.mv_data, key, key_len) == 0) {
      rc = mdb_cursor_get(cursor, &k, &v, MDB_NEXT);
    }
    if (rc == MDB_NOTFOUND) return std::nullopt;
    if (rc != MDB_SUCCESS) {
      LogLmdb("next key", table, rc);
      return std::nullopt;
    }
    return CopyOf(k);
  });
}

namespace capwap {

void DbmFlushOn(thread_master* loop) {
  DbmState& state = State();
  thread_cancel(state.flush_event);
  state.flush_loop = loop;
  if (state.unflushed) NoteUnflushed();
}

int DbmFlush() {
  DbmState& state = State();
  if (!state.env || !state.unflushed) return 0;
  int rc = mdb_env_sync(state.env.get(), 1);
  if (rc != MDB_SUCCESS) {
    zlog_err(nullptr, "DBM: flush to the device failed: %s", mdb_strerror(rc));
    return 1;
  }
  state.unflushed = false;
  return 0;
}

std::string DbmPath() { return RootPath(kDbmDir); }

size_t DbmCount(int table) {
  const Table* t = TableOf(table, "count");
  if (!t) return 0;
  TxnPtr txn = BeginTxn(MDB_RDONLY, table, "count");
  if (!txn) return 0;
  MDB_stat stat{};
  int rc = mdb_stat(txn.get(), t->dbi, &stat);
  if (rc != MDB_SUCCESS) {
    LogLmdb("count", table, rc);
    return 0;
  }
  return stat.ms_entries;
}

}  // namespace capwap
