// The whole scan over the forge's full sample set: exactly one "removed"
// line per sample, under its own name, and none for any near miss.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>

#include "engine/scan_run.h"
#include "engine/shared_state.h"
#include "scanners/signature_record.h"
#include "tests/support/machine_fixture.h"
#include "tools/forge/forge.h"

namespace {

class BackdoorCorpusTest : public MachineTest {};

TEST_F(BackdoorCorpusTest, ScanRemovesEverySampleAndNoNearMiss) {
  std::vector<forge::CorpusEntry> corpus;
  std::string why;
  ASSERT_TRUE(forge::WriteCorpus(Root(), 0, &corpus, &why)) << why;
  InstallMainWindow();
  ActionMode = ActionClean;

  const auto start = std::chrono::steady_clock::now();
  ScanRun();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  // path -> detection names of its "removed" lines
  std::map<std::string, std::vector<std::string>> removed;
  for (const std::string& line : Lines()) {
    const size_t gap = line.find("     ");
    const std::string tail = " removed";
    if (gap == std::string::npos || line.size() < tail.size() ||
        line.compare(line.size() - tail.size(), tail.size(), tail) != 0)
      continue;
    removed[line.substr(0, gap)].push_back(
        line.substr(gap + 5, line.size() - gap - 5 - tail.size()));
  }
  int samples = 0;
  for (const forge::CorpusEntry& e : corpus) {
    std::string path = "C:\\" + e.path;
    for (char& c : path)
      if (c == '/') c = '\\';
    if (e.expected.empty()) {
      EXPECT_EQ(removed.count(path), 0u) << "near miss removed: " << path;
      EXPECT_TRUE(Exists(path)) << path;
    } else {
      ++samples;
      EXPECT_EQ(removed[path], std::vector<std::string>{e.expected}) << path;
      EXPECT_FALSE(Exists(path)) << path;
    }
  }
  EXPECT_EQ(samples, BackdoorSignatureCount + ArchiveSignatureCount + 8);
  EXPECT_EQ(FilesRemoved, samples);
  EXPECT_EQ(FilesInfected, samples);
  RecordProperty("seconds", std::to_string(seconds));
  std::printf("[ corpus   ] %zu files (%d samples) scanned in %.3f s, %.0f files/s\n",
              corpus.size(), samples, seconds, corpus.size() / seconds);
}

}  // namespace
