// Configuration database on LMDB: one environment, one named database per
// table number, keys kept in byte order so first/next walks are natural.
//
// Durability: every store, delete and open is its own committed transaction,
// written to the operating system before the call returns, so a process
// killed at any moment (kill -9, a crash) loses nothing that was stored. The
// environment runs without a disk flush per commit; the flush to the device
// follows within kDbmFlushMs on the event loop given to DbmFlushOn, and at
// DBM_Disconnect. A power loss may lose the stores of that last interval.
//
// Tables: a number means nothing until DBM_Open names it, and nothing again
// after DBM_Close: using it then fails with a log line. The framework's
// settings table 17 and ACL table 127 are open from DBM_Connect to
// DBM_Disconnect.
//
// Location: "/etc/config/vela/capwap.lmdb" (a directory), under CAPWAP_ROOT
// when set. DBM_Connect creates it.
//
// Return convention: 0 success, non-zero failure (as the framework's calls).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/bytes.h"

struct thread_master;

// Opens the environment and the tables 17 and 127 (idempotent). 0 / 1.
int DBM_Connect();
// Flushes, closes every table and the environment, forgets the flush loop.
void DBM_Disconnect();
// Opens (creating) the named database for a table number. 0 / 1.
int DBM_Open(int table, const char* name);
// Forgets the table number until it is opened again.
void DBM_Close(int table);
// Replaces the record under key. 0 / 1 (also 1 when the table is not open).
int DBM_Store(int table, const void* key, size_t key_len, const void* value, size_t value_len);
// A copy of the record, or nullopt.
std::optional<capwap::Bytes> DBM_Fetch(int table, const void* key, size_t key_len);
// Removes the record; 0 also when it did not exist, 1 on failure.
int DBM_Delete(int table, const void* key, size_t key_len);
// First key in byte order, or nullopt for an empty (or unopened) table.
std::optional<capwap::Bytes> DBM_GetFirstKey(int table);
// The key after `key` in byte order (key need not exist), or nullopt at the end.
std::optional<capwap::Bytes> DBM_GetNextKey(int table, const void* key, size_t key_len);

namespace capwap {
// Longest time between a change and its flush to the device.
inline constexpr long kDbmFlushMs = 1000;
// Flushes committed changes to the device at most kDbmFlushMs after they
// were made, on a timer of this loop (until DBM_Disconnect).
void DbmFlushOn(thread_master* loop);
// Flushes committed changes to the device now. 0 / 1.
int DbmFlush();
// Directory of the environment (for documentation, tests and tools).
std::string DbmPath();
// Number of records in a table (tests and diagnostics).
size_t DbmCount(int table);
}  // namespace capwap
