// The main dialog: initialisation, the scan's start and end, the cancel
// prompts, the results list, colours, painting, dragging and the links.
#include "ui/main_dlg.h"

#include <shellapi.h>
#include <windowsx.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/message_box.h"
#include "engine/scan_run.h"
#include "engine/shared_state.h"
#include "res/resource.h"
#include "ui/framework/app.h"
#include "ui/scan_lock.h"
#include "ui/site.h"
#include "ui/ui_state.h"
#include "ui/window_shape.h"

CMainDlg* MainDialog = nullptr;
CFont CaptionFont;
HBRUSH WhiteBrush = nullptr;
int LargeFonts = 0;
int ScanTimerId = 100;

namespace {

const char kTitle[] = "Sorvane Ver 1.0";
const char kFamily[] = "W32/Murkel";
constexpr int kTextSize = 260;
constexpr int kMaxLinesBeforeSummary = 150;
constexpr int kExtentThreshold = 560;
constexpr COLORREF kRegionKey = 0xFF00FF;
constexpr int kDesignWidth = 600, kDesignHeight = 337;
constexpr int kWindowWidth = 600, kWindowHeight = 462;

void OpenPage(const char* path) {
  char address[512];
  snprintf(address, sizeof address, "%s%s", kMakerSite, path);
  ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

const MessageEntry<CMainDlg> CMainDlg::kMessageMap[12] = {
    {RefreshStatusMessage, 0, &CMainDlg::OnRefreshStatus},
    {AddLineMessage, 0, &CMainDlg::OnAddLine},
    {WM_TIMER, 0, &CMainDlg::OnTimer},
    {WM_PAINT, 0, &CMainDlg::OnPaint},
    {WM_COMMAND, IDC_SCAN, &CMainDlg::OnScan},
    {WM_COMMAND, IDC_CLOSE_X, &CMainDlg::OnCloseButton},
    {WM_COMMAND, IDC_DOWNLOAD, &CMainDlg::OnDownload},
    {WM_CTLCOLOR_ANY, 0, &CMainDlg::OnCtlColor},
    {WM_LBUTTONDOWN, 0, &CMainDlg::OnLButtonDown},
    {WM_COMMAND, IDC_OK_BUTTON, &CMainDlg::OnOkButton},
    {WM_COMMAND, IDC_DOWNLOAD_LINK, &CMainDlg::OnDownload},
    {WM_COMMAND, IDC_UTILITY_LINK, &CMainDlg::OnUtilityLink},
    // WM_MOVE and WM_LBUTTONUP get the default processing only.
};

CMainDlg::CMainDlg(CWnd* parent) : CDialog(IDD_MAIN, parent) {
  m_icon = LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDI_APP));
}

CMainDlg::~CMainDlg() {
  if (m_backgroundDC) {
    SelectObject(m_backgroundDC, m_displacedBitmap);
    DeleteDC(m_backgroundDC);
  }
  if (m_background) DeleteObject(m_background);
  if (MainDialog == this) MainDialog = nullptr;
  ReleaseScanLock(m_scanLock);
}

bool CMainDlg::OnMessage(Msg& m) {
  return DispatchMap(this, kMessageMap, m) || CDialog::OnMessage(m);
}

void CMainDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_LOWER_GROUP, m_lowerGroup);
  DDX_Control(pDX, IDC_LOGO, m_logo);
  DDX_Control(pDX, IDC_UTILITY_LINK, m_utilityLink);
  DDX_Control(pDX, IDC_DOWNLOAD_LINK, m_downloadLink);
  DDX_Control(pDX, IDC_SEARCH_CAPTION, m_searchCaption);
  DDX_Control(pDX, IDC_PRODUCT_NOTE, m_productNote);
  DDX_Control(pDX, IDC_TITLE_LINE, m_titleLine);
  DDX_Control(pDX, IDC_MAKER_LINE, m_makerLine);
  DDX_Control(pDX, IDC_PROGRAM_CAPTION, m_programCaption);
  DDX_Control(pDX, IDCANCEL, m_cancel);
  DDX_Control(pDX, IDC_UPPER_GROUP, m_upperGroup);
  DDX_Control(pDX, IDC_PATH_DISPLAY, m_pathDisplay);
  DDX_Control(pDX, IDC_RESULT_LOG, m_resultLog);
  DDX_Control(pDX, IDC_CLOSE_X, m_close);
  DDX_Control(pDX, IDC_DOWNLOAD, m_download);
  DDX_Control(pDX, IDC_SCAN, m_scan);
  DDX_Control(pDX, IDC_OK_BUTTON, m_ok);
}

BOOL CMainDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  for (CWnd* hidden : {static_cast<CWnd*>(&m_pathDisplay), static_cast<CWnd*>(&m_upperGroup),
                       static_cast<CWnd*>(&m_searchCaption), static_cast<CWnd*>(&m_resultLog),
                       static_cast<CWnd*>(&m_lowerGroup), static_cast<CWnd*>(&m_cancel)}) {
    hidden->ShowWindow(SW_HIDE);
  }
  m_ok.EnableWindow(FALSE);
  m_ok.ShowWindow(SW_HIDE);
  MainDialog = this;

  HFONT dialogFont = GetFont();
  if (!dialogFont) dialogFont = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
  LOGFONTA font = {};
  GetObjectA(dialogFont, sizeof font, &font);
  font.lfHeight = 15;
  font.lfWeight = FW_BOLD;
  font.lfUnderline = 0;
  font.lfItalic = 0;
  CaptionFont.CreateFontIndirect(&font);

  ComposeTexts();

  HDC screen = ::GetDC(m_hWnd);
  LargeFonts = GetDeviceCaps(screen, LOGPIXELSX) >= 120 ? 1 : 0;
  ::ReleaseDC(m_hWnd, screen);

  ScaleChildWindows(m_hWnd, kDesignWidth, kDesignHeight);
  MoveWindow(0, 0, kWindowWidth, kWindowHeight, TRUE);

  if (ProductInstalled()) {
    m_downloadLink.EnableWindow(FALSE);
    m_downloadLink.ShowWindow(SW_HIDE);
    m_download.EnableWindow(FALSE);
  } else {
    m_productNote.ShowWindow(SW_HIDE);
  }

  // Kept for the program's life; a second dialog of the process reuses it.
  if (!WhiteBrush) WhiteBrush = CreateSolidBrush(0xFFFFFF);
  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
  SetWindowLongA(m_hWnd, GWL_STYLE, GetWindowLongA(m_hWnd, GWL_STYLE) | WS_SYSMENU | WS_MINIMIZEBOX);

  LoadBackground();

  CExButton* buttons[] = {&m_ok, &m_cancel, &m_scan, &m_download,
                          &m_close, &m_utilityLink, &m_downloadLink, &m_logo};
  const UINT ids[] = {IDC_OK_BUTTON, IDCANCEL,    IDC_SCAN,          IDC_DOWNLOAD,
                      IDC_CLOSE_X,   IDC_UTILITY_LINK, IDC_DOWNLOAD_LINK, IDC_LOGO};
  for (size_t i = 0; i < sizeof ids / sizeof ids[0]; ++i) buttons[i]->AutoLoad(ids[i], this);

  SetWindowText(kTitle);
  for (CExButton* b : {&m_scan, &m_close, &m_download, &m_ok, &m_cancel, &m_downloadLink,
                       &m_utilityLink}) {
    b->LoadHandCursor();
  }
  return TRUE;
}

void CMainDlg::ComposeTexts() {
  char text[kTextSize];
  snprintf(text, sizeof text, "%s%s%s%s", kTitle,
           " - Tool to detect and remove all the variants of ", kFamily, " Backdoor");
  m_titleLine.SetWindowText(text);

  std::memset(text, 0, sizeof text);
  snprintf(text, sizeof text, "for %s", kFamily);
  strncat(text, " Backdoor", sizeof text - std::strlen(text) - 1);
  m_programCaption.SetWindowText(text);

  // The year of the build: the last four characters of "Mmm dd yyyy".
  snprintf(text, sizeof text, "Copyright \xA9 %s %s. All rights reserved. ", &__DATE__[7],
           kMakerName);
  m_makerLine.SetWindowText(text);
  m_productNote.SetWindowText("This program is a part of Kelvora antivirus software.");
}

bool CMainDlg::ProductInstalled() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tarvel\\Kelvora 2000", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  DWORD size = 0;
  bool installed =
      RegQueryValueExA(key, "Installed Folder", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
  if (installed) {
    // The read is bounded by the buffer; a longer value fails it.
    BYTE folder[300] = {};
    DWORD length = sizeof folder;
    installed = RegQueryValueExA(key, "Installed Folder", nullptr, nullptr, folder, &length) ==
                ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return installed;
}

void CMainDlg::LoadBackground() {
  m_background = static_cast<HBITMAP>(LoadImageA(AfxGetInstanceHandle(),
                                                 MAKEINTRESOURCEA(IDB_BACKGROUND), IMAGE_BITMAP,
                                                 0, 0, LR_LOADMAP3DCOLORS));
  if (!m_background) return;
  m_region = BitmapToRegion(m_background, kRegionKey, 1);
  if (m_region) SetWindowRgn(m_hWnd, m_region, TRUE);
  GetObjectA(m_background, sizeof m_backgroundSize, &m_backgroundSize);
  m_backgroundDC = CreateCompatibleDC(nullptr);
  if (m_backgroundDC) m_displacedBitmap = SelectObject(m_backgroundDC, m_background);
}

void CMainDlg::OnScan(Msg&) {
  ScanInProgress = 1;
  // The window's scan goes ahead in any case, as it always has; the lock
  // only keeps unattended runs from starting beside it.
  bool alone;
  m_scanLock = TakeScanLock(&alone);
  m_scan.EnableWindow(FALSE);
  m_utilityLink.EnableWindow(FALSE);
  m_utilityLink.ShowWindow(SW_HIDE);
  m_downloadLink.EnableWindow(FALSE);
  m_downloadLink.ShowWindow(SW_HIDE);
  m_cancel.EnableWindow(TRUE);
  m_cancel.ShowWindow(SW_SHOW);
  m_ok.EnableWindow(TRUE);

  m_titleLine.ShowWindow(SW_HIDE);
  m_productNote.ShowWindow(SW_HIDE);
  m_makerLine.ShowWindow(SW_HIDE);
  for (CWnd* shown : {static_cast<CWnd*>(&m_searchCaption), static_cast<CWnd*>(&m_resultLog),
                      static_cast<CWnd*>(&m_pathDisplay), static_cast<CWnd*>(&m_upperGroup),
                      static_cast<CWnd*>(&m_lowerGroup)}) {
    shown->ShowWindow(SW_SHOW);
  }
  m_upperGroup.SetWindowText("Scanning");
  m_cancel.ShowWindow(SW_SHOW);

  char text[kTextSize];
  snprintf(text, sizeof text, "%s%s%s", "Searching for ", kFamily, " Backdoor and its variants");
  m_searchCaption.SetWindowText(text);
  m_searchFont.Attach(CreateFontA(15, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                  FF_SWISS, "Arial"));
  m_searchCaption.SetFont(m_searchFont, TRUE);

  MainWindow = m_hWnd;
  ActionMode = ActionClean;
  SetTimer(m_hWnd, static_cast<UINT_PTR>(ScanTimerId), 100, nullptr);
}

void CMainDlg::OnTimer(Msg&) {
  // One shot, whichever timer ticked: the run must not be entered twice.
  KillTimer(m_hWnd, static_cast<UINT_PTR>(ScanTimerId));
  CancelRequested = 0;
  ScanRun();
  ReleaseScanLock(m_scanLock);
  m_scanLock = nullptr;
  m_cancel.ShowWindow(SW_HIDE);
  m_ok.ShowWindow(SW_SHOW);
  m_searchCaption.ShowWindow(SW_HIDE);
  m_upperGroup.SetWindowText("");
  ScanInProgress = 0;
}

void CMainDlg::OnOK() {}

void CMainDlg::OnOkButton(Msg&) { CDialog::OnOK(); }

void CMainDlg::OnCancel() { AskToTerminate(kTitle); }

void CMainDlg::OnCloseButton(Msg&) { AskToTerminate("DialogBoxTitle"); }

void CMainDlg::AskToTerminate(const char* title) {
  if (!ScanInProgress) {
    CDialog::OnCancel();
    return;
  }
  if (ExMessageBox("Terminate the Scan now?", title, 36) != IDYES) return;
  m_cancel.ShowWindow(SW_HIDE);
  m_ok.ShowWindow(SW_SHOW);
  CancelRequested = 1;
}

void CMainDlg::OnRefreshStatus(Msg& m) {
  m_pathDisplay.SetWindowText(StatusText);
  m.result = 0;
}

void CMainDlg::OnAddLine(Msg& m) {
  if (m_resultLog.GetCount() >= kMaxLinesBeforeSummary && SummaryStarted == 0) {
    m_resultLog.ResetContent();
  }
  m_resultLog.AddString(LogLine);
  int n = m_resultLog.GetCount();
  // An index past the end selects nothing, so one or two lines stay unselected.
  m_resultLog.SetCurSel(n > 2 ? n - 1 : n);
  UpdateHorizontalExtent();
  m.result = 0;
}

void CMainDlg::UpdateHorizontalExtent() {
  // The list's font is not selected: lines are measured in the DC's default font.
  HDC dc = ::GetDC(m_resultLog.m_hWnd);
  if (!dc) return;
  int widest = 0;
  std::vector<char> line;
  for (int i = 0, n = m_resultLog.GetCount(); i < n; ++i) {
    int length = m_resultLog.GetTextLen(i);
    if (length <= 0) continue;
    line.assign(static_cast<size_t>(length) + 1, 0);
    m_resultLog.GetText(i, line.data());
    SIZE size;
    if (GetTextExtentPoint32A(dc, line.data(), length, &size) && size.cx > widest) widest = size.cx;
  }
  ::ReleaseDC(m_resultLog.m_hWnd, dc);
  if (m_resultLog.GetHorizontalExtent() < widest && widest > kExtentThreshold) {
    m_resultLog.SetHorizontalExtent(widest * 3 / 4);
  }
}

void CMainDlg::OnCtlColor(Msg& m) {
  HBRUSH base = reinterpret_cast<HBRUSH>(::DefWindowProcA(m_hWnd, m.message, m.wParam, m.lParam));
  SetBkMode(reinterpret_cast<HDC>(m.wParam), TRANSPARENT);
  HBRUSH brush = base;
  UINT kind = CtlColorKind(m);
  if (reinterpret_cast<HWND>(m.lParam) != m_programCaption.m_hWnd &&
      (kind == CTLCOLOR_DLG || kind == CTLCOLOR_STATIC) && WhiteBrush) {
    brush = WhiteBrush;
  }
  m.result = reinterpret_cast<LRESULT>(brush);
}

void CMainDlg::OnPaint(Msg&) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hWnd, &ps);
  if (m_backgroundDC && m_background) {
    BitBlt(dc, 0, 0, m_backgroundSize.bmWidth, m_backgroundSize.bmHeight, m_backgroundDC, 0, 0,
           SRCCOPY);
  }
  EndPaint(m_hWnd, &ps);
}

void CMainDlg::OnLButtonDown(Msg& m) {
  PostMessage(WM_NCLBUTTONDOWN, HTCAPTION,
              MAKELPARAM(GET_X_LPARAM(m.lParam), GET_Y_LPARAM(m.lParam)));
  m.handled = false;
}

void CMainDlg::OnDownload(Msg&) { OpenPage("/download/downloadnow.htm"); }

void CMainDlg::OnUtilityLink(Msg&) { OpenPage("/download/utility.htm"); }
