// What the tool's two bitmap-button classes share: an owner-drawn button
// that shows its FOCUS picture while hot (mouse over it or keyboard focus),
// else its NOTFOCUS picture, or its DISABLE picture when disabled. The
// caption names the pictures ("SCAN" -> "SCAN_FOCUS", ...).
#pragma once

#include "ui/framework/controls.h"

class PictureButton : public CButton {
 public:
  // Binds the button to control `id` of `parent` unless it is bound already,
  // then loads the pictures its caption names. FALSE for an unbound button
  // or an empty caption; TRUE otherwise, even when pictures are missing.
  BOOL AutoLoad(UINT id, CWnd* parent);
  // Loads the three pictures by resource name (DISABLE may be missing) and
  // sizes the button to the NOTFOCUS picture.
  BOOL LoadBitmaps(const char* focusName, const char* notFocusName, const char* disableName);
  // Gives the button window the NOTFOCUS picture's size.
  BOOL SizeToContent();

  void DrawItem(DRAWITEMSTRUCT* item) override;
  bool OnMessage(Msg& m) override;

 protected:
  void OnMouseMove(Msg& m);
  void OnSetFocus(Msg& m);
  void OnKillFocus(Msg& m);

  int m_hot = 0;
  RECT m_buttonRect = {};
  CBitmap m_disable, m_notFocus, m_focus;

 private:
  static const MessageEntry<PictureButton> kMessageMap[3];
};
