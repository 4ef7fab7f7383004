// Start of the program: with arguments the unattended run (or the list of
// switches); without, the single-instance test and the main dialog.
#include "ui/main_app.h"

#include <cstdlib>

#include "ui/command_line.h"
#include "ui/main_dlg.h"
#include "ui/unattended_run.h"

BOOL CMainApp::InitInstance() {
  if (__argc > 1) {
    m_exitCode = RunCommandLine(ParseCommandLine(__argc - 1, __argv + 1));
    return FALSE;
  }
  // A second copy finds the first by its window title and ends silently.
  if (FindWindowA(nullptr, "Sorvane Ver 1.0")) return FALSE;
  auto* dialog = new CMainDlg(nullptr);
  m_pMainWnd = dialog;
  dialog->DoModal();
  m_pMainWnd = nullptr;
  delete dialog;
  return FALSE;
}
