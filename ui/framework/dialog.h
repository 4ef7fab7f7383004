// Modal dialogs built on a template id: the dialog procedure finds its
// object from the WM_INITDIALOG parameter, controls are bound by
// subclassing in DoDataExchange, IDOK and IDCANCEL reach the virtual OnOK
// and OnCancel, and owner-draw requests go back to the control.
#pragma once

#include "ui/framework/wnd.h"

class CDialog;

// What DoDataExchange is asked to do; only binding is needed here.
struct CDataExchange {
  CDialog* m_pDlgWnd;
  BOOL m_bSaveAndValidate;
};

// Binds `control` to the dialog's control `id` unless it is bound already.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

class CDialog : public CWnd {
 public:
  // A null parent makes the application's main window the owner.
  explicit CDialog(UINT templateId, CWnd* parent = nullptr)
      : m_templateId(templateId), m_pParentWnd(parent) {}

  // Shows the dialog modally; the value given to EndDialog, or -1.
  INT_PTR DoModal();
  void EndDialog(int result) { ::EndDialog(m_hWnd, result); }
  BOOL UpdateData(BOOL saveAndValidate = TRUE);
  // Centres the dialog over `over` (else its owner), kept on the work area.
  void CenterWindow(CWnd* over = nullptr);

  virtual void DoDataExchange(CDataExchange*) {}
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();

  bool OnMessage(Msg& m) override;

 private:
  UINT m_templateId;
  CWnd* m_pParentWnd;
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};
