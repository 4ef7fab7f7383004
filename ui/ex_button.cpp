// The hand cursor of the main dialog's buttons.
#include "ui/ex_button.h"

#include <cstring>

namespace {
constexpr int kHelpHandCursor = 106;
}  // namespace

const MessageEntry<CExButton> CExButton::kMessageMap[1] = {
    {WM_SETCURSOR, 0, &CExButton::OnSetCursor},
};

bool CExButton::OnMessage(Msg& m) {
  return DispatchMap(this, kMessageMap, m) || PictureButton::OnMessage(m);
}

void CExButton::LoadHandCursor() {
  if (m_handCursor) return;
  char path[MAX_PATH];
  UINT n = GetWindowsDirectoryA(path, sizeof path);
  const char kHelp[] = "\\winhlp32.exe";
  if (n > 0 && n <= sizeof path && sizeof kHelp <= sizeof path - n) {
    std::memcpy(path + n, kHelp, sizeof kHelp);
    // Loaded for its resources only: nothing of it runs.
    if (HMODULE help = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
      if (HCURSOR hand = LoadCursorA(help, MAKEINTRESOURCEA(kHelpHandCursor))) {
        m_handCursor = reinterpret_cast<HCURSOR>(CopyIcon(reinterpret_cast<HICON>(hand)));
      }
      FreeLibrary(help);
    }
  }
  // Systems without that file or cursor (Wine among them) have their own hand.
  if (!m_handCursor) m_handCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32649));  // IDC_HAND
}

void CExButton::OnSetCursor(Msg& m) {
  if (!m_handCursor) {
    m.handled = false;
    return;
  }
  SetCursor(m_handCursor);
  m.result = TRUE;
}
