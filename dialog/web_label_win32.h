// A label that behaves like a web link: hand cursor, colour change and
// underline under the mouse, and its address opened in the browser on click.
#pragma once
#include <string>

#include "dialog/stdctrls_win32.h"
#include "dialog/web_label_look.h"

class TSimpleWebLabel : public TLabel {
 public:
  explicit TSimpleWebLabel(TComponent* AOwner);

  TColor NormalColor() const { return FColors.Normal; }
  // A different value becomes the font colour at once.
  void SetNormalColor(TColor Value);
  TColor OverColor() const { return FColors.Over; }
  void SetOverColor(TColor Value) { FColors.Over = Value; }
  TColor ClickingColor() const { return FColors.Clicking; }
  void SetClickingColor(TColor Value) { FColors.Clicking = Value; }

  // The address a click opens; the caption here.
  virtual std::string GetURL() const;

  void Loaded() override;
  // Opens GetURL() in the browser unless OnClick is set, then fires OnClick.
  // A malformed address goes to the application's exception sink.
  void Click() override;

 protected:
  void MouseEnter() override;
  void MouseLeave() override;
  void MouseDown(TMouseButton Button, int X, int Y) override;
  void MouseUp(TMouseButton Button, int X, int Y) override;

 private:
  void Apply(TLabelEvent Event);

  TLabelColors FColors;
  // The left button has been held since a press on the label.
  bool FPressed = false;
};

// The variant whose address is a property of its own; the caption is free text.
class TSimpleWebLabelEx : public TSimpleWebLabel {
 public:
  explicit TSimpleWebLabelEx(TComponent* AOwner) : TSimpleWebLabel(AOwner) {}

  const std::string& URL() const { return FURL; }
  void SetURL(const std::string& Value) { FURL = Value; }
  std::string GetURL() const override { return FURL; }

 private:
  std::string FURL;
};
