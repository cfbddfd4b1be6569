// Where the settings dialog puts its picture, copyright line and close button,
// as a plain function of the sizes involved. The window layer gathers the
// sizes, calls LayoutDialog and applies the result.
#pragma once
#include <cstdint>
#include <functional>

struct TLayoutControl {
  bool Visible = true;
  int32_t Left = 0, Top = 0, Width = 0, Height = 0;
};

struct TDialogLayoutInput {
  // Outer window size less client size: the frame and caption.
  int32_t FrameWidth = 0, FrameHeight = 0;
  // The picture at its current (natural) size; the label with the size of its
  // text; the button. The label counts as visible when its caption is not
  // empty, whatever Visible says.
  TLayoutControl Picture, Label, Button;
  bool LabelCaptionEmpty = true;
  bool HasURL = false;
  // Limits a size to the screens given the frame around it: the narrowest
  // work-area width less the frame width, the lowest work-area height less
  // the frame height (ClampToWorkArea).
  std::function<void(int32_t& Width, int32_t& Height, int32_t FrameWidth, int32_t FrameHeight)> Clamp;
};

struct TDialogLayout {
  TLayoutControl Picture, Label, Button;
  // The picture had to be made smaller: switch its automatic sizing off and
  // stretch the bitmap into its new size.
  bool PictureLimited = false;
  // The picture shows the hand cursor (there is an address to open).
  bool PictureHandCursor = false;
  int32_t ClientWidth = 0, ClientHeight = 0;
};

TDialogLayout LayoutDialog(const TDialogLayoutInput& In);

// The largest size that keeps Width0:Height0 and fits in Limit.
// The binding limit is the one with the smaller scale factor
// (LimitWidth / Width0 against LimitHeight / Height0, compared exactly in integers);
// that side takes its limit and the other side is scaled by the same factor,
// rounded down so it never exceeds its own limit. Neither side drops below
// 1 pixel. A zero natural size has no proportions to keep: the limits apply
// as they are.
void FitProportionally(int32_t Width0, int32_t Height0, int32_t LimitWidth, int32_t LimitHeight,
                       int32_t& Width, int32_t& Height);
