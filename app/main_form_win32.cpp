#include "app/main_form_win32.h"

#include <exception>

#include "app/main_form.h"
#include "app/settings.h"
#include "dialog/dialog_win32.h"
#include "dialog/stdctrls_win32.h"
#include "flash/browser_player_win32.h"
#include "flash/flash_utils_win32.h"
#include "framework/form_utils_win32.h"
#include "package/exe_adder.h"
#include "package/raii_items.h"
#include "saver/duplicate_win32.h"
#include "util/file_operation_win32.h"
#include "util/text_win32.h"
#include "util/texts.h"
#include "util/utils.h"
#include "util/utils_win32.h"

TfrmMain* frmMain = nullptr;

namespace {

// Runs Step and discards whatever it raises: one refused put or failed call
// on a control must not stop the next one.
template <typename F>
void Guarded(F&& Step) {
  try {
    Step();
  } catch (...) {
  }
}

// Every monitor's rectangle in the system's enumeration order.
std::vector<TRect> MonitorBounds() {
  std::vector<TRect> list;
  for (const TMonitor& monitor : Monitors()) list.push_back(monitor.Bounds);
  return list;
}

}  // namespace

TfrmMain::TfrmMain(TComponent* AOwner) : TForm(AOwner) {
  frmMain = this;
  SetName("frmMain");
  SetCaption(WideText(FormTexts::kCaption));
  SetColor(clBlack);  // wherever no control covers the form
  SetBorderIcons(0);
  // The resource's bounds. The host component places the form over the
  // desktop (full screen) or over the parent (preview); a run without a
  // known switch keeps these and shows the form here, at this size.
  SetBounds(1, 108, 180, 180);
  Font().SetCharset(SHIFTJIS_CHARSET);
  Font().SetColor(clWindowText);
  Font().SetHeight(-12);
  Font().SetName(WideText(FormTexts::kFontName));

  ScreenSaver = new TScreenSaver(this);
  ScreenSaver->SetName("ScreenSaver");
  ScreenSaver->SetCustomizeFormName("frmDialog");
  ScreenSaver->SetInterval(1000);
  ScreenSaver->OnTerminate = [this](TComponent* Sender) { ScreenSaverTerminate(Sender); };

  OnCreate = [this](TComponent* Sender) { FormCreate(Sender); };
  OnShow = [this](TComponent* Sender) { FormShow(Sender); };
  OnDestroy = [this](TComponent* Sender) { FormDestroy(Sender); };
  // In every mode: a preview's form is a child window, which the system
  // never tells, but the application's window hears it.
  Application->OnEndSession = [this](TComponent*) { EndSession(); };
}

void TfrmMain::FormCreate(TComponent*) {
  FNeedLoad = true;
  // No error ever reaches the user during playback.
  Application->OnException = [](TComponent*, std::exception_ptr) {};
  FFlashControls.clear();
  if (!CanCreateFlash()) return;

  LoadSettings();

  std::string modeWord;
  switch (ScreenSaver->Mode()) {
    case ssmPreview:
      modeWord = "preview";
      CreateClientFlashControl();
      break;
    case ssmSaver: {
      modeWord = "normal";
      for (const TFlashPlacement& p : FlashPlacements(FPosition, MonitorBounds(), VirtualDesktop())) {
        if (p.FillClient) {
          CreateClientFlashControl();
        } else {
          TShockwaveFlashEx& control = CreateFlashControl();
          PlaceOnMonitor(control, p.Bounds);
        }
      }
      break;
    }
    default:
      break;
  }

  const std::wstring flashVars = AnsiToWide(ComposeFlashVars(FFlashVars, modeWord));
  for (const auto& control : FFlashControls) {
    TShockwaveFlashEx& c = *control;
    Guarded([&] { c.SetLoop(FLoop); });
    Guarded([&] { c.SetMenu(FMenuFull); });
    Guarded([&] { c.SetQuality(FQuality); });
    Guarded([&] { c.SetFlashVars(flashVars); });
    Guarded([&] { c.SetBackgroundColor(FBackColor); });
  }

  if (ScreenSaver->Mode() == ssmPreview || ScreenSaver->Mode() == ssmSaver)
    ShowWindow(Handle(), SW_SHOWNOACTIVATE);

  Application->SetTitle(FileTitle(GetLongFileName(ExecutablePath()), SystemLeadByteTest()));
}

void TfrmMain::LoadSettings() {
  FExtraction = {};
  frmDialog = CreateForm<TfrmDialog>(nullptr);  // lives until the application ends

  TOwnedItems items;
  // A package that cannot be read (a corrupt stream) ends the loading
  // before any item is applied; the caller's handler discards the error.
  ReadExeItems(ExecutablePath(), items);
  const TPlayerSettings s = DecodeSettings(items);

  FGUID = s.GUID;
  // Every copy keeps the package's name alive while it runs. Whose files
  // lie in the temporary directory is told by the lock of the folder name,
  // which the extraction joins.
  if (!FGUID.empty() && !FMutex) JoinInstanceMutex(FMutex, FGUID);
  FLoop = s.Loop;
  FMenu = s.Menu;
  FMenuFull = s.MenuFull;
  FQuality = s.Quality;
  FFlashVars = s.FlashVars;
  FBackColor = s.BackColor;
  FPreviewSleep = s.PreviewSleep;
  FPosition = s.Position;

  if (ScreenSaver) {
    if (s.StopByMouse) ScreenSaver->SetTerminateOnMouseMove(*s.StopByMouse);
    if (s.StopByKey) ScreenSaver->SetTerminateOnKeyDown(*s.StopByKey);
    if (s.ShowMouseCursor) ScreenSaver->SetShowMouseCursor(*s.ShowMouseCursor);
  }

  if (s.DialogTitle) frmDialog->SetCaption(*s.DialogTitle);
  if (s.DialogCopyright) frmDialog->lblCopyright->SetCaption(*s.DialogCopyright);
  frmDialog->lblCopyright->SetURL(s.DialogURL);
  if (s.DialogCloseBtn) frmDialog->btnClose->SetVisible(*s.DialogCloseBtn);
  if (s.DialogImage && s.DialogImage->Data) {
    try {
      frmDialog->imgImage->LoadFromBytes(s.DialogImage->Data, static_cast<size_t>(s.DialogImage->Size));
    } catch (...) {
      // Bytes that are no bitmap leave the dialog without a picture; the
      // rest of the package still applies.
    }
  }

  FExtraction = ExtractPackageFiles(s, GetTempFilePath(""));
  // A browser player keeps its browser's profile in the run's own folder,
  // so the cleanup (or the next first copy, after a kill) removes it too.
  SetBrowserPlayerFolder(FExtraction.TempFolder);
  // The end of the session may have come while the extraction waited for
  // another copy (sent messages are served there): nobody cleans up later.
  if (FPlaybackEnded) EndExtraction(FExtraction);
  FScale = s.Scale;
  FRequiredVersion = s.RequiredVersion;
}

TShockwaveFlashEx& TfrmMain::CreateFlashControl() {
  auto control = std::make_unique<TShockwaveFlashEx>(Handle(), ScreenSaver->Mode() == ssmPreview, FPreviewSleep);
  TShockwaveFlashEx& c = *control;
  FFlashControls.push_back(std::move(control));
  Guarded([&] {
    c.OnFSCommand = [this](TShockwaveFlash& Sender, const std::wstring& Command, const std::wstring& Args) {
      FlashFSCommand(Sender, Command, Args);
    };
  });
  Guarded([&] {
    if (CheckFlashVersion("8.0")) c.DisableLocalSecurity();
  });
  // Without the author's menu the right-button press never reaches the
  // control, so it opens no context menu; the release still does.
  if (!FMenu) c.BlockMessage(WM_RBUTTONDOWN);
  if (ScreenSaver->Mode() != ssmSaver) {
    // Anywhere but full screen the movie gets no input at all.
    c.BlockMessages(WM_MOUSEMOVE, WM_MOUSEWHEEL);
    // 0x0108 is the last key message as WM_KEYLAST ended the range before
    // WM_UNICHAR (0x0109) joined it: WM_UNICHAR still reaches the movie.
    c.BlockMessages(WM_KEYDOWN, 0x0108);
    c.BlockMessages(0x02C0, 0x02DF);  // tablet messages
    c.BlockMessages(0x0380, 0x038F);  // pen messages
  }
  c.SetParentWindow(Handle());
  return c;
}

void TfrmMain::CreateClientFlashControl() {
  TShockwaveFlashEx& c = CreateFlashControl();
  Guarded([&] { c.AlignToParentClient(); });
}

void TfrmMain::PlaceOnMonitor(TShockwaveFlashEx& Control, const TRect& Bounds) {
  Guarded([&] { Control.SetBounds(Bounds.Left, Bounds.Top, Bounds.Width(), Bounds.Height()); });
}

void TfrmMain::FormShow(TComponent*) {
  if (FNeedLoad && CheckFlashVersion(FRequiredVersion)) LoadMovie();
  // Also when no movie loads (a control older than the package asks for):
  // the form, shown without activation, would otherwise get no keys, and a
  // key could not end the saver.
  if (ScreenSaver->Mode() == ssmSaver) TakeKeyboardFocus();
}

void TfrmMain::LoadMovie() {
  FNeedLoad = false;
  const bool saver = ScreenSaver->Mode() == ssmSaver;
  const std::wstring movie = AnsiToWide(FExtraction.SwfPath);
  const std::wstring scale = AnsiToWide(FScale);
  for (const auto& control : FFlashControls) {
    TShockwaveFlashEx& c = *control;
    try {
      c.SetMovie(movie);
    } catch (...) {
      FNeedLoad = true;
    }
    if (saver && !FScale.empty()) {
      try {
        c.SetScale(scale);
      } catch (...) {
        FNeedLoad = true;
      }
    }
  }
}

void TfrmMain::TakeKeyboardFocus() {
  // The keyboard focus belongs to the foreground window's thread; join its
  // input state for the moment it takes to move the focus here.
  const DWORD foreground = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  const DWORD own = GetWindowThreadProcessId(Handle(), nullptr);
  AttachThreadInput(own, foreground, TRUE);
  SetFocus(Handle());
  AttachThreadInput(own, foreground, FALSE);
}

void TfrmMain::WndProc(TMessage& Message) {
  TForm::WndProc(Message);
  const UINT m = Message.Msg;
  // Keys and mouse buttons reach the movie too; moves do not. Posted, so
  // the form never waits for a control.
  if (m == WM_KEYDOWN || m == WM_KEYUP || (m >= WM_LBUTTONDOWN && m <= WM_MOUSEWHEEL)) {
    for (const auto& control : FFlashControls)
      if (control->Handle()) PostMessageW(control->Handle(), m, Message.WParam, Message.LParam);
  }
}

void TfrmMain::FlashFSCommand(TShockwaveFlash&, const std::wstring& Command, const std::wstring&) {
  // A command sent while a control's teardown runs messages finds the run
  // ending already.
  if (FPlaybackEnded) return;
  if (IsQuitCommand(WideToAnsi(Command)) && ScreenSaver->Mode() == ssmSaver) Close();
}

void TfrmMain::ScreenSaverTerminate(TComponent*) { CleanupPlayback(); }

void TfrmMain::CleanupPlayback() {
  FPlaybackEnded = true;
  ++FCleanupDepth;
  struct TLeave {
    int& Depth;
    ~TLeave() { --Depth; }
  } leave{FCleanupDepth};
  for (const auto& control : FFlashControls) control->SetStopping();
  // A control whose teardown runs messages may bring input that is
  // forwarded to the controls, or a new end of the run that cleans up
  // again: each control leaves the list before its teardown, so every walk
  // over the list meets only live controls, and a cleanup that runs inside
  // another one goes on with the controls that are left.
  while (!FFlashControls.empty()) {
    std::unique_ptr<TShockwaveFlashEx> control = std::move(FFlashControls.front());
    FFlashControls.erase(FFlashControls.begin());
    Guarded([&] { control->Stop(); });
    Guarded([&] { control->StopPlay(); });
    Guarded([&] { control->Hide(); });
    Guarded([&] { control.reset(); });
  }
  // Only the outermost cleanup deletes: a nested one runs while an outer
  // one is tearing down a control that may still hold the movie open. What
  // cannot be deleted yet stays listed for FormDestroy's second try.
  if (FCleanupDepth == 1) RemoveExtractedFiles(FExtraction);
}

void TfrmMain::EndSession() {
  CleanupPlayback();
  EndExtraction(FExtraction);
  FMutex.Reset();
}

void TfrmMain::FormDestroy(TComponent*) {
  EndSession();
  Application->OnEndSession = nullptr;
  if (frmMain == this) frmMain = nullptr;
}
