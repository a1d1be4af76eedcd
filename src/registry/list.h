// Circular doubly linked list with a head, and bucket arrays of such lists:
// the registry's indexes. A node is embedded in the object it links and
// knows its owner, so one object can sit in several lists at once.
//
// An empty list has first = last = the head itself. An unlinked node has
// next = prev = null. LIST_Del unlinks through the node's own links and
// lowers the count only when both links were set; the caller resets the node.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct LIST;

struct LIST_NODE {
  LIST_NODE* next = nullptr;
  LIST_NODE* prev = nullptr;
  uint32_t key = 0;        // sort key (the APID list uses it)
  void* owner = nullptr;   // the object this node is embedded in
  bool Linked() const { return next != nullptr && prev != nullptr; }
};

struct LIST {
  // The head acts as the sentinel node of the ring.
  LIST_NODE head;
  uint32_t count = 0;
  LIST() { INIT(); }
  LIST(const LIST&) = delete;
  LIST& operator=(const LIST&) = delete;
  void INIT() {
    head.next = &head;
    head.prev = &head;
    count = 0;
  }
  LIST_NODE* First() { return head.next == &head ? nullptr : head.next; }
  LIST_NODE* Next(LIST_NODE* node) { return node->next == &head ? nullptr : node->next; }
  bool Empty() const { return head.next == &head; }
};

inline void INIT_List(LIST* list) { list->INIT(); }
inline void LIST_NODE_Init(LIST_NODE* node) {
  node->next = nullptr;
  node->prev = nullptr;
  node->key = 0;
}
// Inserts node after `after` (the head when after is null).
inline void LIST_Insert(LIST* list, LIST_NODE* after, LIST_NODE* node) {
  LIST_NODE* prev = after ? after : &list->head;
  node->next = prev->next;
  node->prev = prev;
  prev->next->prev = node;
  prev->next = node;
  ++list->count;
}
inline void LIST_Append(LIST* list, LIST_NODE* node) { LIST_Insert(list, list->head.prev, node); }
inline void LIST_Del(LIST* list, LIST_NODE* node) {
  bool both = node->next && node->prev;
  if (node->prev) node->prev->next = node->next;
  if (node->next) node->next->prev = node->prev;
  if (both && list->count > 0) --list->count;
}
// Inserts in ascending key order (after every node with a key <= node's).
inline void LIST_Insert_Sort(LIST* list, LIST_NODE* node) {
  LIST_NODE* after = &list->head;
  for (LIST_NODE* cur = list->head.next; cur != &list->head; cur = cur->next) {
    if (cur->key > node->key) break;
    after = cur;
  }
  LIST_Insert(list, after == &list->head ? nullptr : after, node);
}

// A bucket array of lists (all WTP indexes have 32 buckets).
struct HASH_TABLE {
  explicit HASH_TABLE(size_t n) : buckets(n) {}
  size_t size() const { return buckets.size(); }
  std::vector<LIST> buckets;
};
// n = 0 gives none.
inline std::unique_ptr<HASH_TABLE> HASH_CreatTable(size_t n) {
  if (n == 0) return nullptr;
  return std::make_unique<HASH_TABLE>(n);
}
inline void HASH_InitTable(HASH_TABLE* table) {
  for (auto& bucket : table->buckets) bucket.INIT();
}

// Walks the owners of a list: for (T* x : ListOwners<T>(list)).
template <typename T>
class ListOwners {
 public:
  explicit ListOwners(LIST& list) : list_(list) {}
  class iterator {
   public:
    iterator(LIST* list, LIST_NODE* node) : list_(list), node_(node) {}
    T* operator*() const { return static_cast<T*>(node_->owner); }
    iterator& operator++() {
      node_ = list_->Next(node_);
      return *this;
    }
    bool operator!=(const iterator& other) const { return node_ != other.node_; }

   private:
    LIST* list_;
    LIST_NODE* node_;
  };
  iterator begin() { return iterator(&list_, list_.First()); }
  iterator end() { return iterator(&list_, nullptr); }

 private:
  LIST& list_;
};
