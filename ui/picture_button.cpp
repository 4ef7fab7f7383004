// Loading, sizing, drawing and the hot state of the bitmap buttons.
#include "ui/picture_button.h"

#include <windowsx.h>

#include <string>
#include <vector>

#include "ui/framework/app.h"

namespace {

HBITMAP LoadPicture(const char* name) {
  return static_cast<HBITMAP>(
      LoadImageA(AfxGetInstanceHandle(), name, IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
}

}  // namespace

const MessageEntry<PictureButton> PictureButton::kMessageMap[3] = {
    {WM_MOUSEMOVE, 0, &PictureButton::OnMouseMove},
    {WM_KILLFOCUS, 0, &PictureButton::OnKillFocus},
    {WM_SETFOCUS, 0, &PictureButton::OnSetFocus},
};

bool PictureButton::OnMessage(Msg& m) { return DispatchMap(this, kMessageMap, m); }

BOOL PictureButton::AutoLoad(UINT id, CWnd* parent) {
  if (!m_hWnd && !SubclassDlgItem(id, parent)) return FALSE;
  std::vector<char> caption(static_cast<size_t>(GetWindowTextLength()) + 1, 0);
  GetWindowText(caption.data(), static_cast<int>(caption.size()));
  if (!caption[0]) return FALSE;
  std::string name = caption.data();
  LoadBitmaps((name + "_FOCUS").c_str(), (name + "_NOTFOCUS").c_str(),
              (name + "_DISABLE").c_str());
  return TRUE;
}

BOOL PictureButton::LoadBitmaps(const char* focusName, const char* notFocusName,
                                const char* disableName) {
  m_focus.DeleteObject();
  m_notFocus.DeleteObject();
  m_disable.DeleteObject();
  HBITMAP focus = LoadPicture(focusName);
  if (!focus) return FALSE;
  m_focus.Attach(focus);
  HBITMAP notFocus = LoadPicture(notFocusName);
  if (!notFocus) return FALSE;
  m_notFocus.Attach(notFocus);
  if (HBITMAP disable = LoadPicture(disableName)) m_disable.Attach(disable);
  return SizeToContent();
}

BOOL PictureButton::SizeToContent() {
  BITMAP info;
  if (!m_notFocus.GetBitmap(&info)) return FALSE;
  if (!SetWindowPos(nullptr, -1, -1, info.bmWidth, info.bmHeight,
                    SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE)) {
    return FALSE;
  }
  SetRect(&m_buttonRect, 0, 0, info.bmWidth, info.bmHeight);
  return TRUE;
}

void PictureButton::DrawItem(DRAWITEMSTRUCT* item) {
  // Neither the pressed nor the focus state has a picture of its own.
  const CBitmap& picture = m_hot == 1                          ? m_focus
                           : (item->itemState & ODS_DISABLED) ? m_disable
                                                               : m_notFocus;
  HDC memory = CreateCompatibleDC(item->hDC);
  if (!memory) return;
  HGDIOBJ previous = picture.m_hObject ? SelectObject(memory, picture.m_hObject) : nullptr;
  if (previous) {
    const RECT& r = item->rcItem;
    BitBlt(item->hDC, r.left, r.top, r.right - r.left, r.bottom - r.top, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
  }
  DeleteDC(memory);
}

void PictureButton::OnMouseMove(Msg& m) {
  if (GetCapture() != m_hWnd) {
    SetFocus();
    m_hot = 1;
    SetCapture(m_hWnd);
    Invalidate(FALSE);
  } else {
    POINT point = {GET_X_LPARAM(m.lParam), GET_Y_LPARAM(m.lParam)};
    if (!PtInRect(&m_buttonRect, point)) {
      ReleaseCapture();
      m_hot = 0;
      Invalidate(FALSE);
    }
  }
  m.handled = false;  // the button's own press and click handling
}

void PictureButton::OnSetFocus(Msg& m) {
  m.result = DefWindowProc(m.message, m.wParam, m.lParam);
  m_hot = 1;
  Invalidate(FALSE);
}

void PictureButton::OnKillFocus(Msg& m) {
  m.result = DefWindowProc(m.message, m.wParam, m.lParam);
  m_hot = 0;
  Invalidate(FALSE);
}
