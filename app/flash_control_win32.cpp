#include "app/flash_control_win32.h"

#include <algorithm>

namespace {
// The shortest gap between two timer messages of a throttled preview.
constexpr DWORD kPreviewTimerGapMs = 50;
}  // namespace

TShockwaveFlashEx::TShockwaveFlashEx(HWND MainWnd, bool IsPreview, bool PreviewSleep)
    : TShockwaveFlash(nullptr), FPreviewSleep(PreviewSleep), FIsPreview(IsPreview), FMainWnd(MainWnd) {
  if (FIsPreview && FPreviewSleep) LimitFrameRate(kPreviewTimerGapMs);
}

void TShockwaveFlashEx::BlockMessage(UINT Msg) { FBlockedMessages.push_back(Msg); }

void TShockwaveFlashEx::BlockMessages(UINT First, UINT Last) {
  for (UINT m = First; m <= Last; ++m) BlockMessage(m);
}

void TShockwaveFlashEx::WndProc(TFlashMessage& Message) {
  try {
    bool pass = std::find(FBlockedMessages.begin(), FBlockedMessages.end(), Message.Msg) == FBlockedMessages.end();
    if (Message.Msg == WM_TIMER) {
      if (FStopping) {
        pass = false;
      } else if (FIsPreview) {
        if (!IsWindowVisible(FMainWnd)) {
          pass = false;
        } else if (FPreviewSleep) {
          // Unsigned difference: right across the tick counter's wrap.
          if (DoGetTickCount() - FLastTimerTick < kPreviewTimerGapMs) DoSleep(kPreviewTimerGapMs);
          FLastTimerTick = DoGetTickCount();
        }
      }
    }
    if (pass)
      TShockwaveFlash::WndProc(Message);
    else
      Message.Result = 0;
  } catch (...) {
    // Nothing the control raises may leave its window procedure.
  }
}

DWORD TShockwaveFlashEx::DoGetTickCount() { return GetTickCount(); }

void TShockwaveFlashEx::DoSleep(DWORD Ms) { Sleep(Ms); }
