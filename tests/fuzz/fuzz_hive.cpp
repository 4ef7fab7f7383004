// Fuzz target: the hive layer. The input is a hive file followed by its
// transaction logs (the hive's length from its base block, each log from
// a "regf" sector at a 512-byte boundary of the rest). The logs are
// replayed, the tree read, and on a hive that reads a value and a key are
// removed, a value set and a key added: the result must read again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/sorvane-offline/regf/edit.h"
#include "tools/sorvane-offline/regf/replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t hiveSize = size;
  if (size >= 48) hiveSize = std::min<size_t>(size, regf::BaseBlockSize + size_t(regf::Get32(data + 40)));
  regf::Bytes hive(data, data + hiveSize);
  std::vector<regf::LogFile> logs;
  for (size_t at = hiveSize; at + 4 <= size; at += 512) {
    if (std::memcmp(data + at, "regf", 4) == 0) logs.push_back({"log", {}});
    if (!logs.empty()) {
      size_t end = std::min(size, at + 512);
      logs.back().bytes.insert(logs.back().bytes.end(), data + at, data + end);
    }
  }
  regf::Replay(&hive, logs);
  regf::Image image;
  regf::Tree tree;
  std::string why;
  if (!image.Open(hive, &why) || !regf::ReadTree(image, &tree, &why)) return 0;
  regf::Editor editor(image, tree);
  for (size_t k = 0; k < tree.keys.size(); ++k) {
    if (!tree.keys[k].values.empty()) {
      editor.RemoveValue(k, 0, &why);
      break;
    }
  }
  if (tree.keys.size() > 1) editor.RemoveKey(tree.keys.size() - 1, &why);
  size_t added = 0;
  editor.SetValue(0, regf::Editor::npos, u"fuzz", 3, std::string(size % 20000, 'F'), &why);
  editor.AddKey(0, u"Fuzz\xD800", 1, &added, &why);
  editor.Seal(7, 1);
  regf::Image again;
  regf::Tree againTree;
  if (!again.Open(image.bytes(), &why) || !regf::ReadTree(again, &againTree, &why)) {
    std::fprintf(stderr, "fuzz_hive: a changed hive does not read back: %s\n", why.c_str());
    std::abort();
  }
  return 0;
}
