// Key trees that the writer could not change safely, crafted from the real
// Windows 98 SYSTEM.DAT with every link consistent: loading must refuse
// them, since a save would corrupt them without noticing. A free-node list
// that cannot be trusted refuses only the saves that take or free a node.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "creg_support.h"
#include "test_support.h"

namespace regtest {
namespace {

constexpr size_t kTree = 0x20;  // the key tree's file offset
constexpr uint32_t kNone = 0xFFFFFFFF;

uint32_t Rel(size_t node) { return static_cast<uint32_t>(node - kTree); }

// The dword that links to the node at file offset `node`: its parent's
// first-child field or its previous sibling's next field.
size_t LinkTo(const std::string& d, size_t node) {
  size_t link = kTree + Le32(d, node + 12) + 16;
  while (Le32(d, link) != Rel(node)) link = kTree + Le32(d, link) + 20;
  return link;
}

// Takes a leaf key that is its parent's last child out of the tree; its
// record is then free for another node to own. Returns the record's
// id and block as a node holds them.
uint32_t Detach(std::string& d, const std::string& path) {
  const size_t node = NodeOf(d, path);
  EXPECT_NE(0u, node) << path;
  EXPECT_EQ(kNone, Le32(d, node + 16)) << path;
  EXPECT_EQ(kNone, Le32(d, node + 20)) << path;
  SetLe32(d, LinkTo(d, node), kNone);
  return Le32(d, node + 24);
}

// Moves the node of a leaf key that is its parent's last child to `to`
// (a file offset) and numbers its record `id`.
size_t MoveLeaf(std::string& d, const std::string& path, size_t to,
                uint16_t id) {
  const size_t node = NodeOf(d, path);
  EXPECT_NE(0u, node) << path;
  SetLe16(d, RecordOf(d, node) + 4, id);
  SetLe16(d, node + 24, id);
  const std::string bytes = d.substr(node, 28);
  SetLe32(d, LinkTo(d, node), Rel(to));
  d.replace(to, 28, bytes);
  return to;
}

void WriteNode(std::string& d, size_t at, uint32_t parent, uint32_t child,
               uint32_t next, uint32_t record) {
  d.replace(at, 12, std::string(12, '\0'));
  SetLe32(d, at + 12, parent);
  SetLe32(d, at + 16, child);
  SetLe32(d, at + 20, next);
  SetLe32(d, at + 24, record);
}

const char kPatches[] = "System\\CurrentControlSet\\Control\\SessionManager\\AppPatches\\";

// Node B starts 4 bytes into node A. B's parent link is A's child link (C),
// B's child link A's sibling link (none), B's sibling link A's record id
// and block, which lead to node D ("Nkey"). Moving A's record would
// rewrite B's sibling link and lose D.
std::string NodeInsideAnother() {
  std::string d = Win98System();
  // Unused places of the key tree's last page.
  const size_t a = kTree + 0x22af0, c = kTree + 0x22b44, nkey = kTree + 0x22b7c;
  const uint32_t cRecord = Detach(d, std::string(kPatches) + "PP4\\01 0808 1A0853280203CA00 00\\8");
  const uint32_t bRecord = Detach(d, std::string(kPatches) + "PP3\\ff 0601023e0a0300 0407803918 00\\6f");
  const uint32_t dRecord = Detach(d, std::string(kPatches) + "DIBWND\\01 08084A00FB0041830200 00\\1");
  // A's record is in block 2, so its id and block read as D's offset.
  MoveLeaf(d, std::string(kPatches) + "PP4\\01 0808 240845280203CB00 00\\e", a,
           static_cast<uint16_t>(Rel(nkey)));
  EXPECT_EQ(Rel(nkey), Le32(d, a + 24));
  SetLe32(d, a + 16, Rel(c));
  WriteNode(d, c, Rel(a), Rel(a) + 4, kNone, cRecord);
  SetLe32(d, a + 4 + 24, bRecord);  // B's own record, in the next place
  WriteNode(d, nkey, Rel(c), kNone, kNone, dRecord);
  return d;
}

// Two nodes: one 28 bytes from the header's end at 0x1ff4, one at the start
// of the page at 0x2000 (an existing key's). The first one's record id and
// block are the second one's parent link. The header's grid stops short of
// 0x1ff4 so that no node runs into the page at 0x2000.
std::string NodeRunningIntoAPage() {
  std::string d = Win98System();
  const size_t second = kTree + 0x2000;
  const uint32_t secondParent = Le32(d, second + 12);
  const size_t first = MoveLeaf(
      d, "System\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Print Processors",
      kTree + 0x1ff4, static_cast<uint16_t>(secondParent));
  EXPECT_EQ(0u, secondParent >> 16);  // its record is in block 0
  EXPECT_EQ(secondParent, Le32(d, first + 24));
  return d;
}

TEST(CregStructure, RefusesNodesTheWriterWouldCorrupt) {
  struct Case {
    const char* name;
    std::function<std::string()> make;
    const char* message;
  };
  const Case cases[] = {
      {"a node 4 bytes into another", NodeInsideAnother,
       "not where the key tree keeps nodes"},
      {"a node running into the page at 0x2000", NodeRunningIntoAPage,
       "not where the key tree keeps nodes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string crafted = c.make();
    auto loaded = LoadCreg(crafted);
    EXPECT_FALSE(loaded->file) << "loaded " << loaded->keys << " keys";
    EXPECT_EQ(0u, loaded->error.find("SYSTEM.DAT: not a usable Windows 9x registry file: "))
        << loaded->error;
    EXPECT_NE(std::string::npos, loaded->error.find(c.message)) << loaded->error;
    // Through the program: exit 2 and the file left as it was.
    CopyRun run = RunOnCopy(crafted, {"/SSP:0"});
    EXPECT_EQ(2, run.status);
    EXPECT_TRUE(crafted == run.after);
  }
}

constexpr size_t kFirstFree = kTree + 12;

// The keys whose nodes sit at 0x1fd8 and 0x2000 taken out of the tree
// (leaves, neighbours among their siblings), and one free stretch from
// 0x1fd8 to the node at 0x201c put at the head of the free list.
std::string FreeStretchAcrossTheHeadersGrid() {
  std::string d = Win98System();
  const size_t before = kTree + 0x1fbc, first = kTree + 0x1fd8, second = kTree + 0x2000;
  EXPECT_EQ(Rel(first), Le32(d, before + 20));
  EXPECT_EQ(Rel(second), Le32(d, first + 20));
  EXPECT_EQ(kNone, Le32(d, first + 16));
  EXPECT_EQ(kNone, Le32(d, second + 16));
  SetLe32(d, before + 20, Le32(d, second + 20));
  SetLe32(d, first, 0x80000000);
  SetLe32(d, first + 4, 0x201c - 0x1fd8);
  SetLe32(d, first + 8, Le32(d, kFirstFree));
  SetLe32(d, kFirstFree, Rel(first));
  return d;
}

// The second new node comes from the page at 0x2000, not from 0x1ff4 where
// it would run into that page.
TEST(CregStructure, NewNodesFollowTheGridIntoThePageAt0x2000) {
  const std::string crafted = FreeStretchAcrossTheHeadersGrid();
  ASSERT_TRUE(LoadCreg(crafted)->file);
  const std::string merge = TempDir() + "/two.reg";
  WriteFile(merge, Reg("[HKEY_LOCAL_MACHINE\\Software\\One]\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\Two]\n"));
  CopyRun run = RunOnCopy(crafted, {"--merge", merge});
  ASSERT_EQ(0, run.status) << run.err;
  const std::set<size_t> nodes = {NodeOf(run.after, "Software\\One"),
                                   NodeOf(run.after, "Software\\Two")};
  EXPECT_EQ((std::set<size_t>{kTree + 0x1fd8, kTree + 0x2000}), nodes);
  auto saved = LoadCreg(run.after);
  EXPECT_TRUE(saved->file) << saved->error;
}

// The first node on the free list whose next place holds a key's node.
size_t FreeBeforeALiveNode(const std::string& d) {
  for (uint32_t rel = Le32(d, kFirstFree); rel != kNone; rel = Le32(d, kTree + rel + 8))
    if (Le32(d, kTree + rel + 28) == 0) return kTree + rel;
  ADD_FAILURE() << "no free node before a key's node";
  return kTree + Le32(d, kFirstFree);
}

TEST(CregStructure, AFreeNodeListItCannotFollowRefusesSavesThatNeedANode) {
  const std::string& d = Win98System();
  const size_t root = kTree + Le32(d, kTree + 8);
  const size_t firstFree = kTree + Le32(d, kFirstFree);
  struct Case {
    const char* name;
    std::function<void(std::string&)> damage;
  };
  const Case cases[] = {
      {"first free node out of range", [](std::string& s) { SetLe32(s, kFirstFree, 0x7FFFFFF0); }},
      {"first free node a key's", [&](std::string& s) { SetLe32(s, kFirstFree, Le32(d, root + 16)); }},
      {"a free node linked to itself",
       [&](std::string& s) { SetLe32(s, firstFree + 8, Rel(firstFree)); }},
      {"a free node without its mark", [&](std::string& s) { SetLe32(s, firstFree, 0); }},
      {"a stretch past the tree's end",
       [&](std::string& s) { SetLe32(s, firstFree + 4, Le32(d, kTree + 4)); }},
      {"a stretch over a key's node",
       [&](std::string& s) { SetLe32(s, FreeBeforeALiveNode(d) + 4, 56); }},
  };
  const std::string add = TempDir() + "/add.reg", remove = TempDir() + "/remove.reg";
  WriteFile(add, Reg("[HKEY_LOCAL_MACHINE\\Software\\Added]\n"));
  WriteFile(remove, Reg("[-HKEY_LOCAL_MACHINE\\Enum\\PCI]\n"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string damaged = d;
    c.damage(damaged);
    for (const std::string& merge : {add, remove}) {
      CopyRun run = RunOnCopy(damaged, {"--merge", merge});
      EXPECT_EQ(2, run.status);
      EXPECT_NE(std::string::npos, run.err.find("key tree's list of free nodes")) << run.err;
      EXPECT_TRUE(damaged == run.after);
      CopyRun preview = RunOnCopy(damaged, {"--merge", merge, "--dry-run"});
      EXPECT_EQ(0, preview.status);
      EXPECT_NE(std::string::npos, preview.err.find("a save would be refused: ")) << preview.err;
      EXPECT_NE(std::string::npos, preview.err.find("list of free nodes")) << preview.err;
    }
    // Changing values takes no node.
    CopyRun run = RunOnCopy(damaged, {"/SSP:0"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_FALSE(damaged == run.after);
  }
  // The file as it is: both merges save.
  for (const std::string& merge : {add, remove})
    EXPECT_EQ(0, RunOnCopy(d, {"--merge", merge}).status);
}

}  // namespace
}  // namespace regtest
