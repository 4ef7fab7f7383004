// The one application object of sorvane.exe.
#include "ui/main_app.h"

CMainApp theApp;
