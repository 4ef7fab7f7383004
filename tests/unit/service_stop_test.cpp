// Stopping services and removing their registration on the emulated
// machine: the stop-state sequences and the poll bound, the ImagePath
// forms that name an image, the keys deleted or kept, the service name of
// an image and the NT version classification.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cleanup/nt_version.h"
#include "cleanup/service_stop.h"
#include "platform/emu/machine.h"
#include "tests/support/machine_fixture.h"

namespace {

const char kImage[] = "C:\\WINDOWS\\evil.exe";
const char kSet1[] = "HKLM\\SYSTEM\\ControlSet001\\Services\\evil";
const char kSet2[] = "HKLM\\SYSTEM\\ControlSet002\\Services\\evil";

class ServiceStopTest : public MachineTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(emu::OpenServiceHandles(), 0) << "service handle left open";
    EXPECT_EQ(emu::OpenRegistryHandles(), 0) << "registry key left open";
    MachineTest::TearDown();
  }
  // A running service "evil" whose process runs kImage.
  DWORD AddEvilService(std::vector<DWORD> stopStates, bool acceptsStop = true) {
    DWORD id = emu::AddProcess(kImage);
    emu::ServiceOptions options;
    options.processId = id;
    options.stopStates = std::move(stopStates);
    options.acceptsStop = acceptsStop;
    emu::AddService("evil", options);
    return id;
  }
};

TEST_F(ServiceStopTest, StopFollowsTheStateSequenceWithinTheBound) {
  const DWORD P = SERVICE_STOP_PENDING, S = SERVICE_STOPPED, R = SERVICE_RUNNING;
  std::vector<DWORD> sixtyPending(60, P), sixtyOnePending(61, P);
  sixtyPending.push_back(S);
  sixtyOnePending.push_back(S);
  const struct {
    const char* what;
    std::vector<DWORD> states;
    int result;
    size_t pauses;
  } cases[] = {
      {"stopped at once", {S}, 1, 0},
      {"one pending poll", {P, S}, 1, 1},
      {"three pending polls", {P, P, P, S}, 1, 3},
      {"pending through all 60 pauses", sixtyPending, 1, 60},
      {"still pending after 60 pauses", sixtyOnePending, 0, 60},
      {"stuck pending", {P}, 0, 60},
      {"stop failed, runs on", {P, R}, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    emu::ResetMachine();
    DWORD id = AddEvilService(c.states);
    EXPECT_EQ(StopService("EVIL"), c.result);
    EXPECT_EQ(emu::Sleeps(), std::vector<DWORD>(c.pauses, 1000));
    EXPECT_EQ(emu::CallCount("QueryServiceStatus"), int(c.pauses) + 1);
    EXPECT_EQ(emu::ProcessRunning(id), c.result == 0) << "a stopped service's process is gone";
    EXPECT_EQ(emu::OpenServiceHandles(), 0);
  }
}

TEST_F(ServiceStopTest, RefusedStopsAndMissingServicesGiveZeroWithoutPolling) {
  AddEvilService({SERVICE_STOPPED}, /*acceptsStop=*/false);
  EXPECT_EQ(StopService("evil"), 0);
  EXPECT_EQ(StopService("other"), 0);
  EXPECT_EQ(StopService(""), 0);
  emu::FailOperation("OpenSCManagerA", "", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(StopService("evil"), 0);
  EXPECT_EQ(emu::CallCount("QueryServiceStatus"), 0);
  ASSERT_EQ(emu::ServiceControls().size(), 1u);
  EXPECT_FALSE(emu::ServiceControls()[0].accepted);
}

TEST_F(ServiceStopTest, AServiceWhoseProcessWasTerminatedIsNotStoppedAgain) {
  DWORD id = AddEvilService({SERVICE_STOPPED});
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id);
  ASSERT_TRUE(TerminateProcess(process, 0));
  CloseHandle(process);
  EXPECT_EQ(emu::ServiceState("evil"), DWORD(SERVICE_STOPPED));
  EXPECT_EQ(StopService("evil"), 0) << "ControlService answers: not active";
}

TEST_F(ServiceStopTest, FailedQueryKeepsTheLastKnownState) {
  AddEvilService({SERVICE_STOP_PENDING, SERVICE_STOPPED});
  emu::FailOperation("QueryServiceStatus", "evil", ERROR_ACCESS_DENIED, 1, 1);
  EXPECT_EQ(StopService("evil"), 0) << "last known: pending";
  EXPECT_EQ(emu::Sleeps(), std::vector<DWORD>{1000});
}

TEST_F(ServiceStopTest, ImagePathForms) {
  emu::SetEnvironmentVariable("SystemRoot", "C:\\WINDOWS");
  const struct {
    const char* value;
    bool names;
  } cases[] = {
      {"C:\\WINDOWS\\evil.exe", true},
      {"c:\\windows\\EVIL.EXE", true},
      {"\"C:\\WINDOWS\\evil.exe\"", true},
      {"\"C:\\WINDOWS\\evil.exe\" -service", true},
      {"  C:\\WINDOWS\\evil.exe -k net", true},
      {"%SystemRoot%\\evil.exe", true},
      {"%windir%\\evil.exe /run", true},
      {"\\SystemRoot\\evil.exe", true},
      {"\\??\\C:\\WINDOWS\\evil.exe", true},
      {"evil.exe -k", true},  // relative: to the Windows directory
      {"\\SystemRoot\\system32\\evil.exe", false},
      {"system32\\evil.exe", false},
      {"C:\\WINDOWS\\evil.exe2", false},
      {"C:\\WINDOWS\\evil.ex", false},
      {"C:\\WINDOWS\\system32\\evil.exe", false},
      {"C:\\Program Files\\Tool\\evil.exe", false},
      {"\"C:\\WINDOWS\\evil.exe", false},
      {"\"C:\\WINDOWS\\evil.exe -k\"", false},
      {"%NoSuchVariable%\\evil.exe", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ImagePathNames(c.value, kImage), c.names) << c.value;
  EXPECT_TRUE(ImagePathNames("system32\\evil.exe -k", "C:\\WINDOWS\\system32\\evil.exe"));
  EXPECT_FALSE(ImagePathNames("", ""));
  EXPECT_FALSE(ImagePathNames("C:\\WINDOWS\\evil.exe", ""));
}

TEST_F(ServiceStopTest, RegistrationIsRemovedFromBothSetsWhereItNamesTheImage) {
  AddEvilService({SERVICE_STOPPED});
  emu::SetRegistryString(std::string(kSet1) + "\\Parameters", "ServiceDll", "x.dll");
  emu::SetRegistryString(kSet2, "ImagePath", "%SystemRoot%\\evil.exe", REG_EXPAND_SZ);
  emu::SetRegistryString(std::string(kSet2) + "\\Enum", "0", "Root\\LEGACY_EVIL\\0000");
  EXPECT_EQ(ServiceRegistryKeys("evil", kImage), 1);
  EXPECT_FALSE(emu::RegistryKeyExists(kSet1));
  EXPECT_FALSE(emu::RegistryKeyExists(kSet2));
  EXPECT_TRUE(emu::RegistryKeyExists("HKLM\\SYSTEM\\ControlSet001\\Services"));
}

TEST_F(ServiceStopTest, ARegistrationOfAnotherImageIsKept) {
  emu::SetRegistryString(kSet1, "ImagePath", "\"C:\\Program Files\\Tool\\evil.exe\"");
  emu::SetRegistryString(std::string(kSet1) + "\\Enum", "Count", "1");
  emu::SetRegistryString(kSet2, "Type", "16");  // no ImagePath at all
  emu::SetRegistryValue("HKLM\\SYSTEM\\ControlSet001\\Services\\binary", "ImagePath", REG_BINARY,
                        std::string(kImage) + '\0');
  const std::string before = emu::RegistryText(emu::RegFormat::Regedit4);
  EXPECT_EQ(ServiceRegistryKeys("evil", kImage), 0);
  EXPECT_EQ(ServiceRegistryKeys("binary", kImage), 0);
  EXPECT_EQ(ServiceRegistryKeys("absent", kImage), 0);
  EXPECT_EQ(emu::RegistryText(emu::RegFormat::Regedit4), before);
}

TEST_F(ServiceStopTest, AnEmptyServiceNameNeverReachesTheServicesKey) {
  emu::SetRegistryString("HKLM\\SYSTEM\\ControlSet001\\Services", "ImagePath", kImage);
  emu::SetRegistryString("HKLM\\SYSTEM\\ControlSet001\\Services\\Other", "ImagePath", "x");
  EXPECT_EQ(ServiceRegistryKeys("", kImage), 0);
  EXPECT_TRUE(emu::RegistryKeyExists("HKLM\\SYSTEM\\ControlSet001\\Services\\Other"));
}

TEST_F(ServiceStopTest, AKeyThatCannotBeDeletedIsNotReportedDeleted) {
  AddEvilService({SERVICE_STOPPED});
  emu::SetKeyAccess(kSet1, emu::KeyAccess::ReadOnly);
  EXPECT_EQ(ServiceRegistryKeys("evil", kImage), 0);
  EXPECT_TRUE(emu::RegistryKeyExists(kSet1));
}

TEST_F(ServiceStopTest, ServiceNameOfAnImage) {
  const struct {
    const char* path;
    const char* name;
  } cases[] = {
      {"C:\\WINDOWS\\evil.exe", "evil"}, {"C:\\a.b\\svc.host.exe", "svc.host"},
      {"C:\\tools\\scanner", "scanner"}, {"C:\\dir\\.exe", ""},
      {"evil.exe", "evil"},              {"C:\\dir\\", ""},
  };
  for (const auto& c : cases) {
    char name[MAX_PATH] = "junk";
    ASSERT_TRUE(ServiceNameForImage(c.path, name, sizeof name)) << c.path;
    EXPECT_STREQ(name, c.name) << c.path;
  }
  char small[4];
  EXPECT_FALSE(ServiceNameForImage("C:\\evil.exe", small, sizeof small));
  EXPECT_TRUE(ServiceNameForImage("C:\\evi.exe", small, sizeof small));
}

TEST_F(ServiceStopTest, NtVersionKinds) {
  const struct {
    DWORD platformId, major;
    NtVersionKind kind;
  } cases[] = {
      {VER_PLATFORM_WIN32_WINDOWS, 4, NtVersionOther}, {VER_PLATFORM_WIN32_NT, 3, NtVersion4},
      {VER_PLATFORM_WIN32_NT, 4, NtVersion4},          {VER_PLATFORM_WIN32_NT, 5, NtVersion5},
      {VER_PLATFORM_WIN32_NT, 6, NtVersionOther},      {VER_PLATFORM_WIN32_NT, 10, NtVersionOther},
      {VER_PLATFORM_WIN32s, 4, NtVersionOther},
  };
  for (const auto& c : cases) {
    emu::SetVersion(c.platformId, c.major, 0, 1000);
    EXPECT_EQ(GetNtVersionKind(), c.kind) << c.platformId << " " << c.major;
  }
  emu::FailOperation("GetVersionExA", "", ERROR_INVALID_PARAMETER, 1);
  EXPECT_EQ(GetNtVersionKind(), NtVersionOther);
  EXPECT_EQ(int(NtVersion4), 5);
  EXPECT_EQ(int(NtVersion5), 6);
}

}  // namespace
