// The bitmap buttons of the two dialogs: CExButton (main dialog) also shows
// a hand cursor; NCExButton (message dialog) keeps the normal arrow.
#pragma once

#include "ui/picture_button.h"

class CExButton : public PictureButton {
 public:
  // Borrows a hand cursor for this button: cursor 106 of the Windows
  // directory's winhlp32.exe, else the system's hand where it exists.
  void LoadHandCursor();
  HCURSOR HandCursor() const { return m_handCursor; }

  bool OnMessage(Msg& m) override;

 private:
  void OnSetCursor(Msg& m);

  HCURSOR m_handCursor = nullptr;  // lives until the program ends
  static const MessageEntry<CExButton> kMessageMap[1];
};

class NCExButton : public PictureButton {};
