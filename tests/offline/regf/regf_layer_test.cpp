// The hive layer on its own: Marvin32 against published vectors, replay of
// forged dirty hives, hostile hives refused (never a hang), and removals
// that leave every byte they do not need.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "tools/forge/forge_hive_builder.h"
#include "tools/sorvane-offline/regf/marvin32.h"
#include "tools/sorvane-offline/regf/replay.h"

namespace {

using regf::Bytes;

// "path" for each key and "path|name=type:data" for each readable value.
std::vector<std::string> Dump(const Bytes& hive) {
  regf::Image image;
  regf::Tree tree;
  std::string why;
  if (!image.Open(hive, &why) || !regf::ReadTree(image, &tree, &why)) return {"unreadable: " + why};
  std::vector<std::string> out;
  std::vector<std::string> paths(tree.keys.size());
  for (size_t k = 0; k < tree.keys.size(); ++k) {
    std::string name(tree.keys[k].name.begin(), tree.keys[k].name.end());
    paths[k] = k == 0 ? "" : paths[tree.keys[k].parent] + "\\" + name;
    out.push_back(paths[k]);
    for (const auto& v : tree.keys[k].values) {
      out.push_back(paths[k] + "|" + std::string(v.name.begin(), v.name.end()) + "=" + std::to_string(v.type) + ":" +
                    (v.readable ? v.data : "<unreadable>"));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(RegfLayerTest, Marvin32MatchesPublishedVectors) {
  const struct {
    uint64_t seed;
    std::vector<uint8_t> data;
    uint64_t hash;
  } cases[] = {
      {0x004FB61A001BDBCCull, {}, 0x30ED35C100CD3C7Dull},
      {0x004FB61A001BDBCCull, {0xaf}, 0x48E73FC77D75DDC1ull},
      {0x004FB61A001BDBCCull, {0xe7, 0x0f}, 0xB5F6E1FC485DBFF8ull},
      {0x004FB61A001BDBCCull, {0x37, 0xf4, 0x95}, 0xF0B07C789B8CF7E8ull},
      {0x004FB61A001BDBCCull, {0x86, 0x42, 0xdc, 0x59}, 0x7008F2E87E9CF556ull},
      {0x004FB61A001BDBCCull, {0xab, 0x42, 0x7e, 0xa8, 0xd1, 0x0f, 0xc7}, 0xE11847E4F0678C41ull},
      {0x804FB61A001BDBCCull, {}, 0x10A9D5D3996FD65Dull},
  };
  for (const auto& c : cases) EXPECT_EQ(c.hash, regf::Marvin32(c.data.data(), c.data.size(), c.seed));
}

// Each forged dirty hive replays to the state its logs hold, in either
// order of LOG1 and LOG2; a corrupted entry or dirty bin, or missing
// logs, leave it incomplete (an old-format hive exactly as it was).
TEST(RegfLayerTest, DirtyHivesReplayToTheStateTheirLogsHold) {
  const struct {
    const char* name;
    forge::HiveLogFormat format;
    bool corrupt, swap, drop, complete;
  } cases[] = {
      {"new", forge::HiveLogFormat::New, false, false, false, true},
      {"new, LOG2 read first", forge::HiveLogFormat::New, false, true, false, true},
      {"old", forge::HiveLogFormat::Old, false, false, false, true},
      {"new, corrupt last entry", forge::HiveLogFormat::New, true, false, false, false},
      {"old, corrupt dirty bin", forge::HiveLogFormat::Old, true, false, false, false},
      {"logs missing", forge::HiveLogFormat::New, false, false, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    forge::DirtyHive d = forge::MakeDirtyHive(c.format, c.corrupt);
    std::vector<regf::LogFile> logs;
    for (const auto& l : d.logs) logs.push_back({l.suffix, l.bytes});
    if (c.swap) std::reverse(logs.begin(), logs.end());
    if (c.drop) logs.clear();
    Bytes hive = d.primary;
    regf::ReplayResult r = regf::Replay(&hive, logs);
    EXPECT_TRUE(r.dirty);
    EXPECT_EQ(c.complete, r.complete) << r.why;
    EXPECT_EQ(c.complete, r.why.empty()) << r.why;
    if (c.complete) {
      EXPECT_EQ(Dump(d.expected), Dump(hive));
      EXPECT_TRUE(std::equal(hive.begin() + 4096, hive.end(), d.expected.begin() + 4096, d.expected.end()));
    } else if (c.format == forge::HiveLogFormat::Old || c.drop) {
      EXPECT_EQ(d.primary, hive);
    }
  }
}

// A forged hive with Run values and a chain of keys, and the offsets of
// its cells, for patching.
struct Forged {
  forge::HiveBuilder b{forge::EmptyHive("ROOT")};
  Forged() {
    b.Set(u"A\\B", u"v", 4, std::string("\1\0\0\0", 4));
    b.Set(u"Run", u"bad", 1, forge::Utf16z(u"C:\\bad.exe"));
    b.Set(u"Run", u"gone", 1, forge::Utf16z(u"C:\\gone.exe"));
    b.Set(u"Run", u"kept", 1, forge::Utf16z(u"C:\\kept.exe"));
  }
  uint8_t* Cell(uint32_t off) {
    size_t length;
    return b.image.MutableCell(off, &length);
  }
  Bytes Sealed() { return b.Sealed(1); }
};

// Hostile hives are refused with a reason, fast; a value whose data length
// passes its cell is read as unreadable and the rest of the hive loads.
TEST(RegfLayerTest, HostileHivesAreBounded) {
  const struct {
    const char* name;
    std::function<Bytes(Forged&)> make;
    const char* refused;  // part of the reason, or null when it loads
  } cases[] = {
      {"subkey list naming its own key",
       [](Forged& f) {
         size_t a = f.b.Key(u"A");
         uint8_t* nk = f.Cell(f.b.tree.keys[a].cell);
         regf::Put32(f.Cell(regf::Get32(nk + regf::KeySubkeyList)) + 4, f.b.tree.keys[a].cell);
         return f.Sealed();
       },
       "reached twice"},
      {"subkey list naming the root",
       [](Forged& f) {
         uint8_t* nk = f.Cell(f.b.tree.keys[f.b.Key(u"A")].cell);
         regf::Put32(f.Cell(regf::Get32(nk + regf::KeySubkeyList)) + 4, f.b.tree.keys[0].cell);
         return f.Sealed();
       },
       "reached twice"},
      {"bins size 0x7ffff000",
       [](Forged& f) {
         Bytes b = f.Sealed();
         regf::Put32(&b[regf::BinsSize], 0x7ffff000u);
         regf::SealBase(b.data(), 1);
         return b;
       },
       "size of bins"},
      {"keys nested 600 deep",
       [](Forged& f) {
         std::u16string path = u"D";
         for (int i = 0; i < 600; ++i) path += u"\\D";
         f.b.Key(path);
         return f.Sealed();
       },
       "deeper"},
      {"file cut short", [](Forged& f) { Bytes b = f.Sealed(); b.resize(b.size() - 4096); return b; }, "size of bins"},
      {"cell size running past its bin",
       [](Forged& f) {
         Bytes b = f.Sealed();
         regf::Put32(&b[4096 + 32], 0x10000);
         return b;
       },
       "bad cell"},
      {"data length beyond its cell",
       [](Forged& f) {
         size_t run = f.b.Key(u"Run");
         regf::Put32(f.Cell(f.b.tree.keys[run].values[0].cell) + 4, 0x7000);
         return f.Sealed();
       },
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Forged f;
    Bytes hive = c.make(f);
    regf::Image image;
    regf::Tree tree;
    std::string why;
    bool read = image.Open(hive, &why) && regf::ReadTree(image, &tree, &why);
    EXPECT_EQ(c.refused == nullptr, read) << why;
    if (c.refused) {
      EXPECT_NE(std::string::npos, why.find(c.refused)) << why;
    }
    if (!c.refused) {
      const auto dump = Dump(hive);
      EXPECT_NE(dump.end(), std::find(dump.begin(), dump.end(), "\\Run|bad=1:<unreadable>"));
      EXPECT_NE(dump.end(), std::find(dump.begin(), dump.end(), "\\A\\B|v=4:" + std::string("\1\0\0\0", 4)));
    }
  }
}

// A cell that a hostile hive names from the wrong place (a value list
// entry, a value's data or a class without length naming another key's
// node) stays with its owner when the key naming it goes.
TEST(RegfLayerTest, CellsNamedFromTheWrongPlaceStayWithTheirOwner) {
  const struct {
    const char* name;
    std::function<void(Forged&, uint32_t runNode, uint8_t* nk)> point;  // nk: A\B's node
  } cases[] = {
      {"value list entry",
       [](Forged& f, uint32_t run, uint8_t* nk) { regf::Put32(f.Cell(regf::Get32(nk + regf::KeyValueList)), run); }},
      {"value data",
       [](Forged& f, uint32_t run, uint8_t* nk) {
         uint8_t* vk = f.Cell(regf::Get32(f.Cell(regf::Get32(nk + regf::KeyValueList))));
         regf::Put32(vk + 4, 8);
         regf::Put32(vk + 8, run);
       }},
      {"class without length", [](Forged&, uint32_t run, uint8_t* nk) { regf::Put32(nk + regf::KeyClass, run); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Forged f;
    const uint32_t run = f.b.tree.keys[f.b.Key(u"Run")].cell;
    c.point(f, run, f.Cell(f.b.tree.keys[f.b.Key(u"A\\B")].cell));
    Bytes hive = f.Sealed();
    std::vector<std::string> expected = Dump(hive);
    expected.erase(std::remove_if(expected.begin(), expected.end(),
                                  [](const std::string& line) { return line.rfind("\\A", 0) == 0; }),
                   expected.end());
    regf::Image image;
    regf::Tree tree;
    std::string why;
    ASSERT_TRUE(image.Open(hive, &why) && regf::ReadTree(image, &tree, &why)) << why;
    regf::Editor editor(image, tree);
    size_t a = 0;
    for (size_t s : tree.keys[0].subkeys) a = tree.keys[s].name == u"A" ? s : a;
    ASSERT_TRUE(editor.RemoveKey(a, &why)) << why;
    editor.Seal(2, 1);
    EXPECT_EQ(expected, Dump(image.bytes()));
  }
}

// Removing a value beside one that cannot be read, or a key, changes only
// the key's value list (or the parent's subkey list), the freed cells'
// size fields and what is appended: every other byte stays.
TEST(RegfLayerTest, RemovalsChangeOnlyTheCellsTheyNeed) {
  for (bool wholeKey : {false, true}) {
    SCOPED_TRACE(wholeKey ? "key" : "value");
    Forged f;
    size_t run = f.b.Key(u"Run");
    regf::Put32(f.Cell(f.b.tree.keys[run].values[0].cell) + 4, 0x7000);  // "bad" cannot be read
    Bytes before = f.Sealed();
    regf::Image image;
    regf::Tree tree;
    std::string why;
    ASSERT_TRUE(image.Open(before, &why) && regf::ReadTree(image, &tree, &why)) << why;
    regf::Editor editor(image, tree);
    auto child = [&](const std::u16string& name) {
      for (size_t s : tree.keys[0].subkeys) {
        if (tree.keys[s].name == name) return s;
      }
      return size_t(0);
    };
    run = child(u"Run");
    const size_t a = child(u"A");
    std::vector<uint32_t> allowed;  // cells whose bytes may change
    const regf::Key& key = tree.keys[wholeKey ? a : run];
    size_t length;
    const uint8_t* owner = image.CellData(wholeKey ? tree.keys[0].cell : key.cell, &length);
    allowed.push_back(wholeKey ? tree.keys[0].cell : key.cell);
    allowed.push_back(regf::Get32(owner + (wholeKey ? regf::KeySubkeyList : regf::KeyValueList)));
    allowed.push_back(regf::Get32(owner + regf::KeySecurity));  // its reference count
    if (wholeKey) {
      ASSERT_TRUE(editor.RemoveKey(a, &why)) << why;
    } else {
      ASSERT_TRUE(editor.RemoveValue(run, 1, &why)) << why;
    }
    editor.Seal(2, 0x01D0000000000000ull);
    const Bytes& after = image.bytes();
    std::vector<std::string> expected = Dump(before);
    expected.erase(std::remove_if(expected.begin(), expected.end(),
                                  [&](const std::string& line) {
                                    return wholeKey ? line.rfind("\\A", 0) == 0 : line.rfind("\\Run|gone=", 0) == 0;
                                  }),
                   expected.end());
    EXPECT_EQ(expected, Dump(after));
    for (size_t at = 4096; at < before.size(); ++at) {
      if (before[at] == after[at]) continue;
      uint32_t off = uint32_t(at - 4096);
      bool inAllowed = false;
      for (uint32_t cell : allowed) {
        int32_t size = int32_t(regf::Get32(&before[4096 + cell]));
        inAllowed = inAllowed || (off >= cell && off < cell + uint32_t(size < 0 ? -size : size));
      }
      bool sizeField = (regf::Get32(&after[4096 + (off & ~3u)]) & 0x80000000u) == 0 &&
                       int32_t(regf::Get32(&before[4096 + (off & ~3u)])) ==
                           -int32_t(regf::Get32(&after[4096 + (off & ~3u)]));
      EXPECT_TRUE(inAllowed || sizeField) << "byte at bins offset " << off << " changed";
    }
  }
}

}  // namespace
