#include "dialog/web_label_win32.h"

#include "dialog/browser_win32.h"

static_assert(LabelLook::Underline == fsUnderline && LabelLook::Bold == fsBold && LabelLook::Italic == fsItalic &&
              LabelLook::StrikeOut == fsStrikeOut);
static_assert(LabelLook::Black == clBlack && LabelLook::Blue == clBlue && LabelLook::Red == clRed);

TSimpleWebLabel::TSimpleWebLabel(TComponent* AOwner) : TLabel(AOwner) {
  ControlStyle |= csCaptureMouse | csClickEvents | csMouseEnterLeave;
}

void TSimpleWebLabel::SetNormalColor(TColor Value) {
  if (Value == FColors.Normal) return;
  FColors.Normal = Value;
  Font().SetColor(Value);
}

std::string TSimpleWebLabel::GetURL() const { return Caption(); }

void TSimpleWebLabel::Apply(TLabelEvent Event) {
  const TLabelLook now{Cursor() == crHandPoint ? TLabelCursor::HandPoint : TLabelCursor::Default, Font().Color(),
                       Font().Style()};
  const TLabelLook next = NextLabelLook(now, Event, !GetURL().empty(), FPressed, FColors);
  // Only what changed: an unchanged cursor stays whatever it was.
  if (next.Cursor != now.Cursor) SetCursor(next.Cursor == TLabelCursor::HandPoint ? crHandPoint : crDefault);
  if (next.FontColor != now.FontColor) Font().SetColor(next.FontColor);
  if (next.FontStyle != now.FontStyle) Font().SetStyle(next.FontStyle);
}

void TSimpleWebLabel::Loaded() {
  TLabel::Loaded();
  Apply(TLabelEvent::Loaded);
}

void TSimpleWebLabel::Click() {
  if (!OnClick) {
    try {
      OpenURL(GetURL());
    } catch (...) {
      HandleApplicationException(std::current_exception());
    }
  }
  TLabel::Click();
}

void TSimpleWebLabel::MouseEnter() {
  TLabel::MouseEnter();
  Apply(TLabelEvent::MouseEnter);
}

void TSimpleWebLabel::MouseLeave() {
  TLabel::MouseLeave();
  Apply(TLabelEvent::MouseLeave);
}

void TSimpleWebLabel::MouseDown(TMouseButton Button, int X, int Y) {
  TLabel::MouseDown(Button, X, Y);
  if (Button != TMouseButton::mbLeft) return;
  FPressed = true;
  Apply(TLabelEvent::LeftDown);
}

void TSimpleWebLabel::MouseUp(TMouseButton Button, int X, int Y) {
  TLabel::MouseUp(Button, X, Y);
  if (Button != TMouseButton::mbLeft) return;
  FPressed = false;
  Apply(TLabelEvent::LeftUp);
}
