// The application object: one copy of the program at a time, running the
// main dialog modally and ending with it; with arguments, the unattended run.
#pragma once

#include "ui/framework/app.h"

class CMainApp : public CWinApp {
 public:
  // Always FALSE: the program ends when the dialog (or the run) has ended.
  BOOL InitInstance() override;
  // 0 after the window; the unattended run's code after a command line.
  int ExitInstance() override { return m_exitCode; }

 private:
  int m_exitCode = 0;
};
