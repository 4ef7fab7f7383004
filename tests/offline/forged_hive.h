// Forged hive files for the rescue tests: an empty hive from the forge,
// filled with values through hivex.
#pragma once

#include <gtest/gtest.h>
#include <hivex.h>

#include <fstream>
#include <string>
#include <vector>

#include "tools/forge/forge.h"

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// UTF-16LE bytes of text, with the terminator the registry stores.
inline std::string Utf16(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out + std::string(2, '\0');
}

struct Val {
  std::string key;  // below the root, backslashes
  std::string name;
  hive_type type;
  std::string data;
};

inline hive_node_h Path(hive_h* h, const std::string& path, bool create) {
  hive_node_h node = hivex_root(h);
  size_t at = 0;
  while (at < path.size()) {
    size_t end = path.find('\\', at);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(at, end - at);
    hive_node_h child = hivex_node_get_child(h, node, part.c_str());
    if (!child && create) child = hivex_node_add_child(h, node, part.c_str());
    if (!child) return 0;
    node = child;
    at = end + 1;
  }
  return node;
}

// A forged hive holding `values` (keys created as needed); its bytes.
inline std::string MakeHive(const std::string& path, const std::vector<Val>& values) {
  forge::Bytes empty = forge::EmptyHive("ROOT");
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(empty.data()), empty.size());
  hive_h* h = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
  EXPECT_TRUE(h) << path;
  for (const auto& v : values) {
    hive_node_h node = Path(h, v.key, true);
    hive_set_value set{const_cast<char*>(v.name.c_str()), v.type, v.data.size(),
                       const_cast<char*>(v.data.data())};
    if (!v.name.empty() || v.type != hive_t_REG_NONE) hivex_node_set_value(h, node, &set, 0);
  }
  EXPECT_EQ(0, hivex_commit(h, nullptr, 0));
  hivex_close(h);
  return Slurp(path);
}
