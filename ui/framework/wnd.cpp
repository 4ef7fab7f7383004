// Window wrapper: binding objects to windows and the subclass procedure.
#include "ui/framework/wnd.h"

namespace {
// Window property that holds the bound object.
const char kObjectProperty[] = "SorvaneWnd";
}  // namespace

CWnd::~CWnd() {
  // A control object that dies before its window hands the window back.
  if (m_hWnd && m_previousProc) {
    SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_previousProc));
  }
  if (m_hWnd) Detach();
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
  return hwnd ? static_cast<CWnd*>(GetPropA(hwnd, kObjectProperty)) : nullptr;
}

void CWnd::Attach(HWND hwnd) {
  m_hWnd = hwnd;
  SetPropA(hwnd, kObjectProperty, this);
}

void CWnd::Detach() {
  if (m_hWnd) RemovePropA(m_hWnd, kObjectProperty);
  m_hWnd = nullptr;
  m_previousProc = nullptr;
}

BOOL CWnd::SubclassWindow(HWND hwnd) {
  if (!hwnd || m_hWnd || FromHandlePermanent(hwnd)) return FALSE;
  Attach(hwnd);
  m_previousProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
  if (!m_previousProc) {
    Detach();
    return FALSE;
  }
  return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
  return parent ? SubclassWindow(::GetDlgItem(parent->m_hWnd, static_cast<int>(id))) : FALSE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_previousProc) return CallWindowProcA(m_previousProc, m_hWnd, message, wParam, lParam);
  return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CALLBACK CWnd::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* self = FromHandlePermanent(hwnd);
  if (!self) return ::DefWindowProcA(hwnd, message, wParam, lParam);
  Msg m{message, wParam, lParam, 0, false};
  LRESULT result = self->OnMessage(m) ? m.result : self->DefWindowProc(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(self->m_previousProc));
    self->Detach();
  }
  return result;
}
