// A program whose main form is governed by TScreenSaver, for the host
// component's tests. Started with the usual switches; it appends what it
// sees, one line per event, to the file named by PL_PROBE_LOG:
//   mode N                       the component's mode, after creation
//   parent HWND                  the preview parent it read, after creation
//   main-form HWND               the main form's window, after creation
//   app-window HWND              the application's hidden window
//   created / shown ...          the main form's OnCreate / OnShow
//   focus-child N                the child took the keyboard focus (1) or not,
//                                after creation
//   move X Y count=N cursor=N    a WM_MOUSEMOVE that reached the form's own
//                                handling, with the component's move count
//                                and the pointer's display counter
//   key MSG VK LPARAM            a WM_KEYDOWN or WM_KEYUP that reached it
//   button MSG                   a button or wheel message that reached it
//   hooked-mouse MSG             WM_APP + 1 reached the form's own handling
//   screensave-leaked            SC_SCREENSAVE reached the form's own handling
//   terminate                    OnTerminate fired
//   dialog-shown ...             the configuration form's OnShow
//   timer N / visible N / pixel RRGGBB   drawing-timer checks ("timers", "bitmap")
//   tick N / poschanging         a drawing-timer tick / WM_WINDOWPOSCHANGING
//                                reached the form ("drawing")
//   saver-running N              SPI_GETSCREENSAVERRUNNING after creation
//   aborted                      creation ended with EScreenSaverAbort
//   saver-running-after N        the same once the forms are freed
//   exit                         the program ends
// PL_PROBE holds comma-separated options:
//   nomousemove, nokeydown       switch the input rules off
//   customize=NAME               CustomizeFormName (default "frmDialog")
//   dialog                       create the configuration form "frmDialog"
//   change-library=X, change-function=X   where the password change is looked up
//   hidecursor                   ShowMouseCursor := False after creation
//   focus-child                  the child takes the keyboard focus once shown
//   timers                       Interval 100 with TimerEnabled false; the
//                                timer hides and shows the form, then stops
//   bitmap                       BitmapNeeded; OnTimer paints, in drawing
//                                coordinates (the virtual desktop), green
//                                with a red square at 400..480, and logs
//                                "pixels RRGGBB RRGGBB": the form at
//                                (220, 110) and (20, 20). The form is
//                                640 x 256, so the drawing shrinks by 2
//                                across and 4 down.
//   drawing                      Interval 200, the ticks and placement changes logged
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/forms_win32.h"
#include "saver/screen_saver_win32.h"
#include "tests/support/probe_log_win32.h"
#include "util/raii_win32.h"

namespace {

void Log(const std::string& Line) { ProbeLog("PL_PROBE_LOG", Line); }

std::string Hex(uintptr_t Value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%llx", static_cast<unsigned long long>(Value));
  return buffer;
}

std::vector<std::string> Options() {
  std::vector<std::string> options;
  std::string all = ProbeEnv("PL_PROBE") + ",";
  size_t start = 0;
  for (size_t comma; (comma = all.find(',', start)) != std::string::npos; start = comma + 1)
    if (comma > start) options.push_back(all.substr(start, comma - start));
  return options;
}

bool HasOption(const std::string& Name) {
  for (const auto& o : Options())
    if (o == Name) return true;
  return false;
}

std::string OptionValue(const std::string& Name, const std::string& Default) {
  for (const auto& o : Options())
    if (o.rfind(Name + "=", 0) == 0) return o.substr(Name.size() + 1);
  return Default;
}

// The pointer's display counter, left as it was.
int CursorCounter() {
  const int shown = ShowCursor(TRUE);
  ShowCursor(FALSE);
  return shown - 1;
}

// What this process last told the system (Wine keeps it per process).
int ScreenSaverRunning() {
  BOOL running = FALSE;
  SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0);
  return running ? 1 : 0;
}

class TProbeForm : public TForm {
 public:
  explicit TProbeForm(TComponent* AOwner) : TForm(AOwner) {
    SetName("frmMain");
    // A framed form with stored bounds: the component takes the frame off.
    if (HasOption("bitmap"))
      SetBounds(0, 0, 640, 256);
    else
      SetBounds(30, 40, 320, 240);
    SetColor(clBlack);
    ScreenSaver = new TScreenSaver(this);
    ScreenSaver->SetName("ScreenSaver");
    ScreenSaver->SetCustomizeFormName(OptionValue("customize", "frmDialog"));
    if (HasOption("nomousemove")) ScreenSaver->SetTerminateOnMouseMove(false);
    if (HasOption("nokeydown")) ScreenSaver->SetTerminateOnKeyDown(false);
    if (HasOption("hidecursor")) ScreenSaver->SetShowMouseCursor(false);
    if (HasOption("timers")) {
      ScreenSaver->SetTimerEnabled(false);
      ScreenSaver->SetInterval(100);
    }
    if (HasOption("bitmap")) {
      ScreenSaver->SetBitmapNeeded(true);
      ScreenSaver->SetInterval(100);
    }
    if (HasOption("drawing")) ScreenSaver->SetInterval(200);
    ScreenSaver->OnTimer = [this](TComponent*) { Timer(); };
    ScreenSaver->OnTerminate = [](TComponent*) { Log("terminate"); };
    // A child over the right half of the screen, as the player control
    // would be: input over it reaches the rules through the hooks.
    Child = new TWinControl(this);
    Child->SetParent(this);
    Child->SetBounds(640, 0, 640, 1024);
    OnCreate = [this](TComponent*) {
      Log("created");
      // In front of the component's handler: drawing for a paint message
      // is told apart from a drawing-timer tick.
      TWndMethod saved = WindowProc;
      WindowProc = [this, saved](TMessage& Message) {
        const bool paint = Message.Msg == WM_PAINT || Message.Msg == WM_ERASEBKGND;
        const bool outer = FPainting;
        if (paint) FPainting = true;
        saved(Message);
        FPainting = outer;
      };
    };
    OnShow = [this](TComponent*) { Shown(); };
  }

  TScreenSaver* ScreenSaver = nullptr;
  TWinControl* Child = nullptr;

 protected:
  void WndProc(TMessage& Message) override {
    switch (Message.Msg) {
      case WM_MOUSEMOVE:
        Log("move " + std::to_string(LOWORD(Message.LParam)) + " " + std::to_string(HIWORD(Message.LParam)) +
            " count=" + std::to_string(ScreenSaver->MouseMoveCount()) + " cursor=" + std::to_string(CursorCounter()));
        break;
      case WM_KEYDOWN:
      case WM_KEYUP:
        Log("key " + Hex(Message.Msg) + " " + Hex(Message.WParam) + " " + Hex(static_cast<uint32_t>(Message.LParam)));
        break;
      case WM_APP + 1:
        Log("hooked-mouse " + Hex(Message.WParam));
        break;
      case WM_LBUTTONDOWN:
      case WM_LBUTTONUP:
      case WM_RBUTTONDOWN:
      case WM_RBUTTONUP:
      case WM_MOUSEWHEEL:
        Log("button " + Hex(Message.Msg));
        break;
      case WM_SYSCOMMAND:
        if ((Message.WParam & 0xFFF0) == SC_SCREENSAVE) Log("screensave-leaked");
        break;
      case WM_WINDOWPOSCHANGING:
        if (HasOption("drawing")) Log("poschanging");
        break;
    }
    TForm::WndProc(Message);
  }

 private:
  void Shown() {
    const HWND wnd = Handle();
    RECT r{};
    GetWindowRect(wnd, &r);
    Log("shown hwnd=" + Hex(reinterpret_cast<uintptr_t>(wnd)) +
        " style=" + Hex(static_cast<uint32_t>(GetWindowLongPtrW(wnd, GWL_STYLE))) +
        " exstyle=" + Hex(static_cast<uint32_t>(GetWindowLongPtrW(wnd, GWL_EXSTYLE))) +
        " rect=" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
        std::to_string(r.bottom) + " cursor=" + std::to_string(CursorCounter()) +
        " showcursor=" + std::to_string(ScreenSaver->ShowMouseCursor() ? 1 : 0));
  }

  void Timer() {
    if (HasOption("drawing") && !FPainting) Log("tick " + std::to_string(++FDrawingTicks));
    if (!HasOption("timers") && !HasOption("bitmap")) return;
    if (FPainting) {
      Log("paint-draw");
      return;
    }
    ++FTicks;
    if (HasOption("bitmap")) {
      if (TBitmap* bitmap = ScreenSaver->Bitmap()) {
        const HDC dc = bitmap->Canvas().Handle();
        const RECT whole{0, 0, bitmap->Width(), bitmap->Height()}, square{400, 400, 480, 480};
        const TUniqueGdiObject green(CreateSolidBrush(RGB(0, 0xFF, 0))), red(CreateSolidBrush(RGB(0xFF, 0, 0)));
        FillRect(dc, &whole, static_cast<HBRUSH>(green.Get()));
        FillRect(dc, &square, static_cast<HBRUSH>(red.Get()));
      }
      // What the previous tick copied onto the form.
      if (FTicks == 3) Log("pixels " + PixelAt(220, 110) + " " + PixelAt(20, 20));
      return;
    }
    Log("timer " + std::to_string(FTicks));
    if (FTicks == 2) {
      ScreenSaver->SetVisible(false);
      Log("visible " + std::to_string(IsWindowVisible(Handle()) ? 1 : 0));
      ScreenSaver->SetVisible(true);
      Log("visible " + std::to_string(IsWindowVisible(Handle()) ? 1 : 0));
    }
    if (FTicks == 3) {
      ScreenSaver->SetTimerEnabled(false);
      Log("timer-disabled");
    }
  }

  std::string PixelAt(int X, int Y) {
    const COLORREF c = GetPixel(TWindowDC(Handle()).Get(), X, Y);
    char text[16];
    std::snprintf(text, sizeof text, "%02x%02x%02x", GetRValue(c), GetGValue(c), GetBValue(c));
    return text;
  }

  int FTicks = 0;
  int FDrawingTicks = 0;
  bool FPainting = false;
};

class TProbeDialog : public TForm {
 public:
  explicit TProbeDialog(TComponent* AOwner) : TForm(AOwner) {
    SetName("frmDialog");
    SetBorderStyle(bsNone);
    SetBounds(0, 0, 300, 200);
    OnShow = [this](TComponent*) {
      RECT r{};
      GetWindowRect(Handle(), &r);
      Log("dialog-shown modal=" + std::to_string(Modal() ? 1 : 0) +
          " hwnd=" + Hex(reinterpret_cast<uintptr_t>(Handle())) + " rect=" + std::to_string(r.left) + "," +
          std::to_string(r.top) + "," + std::to_string(r.right) + "," + std::to_string(r.bottom));
    };
  }
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  TPasswordServices& services = PasswordServices();
  services.ChangeLibrary = OptionValue("change-library", services.ChangeLibrary);
  services.ChangeFunction = OptionValue("change-function", services.ChangeFunction);

  {
    TApplication app;
    app.Initialize();
    try {
      auto* form = app.CreateForm<TProbeForm>();
      Log("mode " + std::to_string(form->ScreenSaver->Mode()));
      Log("parent " + Hex(reinterpret_cast<uintptr_t>(form->ScreenSaver->ParentWnd())));
      Log("main-form " + Hex(reinterpret_cast<uintptr_t>(form->Handle())));
      Log("app-window " + Hex(reinterpret_cast<uintptr_t>(app.Handle())));
      Log("saver-running " + std::to_string(ScreenSaverRunning()));
      // Keys then go to the child: only the keyboard hook brings them to the form.
      if (HasOption("focus-child")) {
        SetFocus(form->Child->Handle());
        Log("focus-child " + std::to_string(GetFocus() == form->Child->Handle() ? 1 : 0));
      }
    } catch (const EScreenSaverAbort&) {
      Log("aborted");
    }
    if (HasOption("dialog")) app.CreateForm<TProbeDialog>();
    app.Run();
  }
  // The forms, and with them the component, are gone.
  Log("saver-running-after " + std::to_string(ScreenSaverRunning()));
  Log("exit");
  return 0;
}
