// Painting of the program caption.
#include "ui/ex_static.h"

#include <vector>

#include "ui/ui_state.h"

namespace {
constexpr COLORREF kBandBlue = 0xF64D02;  // red 2, green 77, blue 246
}  // namespace

const MessageEntry<CExStatic> CExStatic::kMessageMap[1] = {
    {WM_PAINT, 0, &CExStatic::OnPaint},
};

bool CExStatic::OnMessage(Msg& m) { return DispatchMap(this, kMessageMap, m); }

void CExStatic::OnPaint(Msg&) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hWnd, &ps);
  GetClientRect(&m_client);
  std::vector<char> text(static_cast<size_t>(GetWindowTextLength()) + 1, 0);
  GetWindowText(text.data(), static_cast<int>(text.size()));
  m_caption = text.data();
  SetTextColor(dc, m_textColour);
  HGDIOBJ previousFont = SelectObject(dc, CaptionFont.m_hObject ? CaptionFont.m_hObject
                                                                 : GetStockObject(SYSTEM_FONT));
  SetBkColor(dc, kBandBlue);
  DrawTextA(dc, m_caption.c_str(), -1, &m_client, DT_CENTER | DT_VCENTER);
  SelectObject(dc, previousFont);
  EndPaint(m_hWnd, &ps);
}
