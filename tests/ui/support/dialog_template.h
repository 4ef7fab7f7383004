// Reads a dialog template resource (plain or extended) of this exe into
// its header values and its controls, to compare them with what they must be.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ui_test {

struct TemplateControl {
  int id;
  int classAtom;  // 0x80 button, 0x82 static, 0x83 list box; 0 for a class name
  std::string caption;
  short x, y, cx, cy;
  DWORD style, exStyle;
};

struct DialogTemplate {
  bool extended = false;
  DWORD style = 0, exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::string title, font;
  int pointSize = 0;
  std::vector<TemplateControl> controls;
};

// False when the resource is missing or malformed.
bool ReadDialogTemplate(int id, DialogTemplate* out);

}  // namespace ui_test
