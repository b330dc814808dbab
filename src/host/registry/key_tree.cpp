#include "host/registry/key_tree.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "host/registry/names.h"

namespace hostreg {

namespace {

uint32_t Mix(uint32_t h) {
  h ^= h >> 16;
  h *= 0x7FEB352Du;
  h ^= h >> 15;
  h *= 0x846CA68Bu;
  h ^= h >> 16;
  return h;
}

uint32_t Combine(uint32_t parent, uint32_t nameHash) {
  return Mix(nameHash ^ (parent * 0x9E3779B9u));
}

}  // namespace

KeyTree::KeyTree(std::string_view rootName) {
  table_.assign(1024, 0);
  Key& root = Node(NewNode(Key::kNone, 0));
  root.flags_ = kPooledName;
  root.nameLow_ = PoolName(rootName);
}

KeyTree::~KeyTree() = default;

uint32_t KeyTree::PoolName(std::string_view name) {
  const uint32_t at = static_cast<uint32_t>(pool_.size());
  const uint32_t length = static_cast<uint32_t>(name.size());
  pool_.append(reinterpret_cast<const char*>(&length), sizeof length);
  pool_ += name;
  return at;
}

uint32_t KeyTree::NewNode(uint32_t parent, uint32_t hash) {
  const uint32_t id = count_;
  if ((id >> kChunkBits) == chunks_.size()) {
    chunks_.push_back(std::make_unique<Key[]>(size_t{1} << kChunkBits));
    chunkOf_.emplace(chunks_.back().get(),
                     static_cast<uint32_t>(chunks_.size() - 1));
  }
  ++count_;
  Key& key = Node(id);
  key.parent_ = parent;
  key.hash_ = hash;
  if (parent != Key::kNone) {
    Link(parent, id);
    Index(id);
  }
  return id;
}

// Makes `id` the last child of `parent`.
void KeyTree::Link(uint32_t parent, uint32_t id) {
  Key& key = Node(id);
  Key& above = Node(parent);
  if (above.lastChild_ == Key::kNone) {
    key.next_ = id;
  } else {
    Key& last = Node(above.lastChild_);
    key.next_ = last.next_;
    last.next_ = id;
  }
  above.lastChild_ = id;
}

uint32_t KeyTree::IdOf(const Key& key) const {
  // Loading mostly asks about keys it has just made, in the newest chunk;
  // that needs no search of the map.
  const Key* newest = chunks_.back().get();
  const std::less<const Key*> before;
  if (!before(&key, newest) && before(&key, newest + (size_t{1} << kChunkBits)))
    return (static_cast<uint32_t>(chunks_.size() - 1) << kChunkBits) |
           static_cast<uint32_t>(&key - newest);
  auto found = chunkOf_.upper_bound(&key);
  --found;  // the chunk that starts at or before the key
  return (found->second << kChunkBits) |
         static_cast<uint32_t>(&key - found->first);
}

void KeyTree::Index(uint32_t id) {
  if (!indexed_) return;
  if (static_cast<size_t>(count_) * 4 > table_.size() * 3) {
    Grow();  // which indexes every key made so far, this one too
    return;
  }
  Insert(id);
}

// A slot holds the key's number + 1 in the bits that index the table and
// the rest of its hash above them, so most probes never read a key.
void KeyTree::Insert(uint32_t id) const { InsertHashed(id, Node(id).hash_); }

void KeyTree::InsertHashed(uint32_t id, uint32_t hash) const {
  const uint32_t mask = static_cast<uint32_t>(table_.size() - 1);
  for (uint32_t slot = hash & mask;; slot = (slot + 1) & mask) {
    if (table_[slot] == 0) {
      table_[slot] = (id + 1) | (hash & ~mask);
      return;
    }
  }
}

void KeyTree::Grow() {
  const size_t size = table_.size() * 2;
  table_.clear();
  table_.shrink_to_fit();  // never both tables at once
  table_.assign(size, 0);
  // Re-inserted in the order they were made, so a name given twice still
  // finds the first key of that name.
  for (uint32_t id = 1; id < count_; ++id)
    if (!(Node(id).flags_ & kDeleted)) Insert(id);
}

std::string_view KeyTree::NameView(const Key& key,
                                   std::string& scratch) const {
  if (key.flags_ & kPooledName) {
    uint32_t length;
    std::memcpy(&length, pool_.data() + key.nameLow_, sizeof length);
    return std::string_view(pool_.data() + key.nameLow_ + sizeof length,
                            length);
  }
  const uint64_t at = static_cast<uint64_t>(key.nameHigh_) << 32 | key.nameLow_;
  return names_->Name(at, key.nameLength_, scratch);
}

std::string KeyTree::Name(const Key& key) const {
  std::string scratch;
  return std::string(NameView(key, scratch));
}

void KeyTree::AppendPath(std::string& out, const Key& key) const {
  if (key.parent_ == Key::kNone) return;
  AppendPath(out, Node(key.parent_));
  std::string scratch;
  out += '\\';
  out += NameView(key, scratch);
}

std::string KeyTree::Path(const Key& key) const {
  std::string path;
  AppendPath(path, key);
  return path.empty() ? path : path.substr(1);
}

std::string KeyTree::FullPath(const Key& key) const {
  std::string path;
  AppendFullPath(path, key);
  return path;
}

void KeyTree::AppendFullPath(std::string& out, const Key& key) const {
  std::string scratch;
  out += NameView(Root(), scratch);
  AppendPath(out, key);
}

Key* KeyTree::Parent(const Key& key) const {
  return key.parent_ == Key::kNone ? nullptr : &Node(key.parent_);
}

Key* KeyTree::FirstSubkey(const Key& key) const {
  return key.lastChild_ == Key::kNone ? nullptr
                                      : &Node(Node(key.lastChild_).next_);
}

Key* KeyTree::NextSibling(const Key& key) const {
  if (key.parent_ == Key::kNone) return nullptr;
  if (Node(key.parent_).lastChild_ == IdOf(key)) return nullptr;
  return &Node(key.next_);
}

std::vector<Key*> KeyTree::Subkeys(const Key& key) const {
  std::vector<Key*> out;
  for (Key* k = FirstSubkey(key); k != nullptr; k = NextSibling(*k))
    out.push_back(k);
  return out;
}

Key* KeyTree::FindSubkey(const Key& key, std::string_view name) const {
  return FindSubkey(key, name, NameHash(name));
}

Key* KeyTree::FindSubkey(const Key& key, std::string_view name,
                         uint32_t nameHash) const {
  if (key.lastChild_ == Key::kNone) return nullptr;
  Key* among = nullptr;
  if (!indexed_ && FindAmongSiblings(key, name, among)) return among;
  return FindInTable(key, name, nameHash);
}

Key* KeyTree::FindInTable(const Key& key, std::string_view name,
                          uint32_t nameHash) const {
  const uint32_t parent = IdOf(key);
  const uint32_t hash = Combine(parent, nameHash);
  const uint32_t mask = static_cast<uint32_t>(table_.size() - 1);
  std::string scratch;
  for (uint32_t slot = hash & mask; table_[slot] != 0;
       slot = (slot + 1) & mask) {
    const uint32_t entry = table_[slot];
    if ((entry & ~mask) != (hash & ~mask)) continue;
    Key& candidate = Node((entry & mask) - 1);
    if (candidate.hash_ == hash && candidate.parent_ == parent &&
        !(candidate.flags_ & kDeleted) &&
        NamesEqual(NameView(candidate, scratch), name))
      return &candidate;
  }
  return nullptr;
}

Key* KeyTree::FindPath(const Key& key, std::string_view path) const {
  Key* found = const_cast<Key*>(&key);
  if (path.empty()) return found;
  for (size_t start = 0;;) {
    const size_t end = std::min(path.find('\\', start), path.size());
    if (end == start) return nullptr;
    found = FindSubkey(*found, path.substr(start, end - start));
    if (found == nullptr || end == path.size()) return found;
    start = end + 1;
    if (start == path.size()) return nullptr;
  }
}

Key* KeyTree::AddSubkey(Key& key, const std::string& name) {
  const uint32_t parent = IdOf(key);
  NoteOrder(key, name);
  const uint32_t at = PoolName(name);
  Key& fresh = Node(NewNode(parent, Combine(parent, NameHash(name))));
  fresh.flags_ = kPooledName;
  fresh.nameLow_ = at;
  return &fresh;
}

// Keys below a deleted one stay in the table under their parent's number,
// which no live key has: they can no longer be reached.
void KeyTree::DeleteTree(Key& key) {
  if (key.parent_ == Key::kNone || (key.flags_ & kDeleted)) return;
  const uint32_t id = IdOf(key);
  Key& parent = Node(key.parent_);
  uint32_t before = parent.lastChild_;
  while (Node(before).next_ != id) before = Node(before).next_;
  if (before == id) {
    parent.lastChild_ = Key::kNone;  // it was the only child
  } else {
    Node(before).next_ = key.next_;
    if (parent.lastChild_ == id) parent.lastChild_ = before;
  }
  key.flags_ |= kDeleted;
  if (trackDeletions_ && id < loadedCount_) deletedByRun_.push_back(id);
}

bool KeyTree::IsLive(const Key& key) const {
  for (const Key* k = &key;; k = &Node(k->parent_)) {
    if (k->flags_ & kDeleted) return false;
    if (k->parent_ == Key::kNone) return true;
  }
}

void KeyTree::MarkLoaded() {
  loadedCount_ = count_;
  trackDeletions_ = true;
  deletedByRun_.clear();
}

// Keys are numbered as they are made, so a parent's number is below its
// subkeys'.
std::vector<Key*> KeyTree::CreatedKeys() const {
  std::vector<Key*> keys;
  for (uint32_t id = loadedCount_; id < count_; ++id)
    if (IsLive(Node(id))) keys.push_back(&Node(id));
  return keys;
}

// A loaded key's parent is a loaded key too: when it is no longer live,
// its own deletion (or one above it) covers this one.
std::vector<Key*> KeyTree::DeletedKeys() const {
  std::vector<Key*> keys;
  for (uint32_t id : deletedByRun_)
    if (IsLive(Node(Node(id).parent_))) keys.push_back(&Node(id));
  return keys;
}

// The table is left to the first lookup that the siblings cannot answer
// cheaply: a run that opens a few keys by name never needs it.
void KeyTree::BeginLoading() {
  if (count_ == 1) indexed_ = false;  // nothing indexed yet
}

bool KeyTree::FindAmongSiblings(const Key& key, std::string_view name,
                                Key*& found, const bool* afterLast) const {
  found = nullptr;
  if (!(key.flags_ & kUnsorted) &&
      (afterLast != nullptr ? *afterLast : CompareWithLast(key, name) > 0))
    return true;
  // Siblings in order end the search at the first name after this one.
  const bool ordered = !(key.flags_ & kUnsorted);
  std::string scratch;
  size_t seen = 0;
  for (Key* k = FirstSubkey(key); k != nullptr; k = NextSibling(*k)) {
    if (++seen > kSiblingScan) {
      BuildIndex();
      return false;
    }
    const std::string_view sibling = NameView(*k, scratch);
    if (ordered) {
      const int order = CompareNames(name, sibling);
      if (order < 0) break;
      if (order > 0) continue;
    } else if (!NamesEqual(sibling, name)) {
      continue;
    }
    found = k;
    break;
  }
  return true;
}

int KeyTree::CompareWithLast(const Key& key, std::string_view name) const {
  std::string scratch;
  return CompareNames(name, NameView(Node(key.lastChild_), scratch));
}

// Inserted in the order of their home slots, so that the table is written
// front to back rather than at random.
void KeyTree::BuildIndex() const {
  indexed_ = true;
  size_t size = 1024;
  while (size * 3 < static_cast<size_t>(count_) * 4) size *= 2;
  table_.assign(size, 0);
  size_t bits = 0;
  while ((size_t{1} << bits) < size) ++bits;
  const unsigned shift = bits > 16 ? static_cast<unsigned>(bits - 16) : 0;
  const uint32_t mask = static_cast<uint32_t>(size - 1);
  std::vector<uint32_t> start((size >> shift) + 1, 0);
  for (uint32_t id = 1; id < count_; ++id)
    if (!(Node(id).flags_ & kDeleted)) ++start[((Node(id).hash_ & mask) >> shift) + 1];
  for (size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
  // Each key's hash beside its number, so that inserting reads no node.
  std::vector<uint64_t> order(start.back());
  for (uint32_t id = 1; id < count_; ++id) {
    const Key& key = Node(id);
    if (!(key.flags_ & kDeleted))
      order[start[(key.hash_ & mask) >> shift]++] =
          static_cast<uint64_t>(key.hash_) << 32 | id;
  }
  for (uint64_t entry : order)
    InsertHashed(static_cast<uint32_t>(entry), static_cast<uint32_t>(entry >> 32));
}

// Out of order: later lookups among the siblings cannot stop at the last.
void KeyTree::NoteOrder(Key& key, std::string_view name) const {
  if (indexed_ || key.lastChild_ == Key::kNone || (key.flags_ & kUnsorted))
    return;
  if (CompareWithLast(key, name) <= 0) key.flags_ |= kUnsorted;
}

// While the siblings are in order, one comparison with the last tells a
// new name after it, and keeps the order known for the key it adds.
Key* KeyTree::FindOrAddSourceSubkey(Key& key, std::string_view name,
                                    uint32_t nameHash, uint64_t at,
                                    size_t length) {
  if (key.lastChild_ != Key::kNone) {
    Key* found = nullptr;
    const bool ordered = !indexed_ && !(key.flags_ & kUnsorted);
    const bool afterLast = ordered && CompareWithLast(key, name) > 0;
    if (indexed_ || !FindAmongSiblings(key, name, found, &afterLast))
      found = FindInTable(key, name, nameHash);
    if (found != nullptr) return found;
    if (ordered && !afterLast && !indexed_) key.flags_ |= kUnsorted;
  }
  const uint32_t parent = IdOf(key);
  Key& fresh = Node(NewNode(parent, Combine(parent, nameHash)));
  fresh.nameLow_ = static_cast<uint32_t>(at);
  fresh.nameHigh_ = static_cast<uint16_t>(at >> 32);
  fresh.nameLength_ = static_cast<uint16_t>(length);
  return &fresh;
}

}  // namespace hostreg
