// Entry point of the UI test exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "support/driver.h"

int main(int argc, char** argv) {
  // Stand-in browser: the tests make this exe the handler of http
  // addresses, and it notes each address it is asked to open.
  if (argc == 3 && std::strcmp(argv[1], "--record-url") == 0) {
    std::FILE* out = std::fopen((ui_test::ExeFolder() + "urls.txt").c_str(), "a");
    if (!out) return 1;
    std::fprintf(out, "%s\n", argv[2]);
    return std::fclose(out) == 0 ? 0 : 1;
  }

  // Without a window manager on the test display, hiding a window that Wine
  // lets the manager handle waits two seconds for an answer that never
  // comes; unmanaged windows end at once. Set before any window exists, so
  // this process and the programs it starts read it.
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &key, nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    RegCloseKey(key);
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
