// Modal dialogs: the dialog procedure, control binding and centring.
#include "ui/framework/dialog.h"

#include "ui/framework/app.h"

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
  if (!control.m_hWnd) control.SubclassDlgItem(static_cast<UINT>(id), pDX->m_pDlgWnd);
}

INT_PTR CDialog::DoModal() {
  CWnd* owner = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
  HWND ownerWindow = owner && owner != this ? owner->m_hWnd : nullptr;
  // The owner is the top-level window (the child walk runs on Windows 9x too).
  while (ownerWindow && (GetWindowLongA(ownerWindow, GWL_STYLE) & WS_CHILD)) {
    ownerWindow = GetParent(ownerWindow);
  }
  return DialogBoxParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_templateId), ownerWindow,
                         &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange dx{this, saveAndValidate};
  DoDataExchange(&dx);
  return TRUE;
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  UpdateData(TRUE);
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::CenterWindow(CWnd* over) {
  HWND center = over ? over->m_hWnd : GetWindow(m_hWnd, GW_OWNER);
  RECT self, target, area;
  GetWindowRect(&self);
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  if (!center || !::GetWindowRect(center, &target)) target = area;
  int width = self.right - self.left, height = self.bottom - self.top;
  int x = (target.left + target.right) / 2 - width / 2;
  int y = (target.top + target.bottom) / 2 - height / 2;
  if (x + width > area.right) x = area.right - width;
  if (x < area.left) x = area.left;
  if (y + height > area.bottom) y = area.bottom - height;
  if (y < area.top) y = area.top;
  SetWindowPos(nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CDialog::OnMessage(Msg& m) {
  switch (m.message) {
    case WM_COMMAND:
      if (HIWORD(m.wParam) != BN_CLICKED) return false;
      if (LOWORD(m.wParam) == IDOK) {
        OnOK();
        return true;
      }
      if (LOWORD(m.wParam) == IDCANCEL) {
        OnCancel();
        return true;
      }
      return false;
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(m.lParam);
      CWnd* control = item ? FromHandlePermanent(item->hwndItem) : nullptr;
      if (!control || !control->OnChildNotify(m)) return false;
      m.result = TRUE;
      return true;
    }
    default:
      return false;
  }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CDialog*>(lParam);
    self->Attach(hwnd);
    return self->OnInitDialog();
  }
  auto* self = static_cast<CDialog*>(FromHandlePermanent(hwnd));
  if (!self || self->m_hWnd != hwnd) return FALSE;
  if (message == WM_NCDESTROY) {
    self->Detach();
    return FALSE;
  }
  Msg m{message, wParam, lParam, 0, false};
  if (!self->OnMessage(m)) return FALSE;
  // These answer through the return value; all others through DWLP_MSGRESULT.
  if ((message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) ||
      message == WM_COMPAREITEM || message == WM_VKEYTOITEM || message == WM_CHARTOITEM ||
      message == WM_QUERYDRAGICON) {
    return static_cast<INT_PTR>(m.result);
  }
  SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, m.result);
  return TRUE;
}
