#include "dialog/stdctrls_win32.h"

#include "util/raii_win32.h"
#include "util/text_win32.h"

// ---- TLabel ----

TLabel::TLabel(TComponent* AOwner) : TControl(AOwner) {}

void TLabel::SetCaption(const std::string& Value) { SetCaption(AnsiToWide(Value)); }

void TLabel::SetCaption(const std::wstring& Value) {
  TControl::SetCaption(Value);
  AdjustBounds();
}

void TLabel::SetShowAccelChar(bool Value) {
  FShowAccelChar = Value;
  AdjustBounds();
  Invalidate();
}

UINT TLabel::DrawFlags() const { return DT_LEFT | DT_TOP | DT_EXPANDTABS | (FShowAccelChar ? 0 : DT_NOPREFIX); }

void TLabel::AdjustBounds() {
  if (Loading()) return;
  // Measured on a screen DC: the label may have no window yet.
  RECT r{0, 0, 0, 0};
  {
    const TWindowDC screen(nullptr);
    if (!screen) return;
    const TSelectObject font(screen.Get(), Font().Handle());
    // An empty text still takes one line's height, as a label does.
    const std::wstring text = CaptionW().empty() ? std::wstring(L" ") : CaptionW();
    DrawTextW(screen.Get(), text.c_str(), static_cast<int>(text.size()), &r, DrawFlags() | DT_CALCRECT);
  }
  SetBounds(Left(), Top(), r.right - r.left, r.bottom - r.top);
}

void TLabel::Loaded() {
  TControl::Loaded();
  AdjustBounds();
}

void TLabel::FontChanged() {
  TControl::FontChanged();
  AdjustBounds();
}

void TLabel::Paint() {
  const HDC dc = Canvas().Handle();
  RECT r{0, 0, Width(), Height()};
  const TSelectObject font(dc, Font().Handle());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ColorToRGB(Font().Color()));
  DrawTextW(dc, CaptionW().c_str(), static_cast<int>(CaptionW().size()), &r, DrawFlags());
}

// ---- TButton ----

TButton::TButton(TComponent* AOwner) : TWinControl(AOwner) {
  // The system's button tracks the mouse and reports the click itself.
  ControlStyle = 0;
}

void TButton::CreateParams(TCreateParams& Params) {
  TWinControl::CreateParams(Params);
  Params.WinClassName = L"BUTTON";
  Params.SystemClass = true;
  Params.Style &= ~static_cast<DWORD>(WS_CLIPCHILDREN);
  Params.Style |= WS_TABSTOP | (FDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
}

void TButton::SetDefault(bool Value) {
  FDefault = Value;
  if (HandleAllocated())
    SendMessageW(Handle(), BM_SETSTYLE, Value ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TButton::Click() {
  if (FModalResult != mrNone)
    if (TForm* form = GetParentForm(this)) form->SetModalResult(FModalResult);
  TWinControl::Click();
}

void TButton::WndProc(TMessage& Message) {
  if (Message.Msg == CN_COMMAND && HIWORD(Message.WParam) == BN_CLICKED) {
    Click();
    Message.Result = 0;
    return;
  }
  TWinControl::WndProc(Message);
}

// ---- TImage ----

TImage::TImage(TComponent* AOwner) : TControl(AOwner) {}

void TImage::LoadFromBytes(const uint8_t* Data, size_t Size) {
  FPicture.LoadFromBytes(Data, Size);
  PictureChanged();
}

void TImage::PictureChanged() {
  if (FAutoSize && !FPicture.Empty()) SetBounds(Left(), Top(), FPicture.Width(), FPicture.Height());
  Invalidate();
}

void TImage::SetAutoSize(bool Value) {
  FAutoSize = Value;
  if (Value) PictureChanged();
}

void TImage::SetStretch(bool Value) {
  FStretch = Value;
  Invalidate();
}

void TImage::Paint() {
  if (FPicture.Empty()) return;
  if (FStretch)
    Canvas().StretchDraw({0, 0, Width(), Height()}, FPicture);
  else
    Canvas().Draw(0, 0, FPicture);
}

TForm* GetParentForm(TControl* Control) {
  for (TControl* c = Control; c; c = c->Parent())
    if (auto* form = dynamic_cast<TForm*>(c)) return form;
  return nullptr;
}
