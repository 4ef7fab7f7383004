// The application object: one copy of the program at a time, running the
// main dialog modally and ending with it.
#pragma once

#include "ui/framework/app.h"

class CMainApp : public CWinApp {
 public:
  // Always FALSE: the program ends when the dialog has ended.
  BOOL InitInstance() override;
};
