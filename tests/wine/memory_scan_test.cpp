// The memory scan on the real platform: a running process whose image is a
// forged detectable copy of a small program is found through the real
// psapi listing, ended and its image removed, while a clean copy runs on;
// a real service is stopped and its registration removed; and in a copy
// of this exe that Wine runs as Windows XP, an infected service process is
// ended and its image removed without the restart question.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/memory_scan.h"
#include "cleanup/nt_version.h"
#include "cleanup/service_stop.h"
#include "engine/shared_state.h"
#include "support/process_helpers.h"
#include "support/recording_window.h"
#include "support/scripted_message_box.h"
#include "tools/forge/forge.h"

extern const unsigned char Sleeper[];
extern const size_t Sleeper_size;
extern const unsigned char ServiceHost[];
extern const size_t ServiceHost_size;

namespace {

const char kDir[] = "C:\\sorvane-tests\\memory";
const char kChildFlag[] = "SORVANE_WINXP_CHILD";

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Writes a copy of the program that the backdoor scanner detects; the copy
// still runs as the program does.
bool WriteDetectable(const std::string& path, const unsigned char* bytes, size_t size) {
  forge::Bytes program(bytes, bytes + size);
  int record = forge::FindRecordForExe(program);
  forge::Bytes copy;
  std::string why;
  if (record < 0 || !forge::MakeDetectableCopy(program, record, &copy, &why)) return false;
  return WriteBytes(path, copy.data(), copy.size());
}

// A service of this prefix, created from an image path and deleted at the
// end of the object's life.
class TestService {
 public:
  TestService(const std::string& name, const std::string& image) : name_(name) {
    manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager_) return;
    service_ = CreateServiceA(manager_, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                              SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                              image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  ~TestService() {
    if (service_) {
      SERVICE_STATUS status;
      ControlService(service_, SERVICE_CONTROL_STOP, &status);
      DeleteService(service_);
      CloseServiceHandle(service_);
    }
    if (manager_) CloseServiceHandle(manager_);
  }
  TestService(const TestService&) = delete;
  TestService& operator=(const TestService&) = delete;

  bool Created() const { return service_ != nullptr; }
  // Starts the service and waits until it runs; its process id, or 0.
  DWORD StartAndWait() {
    if (!service_ || !StartServiceA(service_, 0, nullptr)) return 0;
    for (int i = 0; i < 100; ++i) {
      SERVICE_STATUS_PROCESS status;
      DWORD needed;
      if (QueryServiceStatusEx(service_, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status),
                               sizeof status, &needed) &&
          status.dwCurrentState == SERVICE_RUNNING) {
        return status.dwProcessId;
      }
      Sleep(100);
    }
    return 0;
  }
  DWORD State() {
    SERVICE_STATUS status;
    return service_ && QueryServiceStatus(service_, &status) ? status.dwCurrentState : 0;
  }

 private:
  std::string name_;
  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
};

std::string ServiceKey(const std::string& name) { return "SYSTEM\\ControlSet001\\Services\\" + name; }

// Wine 8 keeps services under a real CurrentControlSet and has no
// ControlSet001; Windows keeps them in ControlSet001, which CurrentControlSet
// links to. Writes the service's key there as Windows has it, with "Enum",
// "Security" and "Parameters" below it.
bool WriteWindowsServiceKey(const std::string& name, const std::string& imagePath) {
  const std::string key = ServiceKey(name);
  for (const char* sub : {"", "\\Enum", "\\Security", "\\Parameters"}) {
    HKEY h;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, (key + sub).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &h, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    const std::string value = *sub ? "1" : imagePath;
    RegSetValueExA(h, *sub ? "Count" : "ImagePath", 0, *sub ? REG_SZ : REG_EXPAND_SZ,
                   reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>(value.size() + 1));
    RegCloseKey(h);
  }
  return true;
}

class MemoryScanTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetSharedState();
    MainWindow = window.Handle();
    ActionMode = ActionClean;
    ScriptAnswers({});
  }
  void TearDown() override { DrainMessages(); }
  RecordingWindow window;
};

TEST_F(MemoryScanTest, AnInfectedProcessIsEndedAndItsImageRemoved) {
  const std::string evil = std::string(kDir) + "\\a\\evil.exe";
  const std::string clean = std::string(kDir) + "\\a\\clean.exe";
  ASSERT_TRUE(WriteDetectable(evil, Sleeper, Sleeper_size));
  ASSERT_TRUE(WriteBytes(clean, Sleeper, Sleeper_size));
  StartedProcess infected(Quoted(evil));
  StartedProcess harmless(Quoted(clean));
  ASSERT_TRUE(infected.Started() && harmless.Started());
  Sleep(200);

  MemoryScan();
  DWORD code = 1;
  EXPECT_TRUE(infected.Ended(5000, &code));
  EXPECT_EQ(code, 0u) << "terminated, not ended by itself";
  EXPECT_FALSE(harmless.Ended(0));
  EXPECT_FALSE(Exists(evil));
  EXPECT_TRUE(Exists(clean));
  EXPECT_EQ(window.lines, (std::vector<std::string>{"System Memory    W32/Murkel.Backdoor removed",
                                                    evil + "     W32/Murkel.Trojan removed"}));
  EXPECT_EQ(InfectedInMemory, 1);
  EXPECT_EQ(SingleFileMode, 0);
  EXPECT_EQ(ServiceStopFailed, 0);
  EXPECT_TRUE(RecordedPrompts().empty());
}

TEST_F(MemoryScanTest, ARealServiceIsStoppedAndItsRegistrationRemoved) {
  const std::string image = std::string(kDir) + "\\svc\\sorvtest.exe";
  ASSERT_TRUE(WriteBytes(image, ServiceHost, ServiceHost_size));
  TestService service("sorvtest", image);
  ASSERT_TRUE(service.Created());
  ASSERT_NE(service.StartAndWait(), 0u);
  ASSERT_TRUE(WriteWindowsServiceKey("sorvtest", "%SystemDrive%\\sorvane-tests\\memory\\svc\\sorvtest.exe"));

  const DWORD start = GetTickCount();
  EXPECT_EQ(StopService("SORVTEST"), 1);
  EXPECT_GE(GetTickCount() - start, 1000u) << "the stop had to be waited for";
  EXPECT_EQ(service.State(), DWORD(SERVICE_STOPPED));
  EXPECT_EQ(StopService("sorvtest"), 0) << "a stopped service does not stop again";
  EXPECT_EQ(StopService("sorvane-no-such-service"), 0);

  EXPECT_EQ(ServiceRegistryKeys("sorvtest", "C:\\elsewhere\\sorvtest.exe"), 0);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, ServiceKey("sorvtest").c_str()));
  EXPECT_EQ(ServiceRegistryKeys("sorvtest", image.c_str()), 1);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ServiceKey("sorvtest").c_str()));

  // Registered by the short (8.3) form of the image's path: the same file.
  char shortForm[MAX_PATH];
  ASSERT_GT(GetShortPathNameA(image.c_str(), shortForm, sizeof shortForm), 0u);
  ASSERT_STRCASENE(shortForm, image.c_str());
  ASSERT_TRUE(WriteWindowsServiceKey("sorvtest", "\"" + std::string(shortForm) + "\" -k"));
  EXPECT_EQ(ServiceRegistryKeys("sorvtest", image.c_str()), 1) << shortForm;
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ServiceKey("sorvtest").c_str()));
}

// Runs the WinXPOnly tests in a copy of this exe that Wine reports as
// Windows XP, where the memory scan treats a process it could not end
// twice as a service.
TEST_F(MemoryScanTest, TheNt5RouteRunsInAWindowsXpCopy) {
  char self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
  const std::string copy = std::string(kDir) + "\\sorvane_winxp.exe";
  ASSERT_TRUE(WriteBytes(copy, "", 0));
  ASSERT_TRUE(CopyFileA(self, copy.c_str(), FALSE));
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\sorvane_winxp.exe", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("winxp"), 6);
  RegCloseKey(key);
  SetEnvironmentVariableA(kChildFlag, "1");
  long code = RunAndWait(Quoted(copy) + " --gtest_brief=1 --gtest_filter=WinXPOnly*", 120000);
  SetEnvironmentVariableA(kChildFlag, nullptr);
  EXPECT_EQ(code, 0) << "the Windows XP copy reported failures (see its output above)";
}

// ---- run only inside the Windows XP copy ----

class WinXPOnly : public MemoryScanTest {
 protected:
  void SetUp() override {
    if (!getenv(kChildFlag)) GTEST_SKIP() << "runs in the Windows XP copy";
    ASSERT_EQ(GetNtVersionKind(), NtVersion5) << "the copy does not run as Windows XP";
    MemoryScanTest::SetUp();
  }
};

// Wine lets the second termination attempt succeed on a process that is
// already ending (Windows refuses it), so the service stop is not reached
// here; the route must still remove the image without asking to restart.
TEST_F(WinXPOnly, AnInfectedServiceProcessIsEndedAndItsImageRemoved) {
  const std::string image = std::string(kDir) + "\\xp\\sorvevil.exe";
  ASSERT_TRUE(WriteDetectable(image, ServiceHost, ServiceHost_size));
  TestService service("sorvevil", image);
  ASSERT_TRUE(service.Created());
  DWORD id = service.StartAndWait();
  ASSERT_NE(id, 0u);

  MemoryScan();
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
  if (process) {
    EXPECT_EQ(WaitForSingleObject(process, 5000), WAIT_OBJECT_0);
    CloseHandle(process);
  }
  EXPECT_FALSE(Exists(image));
  EXPECT_EQ(ServiceStopFailed, 0) << "the process was ended: no restart is needed";
  EXPECT_TRUE(RecordedPrompts().empty());
  EXPECT_EQ(window.lines, (std::vector<std::string>{"System Memory    W32/Murkel.Backdoor removed",
                                                    image + "     W32/Murkel.Trojan removed"}));
}

}  // namespace
