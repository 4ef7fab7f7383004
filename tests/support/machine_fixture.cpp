// The per-test emulated machine.
#include "tests/support/machine_fixture.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

void MachineTest::SetUp() {
  emu::ResetMachine();
  root_ = NewHostDir();
  emu::MapDrive('C', root_);
  lines_.clear();
  statuses_.clear();
}

void MachineTest::TearDown() {
  emu::ResetMachine();
  for (const auto& d : dirs_) {
    std::error_code ec;
    fs::permissions(d, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(d, ec);
  }
  dirs_.clear();
}

std::string MachineTest::NewHostDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/sorvane-test-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back(0);
  const char* made = mkdtemp(buf.data());
  EXPECT_NE(made, nullptr);
  dirs_.push_back(made ? made : "");
  return made ? made : "";
}

std::string MachineTest::HostFor(const std::string& windowsPath) {
  // Maps through the drive table with the path's own spelling.
  std::string rest = windowsPath.substr(2);
  for (auto& c : rest) {
    if (c == '\\') c = '/';
  }
  std::string drive = windowsPath.substr(0, 2) + "\\";
  std::string base = emu::HostPath(drive);
  EXPECT_FALSE(base.empty()) << "drive not mapped: " << windowsPath;
  return base + rest;
}

void MachineTest::WriteFile(const std::string& windowsPath, const std::string& content) {
  std::string host = HostFor(windowsPath);
  fs::create_directories(fs::path(host).parent_path());
  std::ofstream out(host, std::ios::binary);
  out << content;
}

void MachineTest::MakeDir(const std::string& windowsPath) { fs::create_directories(HostFor(windowsPath)); }

bool MachineTest::Exists(const std::string& windowsPath) { return !emu::HostPath(windowsPath).empty(); }

std::string MachineTest::ReadFile(const std::string& windowsPath) {
  std::ifstream in(emu::HostPath(windowsPath), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void MachineTest::InstallMainWindow() {
  MainWindow = emu::CreateWindow([this](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == AddLineMessage) lines_.push_back(LogLine);
    if (message == RefreshStatusMessage) statuses_.push_back(StatusText);
    return 0;
  });
}

std::vector<std::string> MachineTest::List(const char* pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(pattern, &data);
  if (h == INVALID_HANDLE_VALUE) return names;
  do names.push_back(data.cFileName);
  while (FindNextFileA(h, &data));
  FindClose(h);
  return names;
}
