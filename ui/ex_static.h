// The program caption: a static that paints its own text, white in the
// caption font on the blue of the background's top band.
#pragma once

#include <string>

#include "ui/framework/controls.h"

class CExStatic : public CStatic {
 public:
  CExStatic() : m_textColour(0xFFFFFF) {}
  bool OnMessage(Msg& m) override;

 private:
  void OnPaint(Msg& m);

  std::string m_caption;  // refreshed from the window text at every paint
  RECT m_client = {};     // refreshed at every paint
  COLORREF m_textColour;

  static const MessageEntry<CExStatic> kMessageMap[1];
};
