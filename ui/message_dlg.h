// The tool's own question and notice dialog: light-blue, one of four
// pictures, bitmap buttons; grows with the text and centres on the main
// dialog. ExMessageBox (platform/message_box.h) shows it.
#pragma once

#include <string>

#include "ui/ex_button.h"
#include "ui/framework/dialog.h"

class CMessageDlg : public CDialog {
 public:
  explicit CMessageDlg(CWnd* parent = nullptr);
  ~CMessageDlg() override;

  // Chooses the button set and the picture from message-box style bits.
  void SetStyle(unsigned style);
  void SetText(const char* text) { m_textString = text ? text : ""; }
  void SetTitle(const char* title) { m_title = title ? title : ""; }
  int PictureId() const { return m_pictureId; }

  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  bool OnMessage(Msg& m) override;

 private:
  void OnYes(Msg& m);
  void OnPaint(Msg& m);
  void OnNo(Msg& m);
  void OnSingleOk(Msg& m);
  void OnCtlColor(Msg& m);
  void LayOut(int textLength);

  CStatic m_picture;
  NCExButton m_yes;
  NCExButton m_okButton;
  NCExButton m_no;
  NCExButton m_singleOk;
  NCExButton m_cancelButton;
  CStatic m_text;
  int m_pictureId;
  int m_singleStyle = 0;
  int m_okCancelStyle = 0;
  int m_yesNoStyle = 0;
  std::string m_textString;
  std::string m_title;
  HBRUSH m_background = nullptr;

  static const MessageEntry<CMessageDlg> kMessageMap[5];
};
