#include "framework/graphics_win32.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>

#include "framework/component.h"

COLORREF ColorToRGB(TColor Color) {
  if ((Color & clSystemColor) == clSystemColor) return GetSysColor(Color & 0xFF);
  return static_cast<COLORREF>(Color) & 0xFFFFFF;
}

// ---- TFont ----

void TFont::CopyFrom(const TFont& Other) {
  FName = Other.FName;
  FHeight = Other.FHeight;
  FCharset = Other.FCharset;
  FColor = Other.FColor;
  FStyle = Other.FStyle;
  FHandle.Reset();
}

void TFont::Assign(const TFont& Source) {
  if (&Source == this) return;
  CopyFrom(Source);
  Changed();
}

void TFont::Changed() {
  FHandle.Reset();
  CallEvent(OnChange);
}

void TFont::SetName(const std::wstring& Value) {
  if (ChangeField(FName, Value)) Changed();
}
void TFont::SetHeight(int Value) {
  if (ChangeField(FHeight, Value)) Changed();
}
void TFont::SetCharset(uint8_t Value) {
  if (ChangeField(FCharset, Value)) Changed();
}
void TFont::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  // The colour is not part of the GDI font; keep the handle.
  CallEvent(OnChange);
}
void TFont::SetStyle(TFontStyles Value) {
  if (ChangeField(FStyle, Value)) Changed();
}

HFONT TFont::Handle() {
  if (!FHandle) {
    LOGFONTW lf{};
    lf.lfHeight = FHeight;
    lf.lfWeight = (FStyle & fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (FStyle & fsItalic) ? TRUE : FALSE;
    lf.lfUnderline = (FStyle & fsUnderline) ? TRUE : FALSE;
    lf.lfStrikeOut = (FStyle & fsStrikeOut) ? TRUE : FALSE;
    lf.lfCharSet = FCharset;
    lf.lfQuality = DEFAULT_QUALITY;
    const size_t n = std::min(FName.size(), std::size(lf.lfFaceName) - 1);
    std::memcpy(lf.lfFaceName, FName.data(), n * sizeof(wchar_t));
    FHandle.Reset(CreateFontIndirectW(&lf));
  }
  return static_cast<HFONT>(FHandle.Get());
}

// ---- TCanvas ----

HDC TCanvas::Handle() {
  if (!FHandle) CreateHandle();
  return FHandle;
}

void TCanvas::Draw(int X, int Y, TBitmap& Bitmap) {
  if (Bitmap.Empty()) return;
  const HDC dc = Handle();
  const int oldMode = SetStretchBltMode(dc, COLORONCOLOR);
  StretchBlt(dc, X, Y, Bitmap.Width(), Bitmap.Height(), Bitmap.Canvas().Handle(), 0, 0, Bitmap.Width(),
             Bitmap.Height(), SRCCOPY);
  SetStretchBltMode(dc, oldMode);
}

void TCanvas::StretchDraw(const TRect& Rect, TBitmap& Bitmap) {
  if (Bitmap.Empty()) return;
  const HDC dc = Handle();
  // Averaging keeps a shrunken picture legible.
  const int oldMode = SetStretchBltMode(dc, HALFTONE);
  POINT oldOrg;
  SetBrushOrgEx(dc, 0, 0, &oldOrg);
  StretchBlt(dc, Rect.Left, Rect.Top, Rect.Width(), Rect.Height(), Bitmap.Canvas().Handle(), 0, 0,
             Bitmap.Width(), Bitmap.Height(), SRCCOPY);
  SetStretchBltMode(dc, oldMode);
  SetBrushOrgEx(dc, oldOrg.x, oldOrg.y, nullptr);
}

int TCanvas::SetMapMode(int Mode) { return ::SetMapMode(Handle(), Mode); }

POINT TCanvas::SetWindowOrg(int X, int Y) {
  POINT old{0, 0};
  SetWindowOrgEx(Handle(), X, Y, &old);
  return old;
}
SIZE TCanvas::SetWindowExt(int X, int Y) {
  SIZE old{0, 0};
  SetWindowExtEx(Handle(), X, Y, &old);
  return old;
}

// ---- TBitmap ----

// A memory DC that keeps the bitmap selected for as long as it lives.
class TBitmap::TBitmapCanvas : public TCanvas {
 public:
  TBitmapCanvas() : FDc(CreateCompatibleDC(nullptr)) { FHandle = FDc.Get(); }
  void Select(HBITMAP Bitmap) {
    FSelection.reset();
    if (Bitmap) FSelection.emplace(FDc.Get(), Bitmap);
  }

 private:
  TUniqueDC FDc;
  std::optional<TSelectObject> FSelection;  // goes before the DC does
};

TBitmap::TBitmap() : FCanvas(std::make_unique<TBitmapCanvas>()) {}

TBitmap::~TBitmap() { FCanvas->Select(nullptr); }

TCanvas& TBitmap::Canvas() { return *FCanvas; }

namespace {

// A top-down 32-bit DIB section and the address of its pixels.
HBITMAP CreateDib(int Width, int Height, void** Bits) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = Width;
  bi.bmiHeader.biHeight = -Height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  return CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, Bits, nullptr, 0);
}

}  // namespace

void TBitmap::SetSize(int Width, int Height) {
  if (Width < 0) Width = 0;
  if (Height < 0) Height = 0;
  FCanvas->Select(nullptr);
  FHandle.Reset();
  FWidth = FHeight = 0;
  if (Width == 0 || Height == 0) return;
  void* bits = nullptr;
  TUniqueBitmap dib(CreateDib(Width, Height, &bits));
  if (!dib) throw EInvalidGraphic("cannot create a bitmap of this size");
  std::memset(bits, 0, static_cast<size_t>(Width) * Height * 4);
  FHandle = std::move(dib);
  FWidth = Width;
  FHeight = Height;
  FCanvas->Select(FHandle.Get());
}

void TBitmap::Assign(const TBmpImage& Image) {
  void* bits = nullptr;
  TUniqueBitmap dib(CreateDib(Image.Width, Image.Height, &bits));
  if (!dib) throw EInvalidGraphic("cannot create a bitmap of this size");
  std::memcpy(bits, Image.Pixels.data(), Image.Pixels.size() * sizeof(uint32_t));
  GdiFlush();
  FCanvas->Select(nullptr);
  FHandle = std::move(dib);
  FWidth = Image.Width;
  FHeight = Image.Height;
  FCanvas->Select(FHandle.Get());
}

void TBitmap::LoadFromBytes(const uint8_t* Data, size_t Size) { Assign(DecodeBmp(Data, Size)); }
