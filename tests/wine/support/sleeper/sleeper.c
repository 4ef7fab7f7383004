/* A harmless process for the termination tests: it waits two minutes and
   ends with exit code 7, so a test can tell a natural end from being
   terminated (exit code 0). */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show) {
  (void)instance;
  (void)previous;
  (void)command;
  (void)show;
  Sleep(120000);
  return 7;
}
