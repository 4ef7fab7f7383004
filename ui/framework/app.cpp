// The application object and the framework's entry.
#include "ui/framework/app.h"

namespace {
CWinApp* TheApp = nullptr;
}  // namespace

CWinApp::CWinApp() { TheApp = this; }

CWinApp::~CWinApp() {
  if (TheApp == this) TheApp = nullptr;
}

CWinApp* AfxGetApp() { return TheApp; }

CWnd* AfxGetMainWnd() { return TheApp ? TheApp->m_pMainWnd : nullptr; }

HINSTANCE AfxGetInstanceHandle() { return GetModuleHandleA(nullptr); }

int AfxWinMain() {
  if (!TheApp) return 1;
  // A program of this framework does its whole work in InitInstance (a
  // modal dialog); there is no message loop of its own to run afterwards.
  TheApp->InitInstance();
  return TheApp->ExitInstance();
}
