#include "registry/hash.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <list>
#include <memory>
#include <new>
#include <string_view>

#include "platform/bytes.h"

namespace {

// Owns every table and every node block; node blocks are never returned to
// the system, deleted nodes go back to the free list.
class HashPool {
 public:
  hash_node* Take() {
    if (!free_ && !Grow()) return nullptr;
    hash_node* node = free_;
    free_ = node->next;
    *node = hash_node{};
    return node;
  }
  void Give(hash_node* node) {
    *node = hash_node{};
    node->next = free_;
    free_ = node;
  }
  wlan_hash* AddTable(std::unique_ptr<wlan_hash> table) {
    tables_.push_back(std::move(table));
    return tables_.back().get();
  }
  void DropTable(const wlan_hash* table) {
    tables_.remove_if([table](const auto& owned) { return owned.get() == table; });
  }
  size_t Blocks() const { return blocks_.size(); }
  size_t FreeNodes() const {
    size_t n = 0;
    for (const hash_node* node = free_; node; node = node->next) ++n;
    return n;
  }
  void Reset() {
    tables_.clear();
    blocks_.clear();
    free_ = nullptr;
  }

 private:
  using Block = std::array<hash_node, kHashNodesPerBlock>;
  bool Grow() {
    auto block = std::unique_ptr<Block>(new (std::nothrow) Block{});
    if (!block) return false;
    // Threaded so that the block's first node is taken first.
    for (size_t i = kHashNodesPerBlock; i-- > 0;) {
      (*block)[i].next = free_;
      free_ = &(*block)[i];
    }
    blocks_.push_back(std::move(block));
    return true;
  }

  std::vector<std::unique_ptr<Block>> blocks_;
  std::list<std::unique_ptr<wlan_hash>> tables_;
  hash_node* free_ = nullptr;
};

HashPool& Pool() {
  static HashPool pool;
  return pool;
}

uint8_t Lower(uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 32) : c; }

std::string_view KeyText(const void* key, size_t key_len) {
  const char* text = static_cast<const char*>(key);
  return key_len ? std::string_view(text, key_len) : std::string_view(text);
}

uint32_t StringHash(const void* key, size_t key_len, bool fold_case) {
  uint32_t h = 0;
  for (char ch : KeyText(key, key_len)) {
    uint8_t c = static_cast<uint8_t>(ch);
    h = 2 * h + (fold_case ? Lower(c) : c);
    while (h >= 65536) h = (h & 65535) + (h >> 16);
  }
  return h;
}

int ByteCompare(const void* a, const void* b, size_t len) { return std::memcmp(a, b, len); }

int CaseCompare(const void* a, const void* b, size_t len) {
  const auto* x = static_cast<const uint8_t*>(a);
  const auto* y = static_cast<const uint8_t*>(b);
  for (size_t i = 0; i < len; ++i) {
    if (Lower(x[i]) != Lower(y[i])) return Lower(x[i]) < Lower(y[i]) ? -1 : 1;
  }
  return 0;
}

bool CaseInsensitive(const wlan_hash* table) { return table->hash == do_string_case_hash; }

bool EntryMatches(const wlan_hash* table, const hash_node* node, const void* key,
                  size_t key_len) {
  if (node->key_len == 0) {
    std::string_view stored = KeyText(node->key, 0);
    std::string_view wanted = KeyText(key, key_len);
    if (stored.size() != wanted.size()) return false;
    return (CaseInsensitive(table) ? CaseCompare : ByteCompare)(stored.data(), wanted.data(),
                                                                 stored.size()) == 0;
  }
  return node->key_len == key_len && table->compare(node->key, key, key_len) == 0;
}

uint32_t Bucket(const wlan_hash* table, const void* key, size_t key_len) {
  return table->hash(key, key_len, table->size) % table->size;
}

}  // namespace

int new_hash(wlan_hash** holder, hash_copy_fn copy, hash_free_fn free, uint32_t buckets,
             hash_fn hash, const char* /*file*/, int /*line*/) {
  if (buckets == 0) buckets = kHashDefaultBuckets;
  auto table = std::unique_ptr<wlan_hash>(new (std::nothrow) wlan_hash{});
  if (!table) return 0;
  try {
    table->heads.assign(buckets, nullptr);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  table->size = buckets;
  table->copy = copy;
  table->free = free;
  table->hash = hash ? hash : do_string_hash;
  table->compare = table->hash == do_string_case_hash ? CaseCompare : ByteCompare;
  *holder = Pool().AddTable(std::move(table));
  return 1;
}

void free_hash_table(wlan_hash** holder) {
  if (!holder || !*holder) return;
  Pool().DropTable(*holder);
  *holder = nullptr;
}

int add_hash(wlan_hash* table, const void* key, size_t key_len, hash_value value) {
  if (!table || table->size == 0) return 0;
  hash_node* node = Pool().Take();
  if (!node) return 0;
  node->key = key;
  node->key_len = key_len;
  if (table->copy) {
    table->copy(&node->value, value);
  } else {
    node->value = value;
  }
  hash_node*& head = table->heads[Bucket(table, key, key_len)];
  node->next = head;
  head = node;
  ++table->count;
  return 1;
}

void delete_hash_entry(wlan_hash* table, const void* key, size_t key_len) {
  if (!table || table->size == 0) return;
  hash_node** link = &table->heads[Bucket(table, key, key_len)];
  for (; *link; link = &(*link)->next) {
    hash_node* node = *link;
    if (!EntryMatches(table, node, key, key_len)) continue;
    *link = node->next;
    if (table->free && node->value) table->free(node->value);
    Pool().Give(node);
    --table->count;
    return;
  }
}

int wlan_hash_lookup(hash_value* result, const wlan_hash* table, const void* key,
                     size_t key_len) {
  if (table && table->size) {
    for (const hash_node* node = table->heads[Bucket(table, key, key_len)]; node;
         node = node->next) {
      if (!EntryMatches(table, node, key, key_len)) continue;
      if (table->copy) {
        table->copy(result, node->value);
      } else {
        *result = node->value;
      }
      return 1;
    }
  }
  *result = 0;
  return 0;
}

uint32_t hash_foreach(const wlan_hash* table, const hash_visitor& visitor) {
  uint32_t visited = 0;
  if (!table) return 0;
  for (const hash_node* head : table->heads) {
    for (const hash_node* node = head; node; node = node->next) {
      if (visitor(node->key, node->key_len, node->value)) return visited;
      ++visited;
    }
  }
  return visited;
}

const char* hash_report(const wlan_hash* table) {
  static char buffer[64];
  std::string text;
  if (!table) {
    text = "No table.";
  } else if (table->size == 0) {
    text = "Invalid hash table.";
  } else {
    uint32_t min_chain = UINT32_MAX;
    uint32_t max_chain = 0;
    for (const hash_node* head : table->heads) {
      uint32_t chain = 0;
      for (const hash_node* node = head; node; node = node->next) ++chain;
      min_chain = std::min(min_chain, chain);
      max_chain = std::max(max_chain, chain);
    }
    text = capwap::HashReportText(table->count, table->size, min_chain, max_chain);
  }
  std::snprintf(buffer, sizeof buffer, "%s", text.c_str());
  return buffer;
}

// --- Hash functions -------------------------------------------------------

uint32_t do_string_case_hash(const void* key, size_t key_len, uint32_t buckets) {
  return StringHash(key, key_len, true) % buckets;
}

uint32_t do_string_hash(const void* key, size_t key_len, uint32_t buckets) {
  return StringHash(key, key_len, false) % buckets;
}

uint32_t do_triplet_hash(const void* key, size_t key_len, uint32_t buckets) {
  const auto* b = static_cast<const uint8_t*>(key);
  size_t len = key_len ? key_len : 4;
  uint32_t h = 0;
  size_t i = 0;
  if (len % 3 == 1) {
    h = b[0];
    i = 1;
  } else if (len % 3 == 2) {
    h = (uint32_t{b[0]} << 8) ^ b[1];
    i = 2;
  }
  for (; i + 3 <= len; i += 3) {
    h ^= (uint32_t{b[i]} << 16) ^ (uint32_t{b[i + 1]} << 8) ^ b[i + 2];
  }
  return h % buckets;
}

uint32_t do_word_hash(const void* key, size_t /*key_len*/, uint32_t buckets) {
  capwap::HostReader reader(key, 4);
  uint32_t word = 0;
  reader.u32(word);
  return word % buckets;
}

uint32_t do_mac_hash(const void* key, size_t /*key_len*/, uint32_t buckets) {
  const auto* b = static_cast<const uint8_t*>(key);
  uint32_t h = ((uint32_t{b[0]} + b[3]) << 24) | (((uint32_t{b[1]} + b[4]) & 255) << 16) |
               (((uint32_t{b[2]} + b[5]) & 255) << 8) | b[5];
  return h % buckets;
}

// Twelve-byte keys: the three 32-bit words as stored, exclusive-ored.
uint32_t do_key12_hash(const void* key, size_t /*key_len*/, uint32_t buckets) {
  capwap::HostReader reader(key, 12);
  uint32_t a = 0, b = 0, c = 0;
  reader.u32(a);
  reader.u32(b);
  reader.u32(c);
  return (a ^ b ^ c) % buckets;
}

uint32_t do_ipv4_hash(const void* key, size_t /*key_len*/, uint32_t buckets) {
  capwap::WireReader reader(key, 4);
  uint32_t addr = 0;
  reader.u32(addr);
  return addr % buckets;
}

namespace capwap {

std::string HashReportText(uint32_t entries, uint32_t buckets, uint32_t min_chain,
                           uint32_t max_chain) {
  if (buckets == 0) return "Invalid hash table.";
  uint32_t percent = entries < 42949672 ? entries * 100 / buckets
                                        : entries / (buckets / 100 + 1);
  char text[64];
  int n = std::snprintf(text, sizeof text, "Contents/Size (%%): %u/%u (%u%%). Min/max: %u/%u",
                        entries, buckets, percent, min_chain, max_chain);
  if (n < 0 || static_cast<size_t>(n) >= sizeof text) return "Report out of range for display.";
  return text;
}

size_t HashPoolBlocks() { return Pool().Blocks(); }
size_t HashPoolFreeNodes() { return Pool().FreeNodes(); }
void HashPoolReset() { Pool().Reset(); }

}  // namespace capwap
