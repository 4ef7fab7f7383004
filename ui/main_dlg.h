// The main dialog: the skinned window that shows what the tool is for,
// offers the maker's pages and owns the whole life of the one scan.
#pragma once

#include "ui/ex_button.h"
#include "ui/ex_static.h"
#include "ui/framework/dialog.h"

class CMainDlg : public CDialog {
 public:
  explicit CMainDlg(CWnd* parent = nullptr);
  ~CMainDlg() override;

  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  void OnOK() override;  // Enter never ends the dialog
  void OnCancel() override;
  bool OnMessage(Msg& m) override;

 private:
  void OnRefreshStatus(Msg& m);
  void OnAddLine(Msg& m);
  void OnTimer(Msg& m);
  void OnPaint(Msg& m);
  void OnScan(Msg& m);
  void OnCloseButton(Msg& m);
  void OnDownload(Msg& m);
  void OnCtlColor(Msg& m);
  void OnLButtonDown(Msg& m);
  void OnOkButton(Msg& m);
  void OnUtilityLink(Msg& m);

  // The cancel prompt of CANCEL, the system menu and X (titles differ).
  void AskToTerminate(const char* title);
  void ComposeTexts();
  bool ProductInstalled();
  void LoadBackground();
  void UpdateHorizontalExtent();

  CButton m_lowerGroup;
  CExButton m_logo;
  CExButton m_utilityLink;
  CExButton m_downloadLink;
  CStatic m_searchCaption;
  CStatic m_productNote;
  CStatic m_titleLine;
  CStatic m_makerLine;
  CExStatic m_programCaption;
  CExButton m_cancel;
  CButton m_upperGroup;
  CStatic m_pathDisplay;
  CListBox m_resultLog;
  CExButton m_close;
  CExButton m_download;
  CExButton m_scan;
  CExButton m_ok;
  HICON m_icon = nullptr;
  HBITMAP m_background = nullptr;
  HDC m_backgroundDC = nullptr;
  HGDIOBJ m_displacedBitmap = nullptr;
  HRGN m_region = nullptr;  // owned by the window once set
  BITMAP m_backgroundSize = {};
  CFont m_searchFont;  // the search caption's font, alive while it is shown
  HANDLE m_scanLock = nullptr;  // tells an unattended run that this one scans

  static const MessageEntry<CMainDlg> kMessageMap[12];
};
