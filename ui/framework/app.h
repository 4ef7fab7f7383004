// The application object: one global CWinApp-derived object whose
// InitInstance runs the program; the entry point calls it.
#pragma once

#include "ui/framework/wnd.h"

class CWinApp {
 public:
  CWinApp();
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // The start of the program; FALSE ends it (after ExitInstance).
  virtual BOOL InitInstance() { return FALSE; }
  virtual int ExitInstance() { return 0; }

  CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
// The application's main window object, or null.
CWnd* AfxGetMainWnd();
// The module that holds the resources: the program itself.
HINSTANCE AfxGetInstanceHandle();
// Runs the application object; the exit code of the program.
int AfxWinMain();
