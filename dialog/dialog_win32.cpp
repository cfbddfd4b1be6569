#include "dialog/dialog_win32.h"

#include "dialog/dialog_layout.h"
#include "framework/form_utils_win32.h"
#include "util/texts.h"

TfrmDialog* frmDialog = nullptr;

namespace {

void SetDialogFont(TFont& Font, TColor Color) {
  Font.SetName(WideText(FormTexts::kFontName));
  Font.SetHeight(-12);
  Font.SetCharset(SHIFTJIS_CHARSET);
  Font.SetColor(Color);
}

TLayoutControl LayoutOf(TControl& C) { return {C.Visible(), C.Left(), C.Top(), C.Width(), C.Height()}; }

}  // namespace

TfrmDialog::TfrmDialog(TComponent* AOwner) : TForm(AOwner) {
  SetName("frmDialog");
  SetCaption(WideText(FormTexts::kCaption));
  SetBorderStyle(bsDialog);
  SetBorderIcons(0);
  SetColor(clBtnFace);
  SetDialogFont(Font(), clWindowText);

  imgImage = new TImage(this);
  imgImage->SetName("imgImage");
  imgImage->SetParent(this);
  imgImage->SetBounds(0, 0, 105, 105);
  imgImage->SetAutoSize(true);
  imgImage->OnClick = [this](TComponent* Sender) { imgImageClick(Sender); };

  lblCopyright = new TSimpleWebLabelEx(this);
  lblCopyright->SetName("lblCopyright");
  lblCopyright->SetParent(this);
  lblCopyright->SetBounds(0, 112, 61, 12);
  lblCopyright->SetCaption(std::string("lblCopyright"));
  SetDialogFont(lblCopyright->Font(), clBlack);
  lblCopyright->SetShowAccelChar(false);

  btnClose = new TButton(this);
  btnClose->SetName("btnClose");
  btnClose->SetParent(this);
  btnClose->SetBounds(8, 128, 100, 20);
  btnClose->SetCaption(WideText(DialogTexts::kCloseButton));
  btnClose->SetDefault(true);
  btnClose->SetCancel(true);
  btnClose->SetModalResult(mrOk);

  // The design size; every show lays the dialog out anew.
  SetClientWidth(114);
  SetClientHeight(152);

  OnCreate = [this](TComponent* Sender) { FormCreate(Sender); };
  OnShow = [this](TComponent* Sender) { FormShow(Sender); };
}

void TfrmDialog::BeforeDestruction() {
  if (frmDialog == this) frmDialog = nullptr;
  TForm::BeforeDestruction();
}

void TfrmDialog::FormCreate(TComponent*) { lblCopyright->SetCaption(std::string()); }

void TfrmDialog::FormShow(TComponent*) {
  lblCopyright->SetVisible(!lblCopyright->CaptionW().empty());
  lblCopyright->AdjustBounds();

  TDialogLayoutInput in;
  in.FrameWidth = Width() - ClientWidth();
  in.FrameHeight = Height() - ClientHeight();
  in.Picture = LayoutOf(*imgImage);
  in.Label = LayoutOf(*lblCopyright);
  in.Button = LayoutOf(*btnClose);
  in.LabelCaptionEmpty = lblCopyright->CaptionW().empty();
  in.HasURL = !lblCopyright->URL().empty();
  in.Clamp = [](int32_t& W, int32_t& H, int32_t FW, int32_t FH) { ClampToWorkArea(W, H, FW, FH); };
  const TDialogLayout layout = LayoutDialog(in);

  if (layout.PictureLimited) {
    imgImage->SetAutoSize(false);
    imgImage->SetStretch(true);
  }
  auto place = [](TControl& C, const TLayoutControl& L) {
    if (L.Visible) C.SetBounds(L.Left, L.Top, L.Width, L.Height);
  };
  place(*imgImage, layout.Picture);
  place(*lblCopyright, layout.Label);
  place(*btnClose, layout.Button);
  imgImage->SetCursor(layout.PictureHandCursor ? crHandPoint : crDefault);
  SetClientWidth(layout.ClientWidth);
  SetClientHeight(layout.ClientHeight);

  // Centred on the monitor that holds the main form, or on the nearest one.
  HWND anchor = Handle();
  if (Application && Application->MainForm() && Application->MainForm()->HandleAllocated())
    anchor = Application->MainForm()->Handle();
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (GetMonitorInfoW(MonitorFromWindow(anchor, MONITOR_DEFAULTTONEAREST), &info)) {
    CenterFormInRect(Handle(), info.rcWork);
    UpdateBoundsFromWindow();
  }
}

void TfrmDialog::imgImageClick(TComponent*) {
  if (!lblCopyright->URL().empty()) lblCopyright->Click();
}

bool TfrmDialog::CloseButtonUsable() {
  return btnClose && btnClose->Visible() && btnClose->Enabled() && IsWindowEnabled(btnClose->Handle());
}

bool TfrmDialog::PreProcessMessage(MSG& Msg) {
  const bool shift = GetKeyState(VK_SHIFT) < 0, ctrl = GetKeyState(VK_CONTROL) < 0, alt = GetKeyState(VK_MENU) < 0;
  bool press = false;
  if (Msg.message == WM_KEYDOWN && (Msg.wParam == VK_RETURN || Msg.wParam == VK_ESCAPE))
    press = !shift && !ctrl && !alt && btnClose &&
            (Msg.wParam == VK_RETURN ? btnClose->Default() : btnClose->Cancel());
  else if (Msg.message == WM_SYSKEYDOWN && Msg.wParam == 'C')
    press = (HIWORD(Msg.lParam) & KF_ALTDOWN) && !ctrl;  // the caption's accelerator
  if (!press || !CloseButtonUsable()) return TForm::PreProcessMessage(Msg);
  btnClose->Click();
  return true;
}

void TfrmDialog::WndProc(TMessage& Message) {
  TForm::WndProc(Message);
  // The close button is first in the tab order: it takes the focus whenever
  // the dialog becomes active.
  if (Message.Msg == WM_ACTIVATE && LOWORD(Message.WParam) != WA_INACTIVE && CloseButtonUsable())
    SetFocus(btnClose->Handle());
}
