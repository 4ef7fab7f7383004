// Globals of the user interface shared by the main dialog and the message
// dialog. Zero or empty at program start.
#pragma once

#include <windows.h>

#include "ui/framework/controls.h"

class CMainDlg;

// The main dialog, set at the start of its initialisation.
extern CMainDlg* MainDialog;
// Bold caption font of the program caption; deleted when the program ends.
extern CFont CaptionFont;
// White brush of the main dialog's surface and statics; lives as long as the program.
extern HBRUSH WhiteBrush;
// 1 when the screen has 120 or more logical pixels per inch horizontally.
extern int LargeFonts;
// The one-shot timer of the SCAN button.
extern int ScanTimerId;
