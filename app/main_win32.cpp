// Program entry of saver.scr.
#include <windows.h>

#include "app/main_form_win32.h"
#include "framework/forms_win32.h"
#include "saver/run_saver_win32.h"
#include "saver/screen_saver_win32.h"
#include "saver/thread_timer.h"
#include "util/file_operation_win32.h"
#include "util/raii_com_win32.h"

namespace {

HWND DeletionOwner() { return Application ? Application->ActiveFormHandle() : nullptr; }

int RunApplication() {
  TApplication application;
  Application->Initialize();
  // The host component shows the main form when the mode needs it.
  Application->SetShowMainForm(false);
  // No task-bar button for the saver.
  const HWND appWnd = Application->Handle();
  SetWindowLongW(appWnd, GWL_EXSTYLE, GetWindowLongW(appWnd, GWL_EXSTYLE) | WS_EX_TOOLWINDOW);
  SetDeleteFolderOwnerProvider(DeletionOwner);
  try {
    Application->CreateForm<TfrmMain>();
  } catch (const EScreenSaverAbort&) {
    // Password mode: the change has run inside the form's creation.
  } catch (...) {
    // A form that could not be built leaves nothing to run.
  }
  Application->Run();
  SetTimersApplicationTerminating(true);
  SetDeleteFolderOwnerProvider(nullptr);
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // "/S": run the saver as a second copy with "/E", wait for it, end here.
  RunStartupCheck();
  TComApartment com;
  try {
    return RunApplication();
  } catch (...) {
    // Nothing may reach the user; the process just ends.
    return 0;
  }
}
