// The message dialog: style choice, layout from the text's length, the
// picture and the colours; and ExMessageBox.
#include "ui/message_dlg.h"

#include "platform/message_box.h"
#include "res/resource.h"
#include "ui/framework/app.h"
#include "ui/main_dlg.h"
#include "ui/ui_state.h"
#include "ui/unattended_run.h"

namespace {
const char kDefaultTitle[] = "Sorvane Ver 1.0";
constexpr COLORREF kLightBlue = 0xFEE9CF;  // red 207, green 233, blue 254
}  // namespace

const MessageEntry<CMessageDlg> CMessageDlg::kMessageMap[5] = {
    {WM_COMMAND, IDYES, &CMessageDlg::OnYes},
    {WM_PAINT, 0, &CMessageDlg::OnPaint},
    {WM_COMMAND, IDNO, &CMessageDlg::OnNo},
    {WM_COMMAND, IDC_SINGLE_OK, &CMessageDlg::OnSingleOk},
    {WM_CTLCOLOR_ANY, 0, &CMessageDlg::OnCtlColor},
};

CMessageDlg::CMessageDlg(CWnd* parent)
    : CDialog(IDD_MESSAGE, parent), m_pictureId(IDB_WARNING), m_title(kDefaultTitle) {}

CMessageDlg::~CMessageDlg() {
  if (m_background) DeleteObject(m_background);
}

void CMessageDlg::SetStyle(unsigned style) {
  m_singleStyle = m_okCancelStyle = m_yesNoStyle = 0;
  if (style & MB_OKCANCEL) {
    m_okCancelStyle = 1;
  } else if (style & MB_YESNO) {
    m_yesNoStyle = 1;
  } else {
    m_singleStyle = 1;
  }
  if ((style & 0x30) == 0x30) {
    m_pictureId = IDB_WARNING;
  } else if (style & 0x40) {
    m_pictureId = IDB_INFORMATION;
  } else if (style & 0x20) {
    m_pictureId = IDB_QUESTION;
  } else if (style & 0x10) {
    m_pictureId = IDB_ERROR;
  } else {
    m_pictureId = IDB_WARNING;
  }
}

bool CMessageDlg::OnMessage(Msg& m) {
  return DispatchMap(this, kMessageMap, m) || CDialog::OnMessage(m);
}

void CMessageDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_PICTURE, m_picture);
  DDX_Control(pDX, IDYES, m_yes);
  DDX_Control(pDX, IDOK, m_okButton);
  DDX_Control(pDX, IDNO, m_no);
  DDX_Control(pDX, IDC_SINGLE_OK, m_singleOk);
  DDX_Control(pDX, IDCANCEL, m_cancelButton);
  DDX_Control(pDX, IDC_MESSAGE_TEXT, m_text);
}

BOOL CMessageDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  LayOut(static_cast<int>(m_textString.size()));
  m_text.SetWindowText(m_textString.c_str());
  SetWindowText(m_title.empty() ? kDefaultTitle : m_title.c_str());
  if (MainDialog) CenterWindow(MainDialog);
  return TRUE;
}

// Grows the dialog in steps of 30 bytes of text. Rectangles read in screen
// coordinates are passed back as client coordinates; the dialog stands at
// the screen origin meanwhile, so the two differ by its frame and caption.
void CMessageDlg::LayOut(int textLength) {
  int a = 10 * (textLength / 30 + 1);
  int b = static_cast<int>(1.25 * a);
  int c = a - b / 4;

  RECT r;
  GetWindowRect(&r);
  MoveWindow(0, 0, (r.right - r.left) + b, (r.bottom - r.top) + c, TRUE);
  GetWindowRect(&r);
  int bottom = r.bottom;

  RECT text;
  m_text.GetWindowRect(&text);
  int textHeight = (text.bottom - text.top) + c + (LargeFonts == 1 ? 25 : 0);
  m_text.MoveWindow(text.left, text.top - 25, (text.right - text.left) + b, textHeight, TRUE);
  int pictureTop = text.top - 30;

  for (CWnd* button : {static_cast<CWnd*>(&m_singleOk), static_cast<CWnd*>(&m_okButton),
                       static_cast<CWnd*>(&m_cancelButton), static_cast<CWnd*>(&m_yes),
                       static_cast<CWnd*>(&m_no)}) {
    button->GetWindowRect(&r);
    button->MoveWindow(r.left + b / 2, bottom - 65, r.right - r.left, r.bottom - r.top, TRUE);
  }
  m_singleOk.ShowWindow(m_singleStyle ? SW_SHOW : SW_HIDE);
  m_okButton.ShowWindow(m_okCancelStyle ? SW_SHOW : SW_HIDE);
  m_cancelButton.ShowWindow(m_okCancelStyle ? SW_SHOW : SW_HIDE);
  m_yes.ShowWindow(m_yesNoStyle ? SW_SHOW : SW_HIDE);
  m_no.ShowWindow(m_yesNoStyle ? SW_SHOW : SW_HIDE);

  m_okButton.AutoLoad(IDOK, this);
  m_singleOk.AutoLoad(IDC_SINGLE_OK, this);
  m_cancelButton.AutoLoad(IDCANCEL, this);
  m_yes.AutoLoad(IDYES, this);
  m_no.AutoLoad(IDNO, this);

  if (a > 30) {
    m_picture.GetWindowRect(&r);
    m_picture.MoveWindow(r.left, pictureTop, r.right - r.left, r.bottom - r.top, TRUE);
  }
}

void CMessageDlg::OnOK() { EndDialog(IDOK); }

void CMessageDlg::OnCancel() { EndDialog(m_yesNoStyle ? IDNO : IDCANCEL); }

void CMessageDlg::OnYes(Msg&) { EndDialog(IDYES); }

void CMessageDlg::OnNo(Msg&) { EndDialog(IDNO); }

void CMessageDlg::OnSingleOk(Msg&) { OnOK(); }

void CMessageDlg::OnPaint(Msg&) {
  PAINTSTRUCT ps;
  BeginPaint(m_hWnd, &ps);
  auto picture = static_cast<HBITMAP>(LoadImageA(AfxGetInstanceHandle(),
                                                 MAKEINTRESOURCEA(m_pictureId), IMAGE_BITMAP, 0,
                                                 0, LR_LOADMAP3DCOLORS));
  if (picture) {
    HDC dc = ::GetDC(m_picture.m_hWnd);
    RECT area;
    m_picture.GetClientRect(&area);
    if (HDC memory = CreateCompatibleDC(dc)) {
      HGDIOBJ previous = SelectObject(memory, picture);
      // Cut off at the control's edges.
      BitBlt(dc, area.left, area.top, area.right, area.bottom, memory, 0, 0, SRCCOPY);
      SelectObject(memory, previous);
      DeleteDC(memory);
    }
    DeleteObject(picture);
    ::ReleaseDC(m_picture.m_hWnd, dc);
  }
  EndPaint(m_hWnd, &ps);
}

void CMessageDlg::OnCtlColor(Msg& m) {
  HBRUSH brush = reinterpret_cast<HBRUSH>(::DefWindowProcA(m_hWnd, m.message, m.wParam, m.lParam));
  SetBkMode(reinterpret_cast<HDC>(m.wParam), TRANSPARENT);
  UINT kind = CtlColorKind(m);
  if (kind == CTLCOLOR_DLG || kind == CTLCOLOR_STATIC) {
    if (!m_background) m_background = CreateSolidBrush(kLightBlue);
    if (m_background) brush = m_background;
  }
  m.result = reinterpret_cast<LRESULT>(brush);
}

int ExMessageBox(const char* text, const char* title, unsigned style) {
  // An unattended run answers in place of a person and shows nothing.
  int answer;
  if (AnswerUnattended(text, title, style, &answer)) return answer;
  CMessageDlg dialog(nullptr);
  dialog.SetText(text);
  dialog.SetTitle(title);
  dialog.SetStyle(style);
  return static_cast<int>(dialog.DoModal());
}
