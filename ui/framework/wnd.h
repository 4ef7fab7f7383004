// The window wrapper of the dialog framework: a non-owning CWnd around a
// window handle, control subclassing, and message maps as static tables of
// (message, command id, handler) searched before the default processing.
#pragma once

#include <windows.h>

#include <cstddef>

// One message as a handler sees it. A handler leaves `result` as the answer
// of the window procedure; setting `handled` to false asks for the default
// processing after the handler.
struct Msg {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result;
  bool handled;
};

// Key of a message-map entry standing for all seven WM_CTLCOLOR* messages;
// the handler finds the kind of request (CTLCOLOR_DLG, ...) with CtlColorKind.
constexpr UINT WM_CTLCOLOR_ANY = 0x0019;
inline UINT CtlColorKind(const Msg& m) { return m.message - WM_CTLCOLORMSGBOX; }

template <class T>
struct MessageEntry {
  UINT message;
  UINT commandId;  // for WM_COMMAND entries: the control clicked; else 0
  void (T::*handler)(Msg&);
};

// Runs the first entry of `map` that matches `m`; true when the message is
// handled (no default processing wanted). WM_COMMAND entries match a click
// (notification code 0) of their control.
template <class T, size_t N>
bool DispatchMap(T* self, const MessageEntry<T> (&map)[N], Msg& m) {
  UINT key = m.message;
  if (key >= WM_CTLCOLORMSGBOX && key <= WM_CTLCOLORSTATIC) key = WM_CTLCOLOR_ANY;
  for (const MessageEntry<T>& e : map) {
    if (e.message != key) continue;
    if (key == WM_COMMAND && (HIWORD(m.wParam) != BN_CLICKED || LOWORD(m.wParam) != e.commandId))
      continue;
    m.handled = true;
    (self->*e.handler)(m);
    return m.handled;
  }
  return false;
}

class CWnd {
 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  virtual ~CWnd();

  HWND m_hWnd = nullptr;

  // The object bound to a window by subclassing or by a dialog, if any.
  static CWnd* FromHandlePermanent(HWND hwnd);

  // Routes the window's messages through this object (OnMessage first,
  // then the window's own procedure). False when the window is already
  // bound or the handle is null.
  BOOL SubclassWindow(HWND hwnd);
  BOOL SubclassDlgItem(UINT id, CWnd* parent);

  // The message map of the class; true when the message is handled.
  virtual bool OnMessage(Msg&) { return false; }
  // A notification the parent passes back to the control (owner-draw).
  virtual bool OnChildNotify(Msg&) { return false; }
  // The processing of messages the map leaves alone.
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
  BOOL EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
  BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
  void SetWindowText(const char* text) { ::SetWindowTextA(m_hWnd, text); }
  int GetWindowText(char* text, int size) const { return ::GetWindowTextA(m_hWnd, text, size); }
  int GetWindowTextLength() const { return ::GetWindowTextLengthA(m_hWnd); }
  void GetWindowRect(RECT* rect) const { ::GetWindowRect(m_hWnd, rect); }
  void GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }
  void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE) {
    ::MoveWindow(m_hWnd, x, y, width, height, repaint);
  }
  BOOL SetWindowPos(HWND after, int x, int y, int cx, int cy, UINT flags) {
    return ::SetWindowPos(m_hWnd, after, x, y, cx, cy, flags);
  }
  void Invalidate(BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, erase); }
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
  }
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
  }
  HFONT GetFont() { return reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)); }
  void SetFont(HFONT font, BOOL redraw = TRUE) {
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
  }
  HWND SetFocus() { return ::SetFocus(m_hWnd); }

 protected:
  // Binds the object to the window (the property behind FromHandlePermanent).
  void Attach(HWND hwnd);
  // Forgets the window; called when it is destroyed.
  void Detach();

 private:
  WNDPROC m_previousProc = nullptr;
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};
