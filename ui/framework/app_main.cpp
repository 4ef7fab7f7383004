// The program's entry point: hands over to the application object.
#include "ui/framework/app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return AfxWinMain(); }
