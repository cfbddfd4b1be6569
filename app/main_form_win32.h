// TfrmMain: the saver's main form. It has the package read and applied,
// extracts the movie, creates the player controls the run mode and the
// package ask for, loads the movie into them, forwards input to them, and
// at the end stops them and removes everything it extracted.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/extraction_win32.h"
#include "app/flash_control_win32.h"
#include "framework/forms_win32.h"
#include "saver/screen_saver_win32.h"
#include "util/raii_win32.h"

class TfrmMain : public TForm {
 public:
  explicit TfrmMain(TComponent* AOwner);

  TScreenSaver* ScreenSaver = nullptr;

  void FormCreate(TComponent* Sender);
  void FormShow(TComponent* Sender);
  void FormDestroy(TComponent* Sender);
  void ScreenSaverTerminate(TComponent* Sender);
  void FlashFSCommand(TShockwaveFlash& ASender, const std::wstring& Command, const std::wstring& Args);

  // Reads the package behind the running executable and applies it: the
  // fields below, the host component, the settings dialog (created here),
  // the GUID mutex and the extracted files.
  void LoadSettings();

 protected:
  void WndProc(TMessage& Message) override;

 private:
  TShockwaveFlashEx& CreateFlashControl();
  void CreateClientFlashControl();
  void PlaceOnMonitor(TShockwaveFlashEx& Control, const TRect& Bounds);
  // Movie (and, full screen, Scale) into every control; a refused put
  // leaves FNeedLoad set for the next show.
  void LoadMovie();
  void TakeKeyboardFocus();
  void CleanupPlayback();
  // The session ends: the system may end the process as soon as this
  // returns, so everything is undone here.
  void EndSession();

  std::string FGUID;
  TExtraction FExtraction;  // TempFolder, SwfPath, ExtractedFiles and the folder locks
  std::vector<std::unique_ptr<TShockwaveFlashEx>> FFlashControls;
  bool FLoop = false;
  std::string FScale;
  bool FMenu = false;
  bool FMenuFull = false;
  int32_t FQuality = 0;
  std::string FFlashVars;
  int32_t FBackColor = 0;
  std::string FRequiredVersion;
  uint8_t FPosition = 0;
  bool FPreviewSleep = false;
  bool FNeedLoad = false;
  // The package's mutex, held while the form lives by every copy of the
  // package.
  TUniqueMutex FMutex;
  // CleanupPlayback has begun: the movie's commands are no longer heard.
  bool FPlaybackEnded = false;
  // How many CleanupPlayback calls are running, nested in each other.
  int FCleanupDepth = 0;
};

extern TfrmMain* frmMain;
