// Scratch trees through the real Win32 file calls.
#include "support/scratch_tree.h"

#include <gtest/gtest.h>

namespace {

// "\\?\" + path, widened (the test paths are ASCII).
std::wstring Extended(const std::string& path) {
  std::wstring out = L"\\\\?\\";
  for (unsigned char c : path) out += static_cast<wchar_t>(c);
  return out;
}

// The ANSI calls the scanner uses where the path allows, the wide ones
// beyond MAX_PATH.
bool MakeDirectory(const std::string& path) {
  if (path.size() < MAX_PATH) return CreateDirectoryA(path.c_str(), nullptr) != 0;
  return CreateDirectoryW(Extended(path).c_str(), nullptr) != 0;
}

HANDLE MakeFile(const std::string& path) {
  if (path.size() < MAX_PATH) {
    return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  return CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool MakeDirectories(const std::string& path) {
  for (size_t at = path.find('\\', 3); ; at = path.find('\\', at + 1)) {
    std::string part = path.substr(0, at);
    if (!MakeDirectory(part) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
    if (at == std::string::npos) return true;
  }
}

}  // namespace

bool RemoveTree(const std::string& dir) {
  std::wstring wdir = Extended(dir);
  DWORD attributes = GetFileAttributesW(wdir.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW((wdir + L"\\*").c_str(), &data);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::string narrow(name.begin(), name.end());
      std::string child = dir + "\\" + narrow;
      // Links are removed themselves, never followed.
      bool descend = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                     !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
      if (descend) {
        RemoveTree(child);
      } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryW(Extended(child).c_str());
      } else {
        SetFileAttributesW(Extended(child).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(Extended(child).c_str());
      }
    } while (FindNextFileW(search, &data));
    FindClose(search);
  }
  return RemoveDirectoryW(wdir.c_str()) != 0;
}

std::vector<ListedEntry> ListPattern(const std::string& pattern) {
  std::vector<ListedEntry> entries;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    entries.push_back({data.cFileName, data.dwFileAttributes});
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return entries;
}

ScratchTree::ScratchTree(std::string root) : root_(std::move(root)) {
  EXPECT_TRUE(RemoveTree(root_)) << "leftover tree " << root_;
  EXPECT_TRUE(MakeDirectories(root_)) << root_ << ": error " << GetLastError();
}

ScratchTree::~ScratchTree() { EXPECT_TRUE(RemoveTree(root_)) << root_; }

std::string ScratchTree::Dir(const std::string& relative) {
  std::string path = root_ + "\\" + relative;
  EXPECT_TRUE(MakeDirectories(path)) << path << ": error " << GetLastError();
  return path;
}

std::string ScratchTree::File(const std::string& relative, const std::string& content) {
  std::string path = root_ + "\\" + relative;
  size_t slash = path.rfind('\\');
  EXPECT_TRUE(MakeDirectories(path.substr(0, slash))) << path;
  HANDLE file = MakeFile(path);
  EXPECT_NE(file, INVALID_HANDLE_VALUE) << path << ": error " << GetLastError();
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
  }
  return path;
}
