// A small chained hash table with pluggable hash, value-copy and value-free
// functions, and one process-wide pool of entry nodes. The AP serial-number
// index of the registry is built on it.
//
// Keys are not copied: an entry refers to the caller's key, which must stay
// alive and unchanged while the entry exists. A key length of 0 means a
// NUL-terminated string. The value is one word (large enough for a pointer)
// or whatever the value-copy function puts there.
//
// Tables and node blocks are owned by the pool; free_hash_table releases a
// table, HashPoolReset releases everything (tests; no table may be used
// afterwards).
//
// Return convention of this module: 1 done / found, 0 not (memory or key).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using hash_value = uintptr_t;
// Returns the bucket of a key: its 32-bit hash modulo `buckets`.
using hash_fn = uint32_t (*)(const void* key, size_t key_len, uint32_t buckets);
// Fills *dst from src: on add (src = the caller's value) and on lookup
// (src = the stored value).
using hash_copy_fn = void (*)(hash_value* dst, hash_value src);
using hash_free_fn = void (*)(hash_value value);
// 0 when the first `len` bytes of both keys are equal.
using hash_cmp_fn = int (*)(const void* a, const void* b, size_t len);

struct hash_node {
  hash_node* next = nullptr;
  const void* key = nullptr;
  size_t key_len = 0;
  hash_value value = 0;
};
inline constexpr size_t kHashNodesPerBlock = 127;
inline constexpr uint32_t kHashDefaultBuckets = 9973;

struct wlan_hash {
  uint32_t size = 0;   // buckets
  uint32_t count = 0;  // entries
  hash_copy_fn copy = nullptr;
  hash_free_fn free = nullptr;
  hash_cmp_fn compare = nullptr;
  hash_fn hash = nullptr;
  std::vector<hash_node*> heads;  // one chain per bucket, newest first
};

// Makes a table in *holder (bucket count 0 gives 9973). file/line name the
// caller for diagnostics. 1, or 0 when memory runs out.
int new_hash(wlan_hash** holder, hash_copy_fn copy, hash_free_fn free, uint32_t buckets,
             hash_fn hash, const char* file, int line);
// Releases the table and clears the holder; entries are not visited.
void free_hash_table(wlan_hash** holder);
// Adds an entry at the head of its bucket (duplicates allowed; the newest is
// found first). 1, or 0 when memory runs out.
int add_hash(wlan_hash* table, const void* key, size_t key_len, hash_value value);
// Removes the first entry matching the key; an absent key changes nothing.
void delete_hash_entry(wlan_hash* table, const void* key, size_t key_len);
// 1 and the value in *result on a match; else *result = 0 and 0.
int wlan_hash_lookup(hash_value* result, const wlan_hash* table, const void* key,
                     size_t key_len);
// Visits buckets in order, each chain from its head, until the visitor
// returns non-zero. Returns the number of entries visited before the stop
// (the entry that stopped the walk is not counted).
using hash_visitor = std::function<int(const void* key, size_t key_len, hash_value value)>;
uint32_t hash_foreach(const wlan_hash* table, const hash_visitor& visitor);
// One-line summary; the text lives in a static buffer overwritten by the
// next call.
const char* hash_report(const wlan_hash* table);

// Hash functions (the key length used when the caller passes 0 in brackets).
uint32_t do_string_case_hash(const void* key, size_t key_len, uint32_t buckets);  // [strlen]
uint32_t do_string_hash(const void* key, size_t key_len, uint32_t buckets);       // [strlen]
uint32_t do_triplet_hash(const void* key, size_t key_len, uint32_t buckets);      // [4]
uint32_t do_word_hash(const void* key, size_t key_len, uint32_t buckets);         // [4]
uint32_t do_mac_hash(const void* key, size_t key_len, uint32_t buckets);          // [6]
uint32_t do_key12_hash(const void* key, size_t key_len, uint32_t buckets);        // [12]
uint32_t do_ipv4_hash(const void* key, size_t key_len, uint32_t buckets);         // [4]

namespace capwap {

// The report text for given figures (what hash_report prints).
std::string HashReportText(uint32_t entries, uint32_t buckets, uint32_t min_chain,
                           uint32_t max_chain);
// Node pool figures (tests and diagnostics).
size_t HashPoolBlocks();
size_t HashPoolFreeNodes();
// Releases every table and node block.
void HashPoolReset();

}  // namespace capwap
