// Colours, fonts, drawing surfaces and bitmaps.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/bmp_decode.h"
#include "util/geometry.h"
#include "util/raii_win32.h"

// Red in the lowest byte, then green, then blue. A value with the top byte
// 0xFF names a system colour (its low byte is the COLOR_* index).
using TColor = int32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);
constexpr TColor clBtnFace = clSystemColor | COLOR_BTNFACE;
constexpr TColor clWindowText = clSystemColor | COLOR_WINDOWTEXT;

// The plain RGB value of a colour, system colours looked up.
COLORREF ColorToRGB(TColor Color);

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = uint8_t;  // an or-ed set of TFontStyle

// A logical font. Handle() builds the GDI font on demand and again after
// any change; OnChange tells the owner (a control) about every change.
class TFont {
 public:
  TFont() = default;
  // Copies the description, not the handle or the change listener.
  TFont(const TFont& Other) { CopyFrom(Other); }
  TFont& operator=(const TFont& Other) {
    Assign(Other);
    return *this;
  }

  // Takes over every attribute of Source and reports one change.
  void Assign(const TFont& Source);

  const std::wstring& Name() const { return FName; }
  void SetName(const std::wstring& Value);
  // In logical units; negative means character height (as in LOGFONT).
  int Height() const { return FHeight; }
  void SetHeight(int Value);
  uint8_t Charset() const { return FCharset; }
  void SetCharset(uint8_t Value);
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles Value);

  HFONT Handle();

  std::function<void()> OnChange;

 private:
  void CopyFrom(const TFont& Other);
  void Changed();

  std::wstring FName = L"MS Shell Dlg";
  int FHeight = -11;
  uint8_t FCharset = DEFAULT_CHARSET;
  TColor FColor = clWindowText;
  TFontStyles FStyle = 0;
  TUniqueGdiObject FHandle;
};

class TBitmap;

// A drawing surface over a device context. The plain canvas draws on a DC
// given to it; a control's canvas and a bitmap's canvas get their own.
class TCanvas {
 public:
  TCanvas() = default;
  virtual ~TCanvas() = default;
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  // The DC, acquired first when the canvas has none.
  HDC Handle();
  bool HandleAllocated() const { return FHandle != nullptr; }

  // Copies the whole bitmap with its top-left corner at (X, Y), in this
  // canvas's logical units (so a mapping mode scales it).
  void Draw(int X, int Y, TBitmap& Bitmap);
  // Copies the whole bitmap into Rect, shrinking or stretching it.
  void StretchDraw(const TRect& Rect, TBitmap& Bitmap);

  // Mapping-mode calls on the DC; each returns what the system call gives
  // (the previous mode, origin or extent).
  int SetMapMode(int Mode);
  POINT SetWindowOrg(int X, int Y);
  SIZE SetWindowExt(int X, int Y);

 protected:
  // Called by Handle() when there is no DC yet.
  virtual void CreateHandle() {}

  HDC FHandle = nullptr;
};

// A 32-bit device-independent bitmap with a canvas of its own.
class TBitmap {
 public:
  TBitmap();
  ~TBitmap();
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  bool Empty() const { return FWidth == 0 || FHeight == 0; }
  // A new black picture of this size; 0 x 0 frees it.
  void SetSize(int Width, int Height);
  HBITMAP Handle() const { return FHandle.Get(); }
  // A memory DC with the bitmap selected into it.
  TCanvas& Canvas();

  // Reads a BMP file from memory. Bytes that are not a valid bitmap raise
  // EInvalidGraphic and leave the picture as it was.
  void LoadFromBytes(const uint8_t* Data, size_t Size);

 private:
  void Assign(const TBmpImage& Image);

  class TBitmapCanvas;
  int FWidth = 0;
  int FHeight = 0;
  TUniqueBitmap FHandle;
  std::unique_ptr<TBitmapCanvas> FCanvas;
};
