// TShockwaveFlashEx: the player control as the main form uses it. It
// swallows the messages it is told to block (a previewed movie gets no
// input), stops handling timer messages once playback is being torn down,
// freezes a previewed movie while the preview is hidden, and can throttle a
// previewed movie to about one timer message per 50 ms.
#pragma once
#include <windows.h>

#include <vector>

#include "flash/shockwave_flash_win32.h"

class TShockwaveFlashEx : public TShockwaveFlash {
 public:
  // MainWnd is the main form's window (visibility decides whether a preview
  // advances). Creates the control instance; raises EOleError when the
  // control cannot be created.
  TShockwaveFlashEx(HWND MainWnd, bool IsPreview, bool PreviewSleep);

  // Every message numbered Msg is withheld from the control from now on.
  void BlockMessage(UINT Msg);
  // BlockMessage for First..Last, both included.
  void BlockMessages(UINT First, UINT Last);
  // From now on no timer message reaches the control. Never undone.
  void SetStopping() { FStopping = true; }
  bool Stopping() const { return FStopping; }

 protected:
  void WndProc(TFlashMessage& Message) override;
  // The throttle's clock and wait, replaceable by tests: GetTickCount and
  // Sleep.
  virtual DWORD DoGetTickCount();
  virtual void DoSleep(DWORD Ms);

 private:
  std::vector<UINT> FBlockedMessages;
  bool FPreviewSleep;
  bool FIsPreview;
  HWND FMainWnd;
  DWORD FLastTimerTick = 0;
  bool FStopping = false;
};
