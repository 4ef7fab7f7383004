// Thin control and drawing-object classes: button (with the owner-draw
// DrawItem), static, list box, and the owning font and bitmap objects.
#pragma once

#include "ui/framework/wnd.h"

class CButton : public CWnd {
 public:
  // Paints an owner-drawn button; the dialog passes WM_DRAWITEM here.
  virtual void DrawItem(DRAWITEMSTRUCT*) {}
  bool OnChildNotify(Msg& m) override {
    if (m.message != WM_DRAWITEM) return false;
    DrawItem(reinterpret_cast<DRAWITEMSTRUCT*>(m.lParam));
    return true;
  }
};

class CStatic : public CWnd {};

class CListBox : public CWnd {
 public:
  int GetCount() { return static_cast<int>(SendMessage(LB_GETCOUNT)); }
  int AddString(const char* text) {
    return static_cast<int>(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
  }
  void ResetContent() { SendMessage(LB_RESETCONTENT); }
  int SetCurSel(int index) { return static_cast<int>(SendMessage(LB_SETCURSEL, index)); }
  int GetTextLen(int index) { return static_cast<int>(SendMessage(LB_GETTEXTLEN, index)); }
  // `text` must hold GetTextLen(index) + 1 bytes.
  int GetText(int index, char* text) {
    return static_cast<int>(SendMessage(LB_GETTEXT, index, reinterpret_cast<LPARAM>(text)));
  }
  int GetHorizontalExtent() { return static_cast<int>(SendMessage(LB_GETHORIZONTALEXTENT)); }
  void SetHorizontalExtent(int extent) { SendMessage(LB_SETHORIZONTALEXTENT, extent); }
};

// A GDI object owned by its C++ object: deleted when replaced or destroyed.
class CGdiObject {
 public:
  CGdiObject() = default;
  CGdiObject(const CGdiObject&) = delete;
  CGdiObject& operator=(const CGdiObject&) = delete;
  ~CGdiObject() { DeleteObject(); }

  HGDIOBJ m_hObject = nullptr;

  void Attach(HGDIOBJ object) {
    DeleteObject();
    m_hObject = object;
  }
  void DeleteObject() {
    if (m_hObject) ::DeleteObject(m_hObject);
    m_hObject = nullptr;
  }
};

class CFont : public CGdiObject {
 public:
  BOOL CreateFontIndirect(const LOGFONTA* font) {
    Attach(::CreateFontIndirectA(font));
    return m_hObject != nullptr;
  }
  operator HFONT() const { return static_cast<HFONT>(m_hObject); }
};

class CBitmap : public CGdiObject {
 public:
  operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
  BOOL GetBitmap(BITMAP* info) const {
    return m_hObject && ::GetObjectA(m_hObject, sizeof *info, info) == sizeof *info;
  }
};
