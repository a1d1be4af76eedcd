// Configuration database on LMDB: one environment, one named database per
// table number, keys kept in byte order so first/next walks are natural.
// Every store is its own committed transaction, so stored data survives a
// crash of the process at any point.
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

// Opens the environment (idempotent). 0 / 1.
int DBM_Connect();
// Closes every table and the environment.
void DBM_Disconnect();
// Opens (creating) the named database for a table number. 0 / 1.
int DBM_Open(int table, const char* name);
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
// Directory of the environment (for documentation, tests and tools).
std::string DbmPath();
// Number of records in a table (tests and diagnostics).
size_t DbmCount(int table);
}  // namespace capwap
