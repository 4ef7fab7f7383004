/* A harmless Windows service for the memory-scan tests: it runs until it
   is asked to stop, then reports "stop pending" for about two seconds
   before it reports "stopped", so a stop has to be waited for. */
#include <windows.h>

static SERVICE_STATUS_HANDLE statusHandle;
static SERVICE_STATUS status;
static HANDLE stopRequested;

static void Report(DWORD state, DWORD checkPoint) {
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwWin32ExitCode = NO_ERROR;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = state == SERVICE_STOP_PENDING ? 5000 : 0;
  SetServiceStatus(statusHandle, &status);
}

static DWORD WINAPI Handler(DWORD control, DWORD type, LPVOID data, LPVOID context) {
  (void)type;
  (void)data;
  (void)context;
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING, 1);
    SetEvent(stopRequested);
  }
  return NO_ERROR;
}

static void WINAPI ServiceMain(DWORD argc, LPSTR* argv) {
  DWORD i;
  statusHandle = RegisterServiceCtrlHandlerExA(argc > 0 ? argv[0] : "", Handler, NULL);
  if (!statusHandle) return;
  stopRequested = CreateEventA(NULL, TRUE, FALSE, NULL);
  Report(SERVICE_RUNNING, 0);
  WaitForSingleObject(stopRequested, INFINITE);
  for (i = 2; i < 6; ++i) {
    Sleep(500);
    Report(SERVICE_STOP_PENDING, i);
  }
  Report(SERVICE_STOPPED, 0);
}

int main(void) {
  SERVICE_TABLE_ENTRYA table[] = {{"", ServiceMain}, {NULL, NULL}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
