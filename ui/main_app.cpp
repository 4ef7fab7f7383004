// Start of the program: the single-instance test and the main dialog.
#include "ui/main_app.h"

#include "ui/main_dlg.h"

BOOL CMainApp::InitInstance() {
  // A second copy finds the first by its window title and ends silently.
  if (FindWindowA(nullptr, "Sorvane Ver 1.0")) return FALSE;
  auto* dialog = new CMainDlg(nullptr);
  m_pMainWnd = dialog;
  dialog->DoModal();
  m_pMainWnd = nullptr;
  delete dialog;
  return FALSE;
}
