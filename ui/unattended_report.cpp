// The unattended run's report file and what it lists beside the results.
#include "ui/unattended_report.h"

#include <map>

std::string Utf8FromAnsi(const std::string& text) {
  if (text.empty()) return text;
  int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring w(wide > 0 ? wide : 0, L'\0');
  if (wide <= 0 || !MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &w[0], wide)) {
    return text;  // left as it is; the writer replaces what is no UTF-8
  }
  int size = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size : 0, '\0');
  if (size <= 0 || !WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, &out[0], size, nullptr, nullptr)) return text;
  return out;
}

namespace {

std::string Unprefixed(const std::string& path) {
  return path.compare(0, 4, "\\??\\") == 0 ? path.substr(4) : path;
}

std::vector<ReportRename> RegistryRenames() {
  std::vector<ReportRename> renames;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                    &key) != ERROR_SUCCESS) {
    return renames;
  }
  DWORD type = 0, size = 0;
  std::string data;
  if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      size > 0) {
    data.resize(size);
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                         reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS) {
      data.clear();
    }
    data.resize(size < data.size() ? size : data.size());
  }
  RegCloseKey(key);
  // Pairs of terminated strings; an empty source ends the list.
  std::vector<std::string> parts;
  for (size_t pos = 0; pos < data.size();) {
    size_t end = data.find('\0', pos);
    if (end == std::string::npos) end = data.size();
    parts.push_back(data.substr(pos, end - pos));
    pos = end + 1;
  }
  for (size_t i = 0; i + 1 < parts.size() && !parts[i].empty(); i += 2) {
    renames.push_back(ReportRename{Unprefixed(parts[i]), Unprefixed(parts[i + 1])});
  }
  return renames;
}

std::vector<ReportRename> WininitRenames() {
  std::vector<ReportRename> renames;
  char folder[MAX_PATH];
  UINT n = GetWindowsDirectoryA(folder, sizeof folder);
  if (n == 0 || n >= sizeof folder) return renames;
  std::string ini = std::string(folder) + "\\wininit.ini";
  std::string section(32768, '\0');
  DWORD got = GetPrivateProfileSectionA("rename", &section[0], static_cast<DWORD>(section.size()), ini.c_str());
  section.resize(got);
  // "target=source" lines, each terminated; "NUL" as the target deletes.
  for (size_t pos = 0; pos < section.size();) {
    size_t end = section.find('\0', pos);
    if (end == std::string::npos) end = section.size();
    std::string line = section.substr(pos, end - pos);
    size_t equals = line.find('=');
    if (equals != std::string::npos) {
      std::string target = line.substr(0, equals);
      renames.push_back(ReportRename{line.substr(equals + 1), _stricmp(target.c_str(), "NUL") == 0 ? "" : target});
    }
    pos = end + 1;
  }
  return renames;
}

}  // namespace

std::vector<ReportRename> ListPendingRenames() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return {};
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT ? RegistryRenames() : WininitRenames();
}

std::vector<ReportRename> AddedRenames(const std::vector<ReportRename>& before,
                                       const std::vector<ReportRename>& after) {
  std::map<std::pair<std::string, std::string>, int> earlier;
  for (const ReportRename& r : before) ++earlier[{r.from, r.to}];
  std::vector<ReportRename> added;
  for (const ReportRename& r : after) {
    int& left = earlier[{r.from, r.to}];
    if (left > 0) {
      --left;
    } else {
      added.push_back(r);
    }
  }
  return added;
}

ReportFile::~ReportFile() {
  if (IsOpen()) CloseHandle(m_file);
}

bool ReportFile::Open(const std::string& path) {
  m_file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  return IsOpen();
}

bool ReportFile::Write(ScanReport report) {
  if (!IsOpen()) return false;
  for (ReportResult& r : report.results) {
    r.line = Utf8FromAnsi(r.line);
    r.path = Utf8FromAnsi(r.path);
    r.detection = Utf8FromAnsi(r.detection);
    for (ReportRegistryRemoval& m : r.removals) {
      m.key = Utf8FromAnsi(m.key);
      m.value = Utf8FromAnsi(m.value);
    }
  }
  for (ReportRename& p : report.pendingRenames) {
    p.from = Utf8FromAnsi(p.from);
    p.to = Utf8FromAnsi(p.to);
  }
  report.status = Utf8FromAnsi(report.status);
  std::string text = ReportText(ReportDocument(report));
  DWORD written = 0;
  bool ok = SetFilePointer(m_file, 0, nullptr, FILE_BEGIN) == 0 &&
            WriteFile(m_file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size() && SetEndOfFile(m_file);
  ok = CloseHandle(m_file) && ok;
  m_file = INVALID_HANDLE_VALUE;
  return ok;
}
