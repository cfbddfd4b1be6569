// The three plain controls the settings dialog is made of: a text label, a
// push button and a picture. Each is a real child window.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/forms_win32.h"

// UTF-16 texts of the program as the wide strings Windows takes.
inline std::wstring WideText(const char16_t* Text) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  return std::wstring(reinterpret_cast<const wchar_t*>(Text));
}

// A line of text on the parent's background, sized to its text.
class TLabel : public TControl {
 public:
  explicit TLabel(TComponent* AOwner);

  // Hides the control's own setters so the label follows its new text.
  void SetCaption(const std::string& Value);
  void SetCaption(const std::wstring& Value);

  // Off: an "&" is shown as written instead of underlining the next letter.
  void SetShowAccelChar(bool Value);

  // Takes the size of the text in the label's font, keeping the top-left
  // corner: a label always fits its text.
  void AdjustBounds();

  void Loaded() override;

 protected:
  void Paint() override;
  void FontChanged() override;

 private:
  UINT DrawFlags() const;
  bool FShowAccelChar = true;
};

// A push button. Default and Cancel make Enter and Esc press it, through its
// form; a non-zero ModalResult ends its form's modal loop with that result.
class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* AOwner);

  bool Default() const { return FDefault; }
  void SetDefault(bool Value);
  bool Cancel() const { return FCancel; }
  void SetCancel(bool Value) { FCancel = Value; }
  void SetModalResult(TModalResult Value) { FModalResult = Value; }

  void Click() override;

 protected:
  void CreateParams(TCreateParams& Params) override;
  void WndProc(TMessage& Message) override;

 private:
  bool FDefault = false;
  bool FCancel = false;
  TModalResult FModalResult = mrNone;
};

// A bitmap picture. With AutoSize the control takes the picture's size when
// one is loaded; with Stretch the picture fills the control whatever its size.
class TImage : public TControl {
 public:
  explicit TImage(TComponent* AOwner);

  // Reads a BMP file from memory (EInvalidGraphic for bytes that are not
  // one; the old picture stays), then resizes and redraws.
  void LoadFromBytes(const uint8_t* Data, size_t Size);

  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);
  bool Stretch() const { return FStretch; }
  void SetStretch(bool Value);

 protected:
  void Paint() override;

 private:
  // Takes the picture's size (AutoSize) and redraws.
  void PictureChanged();

  TBitmap FPicture;
  bool FAutoSize = false;
  bool FStretch = false;
};

// The form a control sits on, or null.
TForm* GetParentForm(TControl* Control);
