#include "dialog/dialog_layout.h"

#include <algorithm>

void FitProportionally(int32_t Width0, int32_t Height0, int32_t LimitWidth, int32_t LimitHeight,
                       int32_t& Width, int32_t& Height) {
  // A work area smaller than the frame still leaves a visible pixel.
  LimitWidth = std::max<int32_t>(LimitWidth, 1);
  LimitHeight = std::max<int32_t>(LimitHeight, 1);
  if (Width0 <= 0 || Height0 <= 0) {
    Width = std::min(std::max<int32_t>(Width0, 0), LimitWidth);
    Height = std::min(std::max<int32_t>(Height0, 0), LimitHeight);
    return;
  }
  const int64_t w0 = Width0, h0 = Height0, lw = LimitWidth, lh = LimitHeight;
  if (lw * h0 <= lh * w0) {
    // The width is the tighter limit.
    Width = std::min(LimitWidth, Width0);
    Height = static_cast<int32_t>(std::max<int64_t>(1, std::min(h0, h0 * Width / w0)));
  } else {
    Height = std::min(LimitHeight, Height0);
    Width = static_cast<int32_t>(std::max<int64_t>(1, std::min(w0, w0 * Height / h0)));
  }
}

TDialogLayout LayoutDialog(const TDialogLayoutInput& In) {
  TDialogLayout out;
  out.Picture = In.Picture;
  out.Label = In.Label;
  out.Button = In.Button;
  out.Label.Visible = !In.LabelCaptionEmpty;

  // Rows below the picture are reserved before limiting the picture, so the
  // whole dialog fits on the smallest screen: each row with the gap above it,
  // and the button also with the gap below it, which the stacking adds too.
  int32_t reservedHeight = In.FrameHeight;
  for (const TLayoutControl* c : {&out.Label, &out.Button})
    if (c->Visible) reservedHeight += c->Height + 4;
  if (out.Button.Visible) reservedHeight += 4;

  const int32_t w0 = out.Picture.Width, h0 = out.Picture.Height;
  int32_t w = w0, h = h0;
  if (In.Clamp) In.Clamp(w, h, In.FrameWidth, reservedHeight);
  if (w != w0 || h != h0) {
    out.PictureLimited = true;
    FitProportionally(w0, h0, w, h, out.Picture.Width, out.Picture.Height);
  }

  int32_t contentWidth = out.Picture.Width;
  for (const TLayoutControl* c : {&out.Label, &out.Button})
    if (c->Visible) contentWidth = std::max(contentWidth, c->Width + 16);

  int32_t y = -4;
  for (TLayoutControl* c : {&out.Picture, &out.Label, &out.Button}) {
    if (!c->Visible) continue;
    c->Left = (contentWidth - c->Width) / 2;
    c->Top = y + 4;
    y = c->Top + c->Height;
  }
  // The gap under the button belongs to the button: without it the client
  // area ends at the last control.
  if (out.Button.Visible) y += 4;

  out.PictureHandCursor = In.HasURL;
  out.ClientWidth = contentWidth;
  out.ClientHeight = y;
  return out;
}
