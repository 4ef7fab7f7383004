// A fresh emulated machine per test: drive C: is a new temporary host
// directory, and a recording main window collects every results line and
// status text the code sends.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/shared_state.h"
#include "platform/emu/machine.h"

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new temporary host directory, removed after the test.
  std::string NewHostDir();
  // Host directory behind drive C:.
  const std::string& Root() const { return root_; }

  // Creates a file (and its parents) at a Windows path on a mapped drive,
  // e.g. "C:\\dir\\a.txt".
  void WriteFile(const std::string& windowsPath, const std::string& content = "x");
  void MakeDir(const std::string& windowsPath);
  bool Exists(const std::string& windowsPath);
  std::string ReadFile(const std::string& windowsPath);
  // The names FindFirstFileA/FindNextFileA give for `pattern`, in order.
  static std::vector<std::string> List(const char* pattern);

  // Makes MainWindow a window that records lines (request 11) and statuses
  // (request 10).
  void InstallMainWindow();
  const std::vector<std::string>& Lines() const { return lines_; }
  const std::vector<std::string>& Statuses() const { return statuses_; }

 private:
  std::string HostFor(const std::string& windowsPath);
  std::string root_;
  std::vector<std::string> dirs_;
  std::vector<std::string> lines_;
  std::vector<std::string> statuses_;
};
