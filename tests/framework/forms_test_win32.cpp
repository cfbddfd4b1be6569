// The application object and forms, with real windows under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "framework/forms_win32.h"
#include "framework/timer_win32.h"
#include "tests/framework/support_win32.h"

namespace {

std::string UserTag(const char* Who, const TMessage& M) { return std::string(Who) + " " + std::to_string(M.Msg - WM_USER); }

// Takes over its form's message handling the way the screen-saver host
// does: in its constructor, before the form's OnCreate, creating the
// window and asking for the form to be shown.
class TTakeOver : public TComponent {
 public:
  TTakeOver(TForm* Form, std::vector<std::string>& Log) : TComponent(Form), FForm(Form), FLog(Log) {
    FOld = Form->WindowProc;
    Form->WindowProc = [this](TMessage& M) {
      ++MessagesSeen;
      if (M.Msg >= WM_USER && M.Msg < 0x7FFF) {
        FLog.push_back(UserTag("takeover", M));
        if (M.Msg == WM_USER + 9) throw std::runtime_error("in handler");
        if (Swallow) {
          M.Result = 42;
          return;
        }
      }
      FOld(M);
    };
    Form->HandleNeeded();
    Form->Show();
  }
  void Loaded() override {
    FLog.push_back("loaded after " + std::string(MessagesSeen > 0 ? "window messages" : "nothing"));
    TComponent::Loaded();
  }
  void BeforeDestruction() override {
    FLog.push_back(std::string("component end, window ") + (IsWindow(FForm->Handle()) ? "alive" : "gone"));
    Restore();
    TComponent::BeforeDestruction();
  }
  void Restore() { FForm->WindowProc = FOld; }

  bool Swallow = false;
  int MessagesSeen = 0;

 private:
  TForm* FForm;
  std::vector<std::string>& FLog;
  TWndMethod FOld;
};

class THostedForm : public TTestForm {
 public:
  THostedForm(TComponent* AOwner, std::vector<std::string>& Log) : TTestForm(AOwner, "frmHosted") {
    Host = new TTakeOver(this, Log);
    OnCreate = [this, &Log](TComponent*) {
      Log.push_back(std::string("create, host ") + (Host->Loading() ? "loading" : "loaded") + ", window " +
                    (IsWindowVisible(Handle()) ? "visible" : "hidden"));
    };
    OnShow = [&Log](TComponent*) { Log.push_back("show"); };
    OnDestroy = [&Log](TComponent*) { Log.push_back("destroy"); };
    OnUserMessage = [&Log](TMessage& M) { Log.push_back(UserTag("form", M)); };
  }
  TTakeOver* Host;
};

class TFailingComponent : public TComponent {
 public:
  using TComponent::TComponent;
  void Loaded() override { throw std::runtime_error("bad resource"); }
};

class TFailingForm : public TForm {
 public:
  explicit TFailingForm(TComponent* AOwner) : TForm(AOwner) { new TFailingComponent(this); }
};

}  // namespace

TEST_F(FrameworkTest, ApplicationWindowIsAHiddenTopLevelOwnerOfTheForms) {
  EXPECT_EQ(App->Title(), "framework_test");  // the executable's name, without folder and extension
  App->SetTitle("Saver title");
  const HWND app = App->Handle();
  ASSERT_TRUE(IsWindow(app));
  EXPECT_FALSE(IsWindowVisible(app));
  EXPECT_EQ(GetAncestor(app, GA_PARENT), GetDesktopWindow());
  wchar_t title[64] = {};
  GetWindowTextW(app, title, 64);
  EXPECT_STREQ(title, L"Saver title");

  auto* form = App->CreateForm<TTestForm>("frmA");
  EXPECT_EQ(GetWindow(form->Handle(), GW_OWNER), app);
  form->SetCaption(std::string("plu:mex ScreenSaver"));
  GetWindowTextW(form->Handle(), title, 64);
  EXPECT_STREQ(title, L"plu:mex ScreenSaver");
  form->SetCaption(std::wstring(L"閉じる(&C)"));
  GetWindowTextW(form->Handle(), title, 64);
  EXPECT_STREQ(title, L"閉じる(&C)");
  EXPECT_EQ(App->ActiveFormHandle(), app);  // nothing of ours is active
  EXPECT_THROW(TApplication second, EInvalidOperation);
}

TEST_F(FrameworkTest, ConstructionLoadsComponentsThenCreatesThenShows) {
  std::vector<std::string> log;
  auto* form = App->CreateForm<THostedForm>(log);
  EXPECT_EQ(log, (std::vector<std::string>{"loaded after window messages", "create, host loaded, window hidden",
                                           "show"}));
  EXPECT_TRUE(IsWindowVisible(form->Handle()));
  EXPECT_TRUE(form->Visible());
  EXPECT_FALSE(form->Creating());
  EXPECT_EQ(App->MainForm(), form);

  // Sent and posted messages reach the replacement first, then the form.
  log.clear();
  SendMessageW(form->Handle(), WM_USER + 1, 0, 0);
  PostMessageW(form->Handle(), WM_USER + 2, 0, 0);
  App->ProcessMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"takeover 1", "form 1", "takeover 2", "form 2"}));
  // A replacement that does not pass a message on answers it alone.
  log.clear();
  form->Host->Swallow = true;
  EXPECT_EQ(SendMessageW(form->Handle(), WM_USER + 3, 0, 0), 42);
  EXPECT_EQ(log, (std::vector<std::string>{"takeover 3"}));
  // Restored, the replacement sees nothing more.
  log.clear();
  form->Host->Restore();
  SendMessageW(form->Handle(), WM_USER + 4, 0, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"form 4"}));

  // The end: OnDestroy, then the components while the window still exists.
  log.clear();
  const HWND wnd = form->Handle();
  form->Free();
  EXPECT_EQ(log, (std::vector<std::string>{"destroy", "component end, window alive"}));
  EXPECT_FALSE(IsWindow(wnd));
  EXPECT_TRUE(App->Forms().empty());
  EXPECT_EQ(App->MainForm(), nullptr);
}

TEST_F(FrameworkTest, FailingResourceEndsCreationAndFreesTheForm) {
  EXPECT_THROW(App->CreateForm<TFailingForm>(), std::runtime_error);
  EXPECT_TRUE(App->Forms().empty());
  EXPECT_EQ(App->MainForm(), nullptr);
}

TEST_F(FrameworkTest, OpenFormsListedByNameInCreationOrder) {
  auto* main = App->CreateForm<TTestForm>("frmMain");
  auto* dialog = CreateForm<TTestForm>(nullptr, "frmDialog");  // nobody owns it
  auto* other = App->CreateForm<TTestForm>("frmOther");
  auto names = [&] {
    std::vector<std::string> n;
    for (TForm* f : App->Forms()) n.push_back(f->Name());
    return n;
  };
  EXPECT_EQ(names(), (std::vector<std::string>{"frmMain", "frmDialog", "frmOther"}));
  EXPECT_EQ(App->MainForm(), main);
  other->Free();
  EXPECT_EQ(names(), (std::vector<std::string>{"frmMain", "frmDialog"}));
  // The application frees the forms still open, owned or not, when it ends.
  bool dialogDestroyed = false;
  dialog->OnDestroy = [&](TComponent*) { dialogDestroyed = true; };
  App.reset();
  EXPECT_TRUE(dialogDestroyed);
}

TEST_F(FrameworkTest, ShowModalReturnsTheModalResult) {
  auto* main = App->CreateForm<TTestForm>("frmMain");
  main->SetBounds(50, 50, 200, 150);
  main->Show();
  auto* dialog = CreateForm<TTestForm>(nullptr, "frmDialog");
  dialog->SetBounds(300, 50, 200, 150);

  bool mainEnabledDuring = true;
  dialog->OnUserMessage = [&](TMessage& M) {
    mainEnabledDuring = IsWindowEnabled(main->Handle()) != FALSE;
    dialog->SetModalResult(static_cast<TModalResult>(M.WParam));
  };
  PostMessageW(dialog->Handle(), WM_USER, 7, 0);
  EXPECT_EQ(dialog->ShowModal(), 7);
  EXPECT_FALSE(mainEnabledDuring);
  EXPECT_TRUE(IsWindowEnabled(main->Handle()));
  EXPECT_FALSE(dialog->Visible());
  EXPECT_FALSE(IsWindowVisible(dialog->Handle()));

  // Closing a modal form cancels it; the application does not end.
  PostMessageW(dialog->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(dialog->ShowModal(), mrCancel);
  EXPECT_FALSE(App->Terminated());
  // A quit request ends the modal loop too.
  App->Terminate();
  EXPECT_EQ(dialog->ShowModal(), mrCancel);
  EXPECT_TRUE(App->Terminated());

  EXPECT_THROW(main->ShowModal(), EInvalidOperation);  // visible already
}

namespace {
int gRetrieved = 0;
LRESULT CALLBACK CountRetrieved(int Code, WPARAM WParam, LPARAM LParam) noexcept {
  if (Code >= 0 && WParam == PM_REMOVE) ++gRetrieved;
  return CallNextHookEx(nullptr, Code, WParam, LParam);
}
}  // namespace

TEST_F(FrameworkTest, IdleRunsAgainAtOnceWhenNotDoneAndWaitsWhenDone) {
  App->SetShowMainForm(false);
  App->CreateForm<TTestForm>("frmMain");
  // A guard against a loop that waits when it should not.
  bool timedOut = false;
  auto* guard = new TMessageTimer(App.get());
  guard->SetInterval(5000);
  guard->SetOnTimer([&](TComponent*) {
    timedOut = true;
    App->Terminate();
  });

  // Not done: the idle step repeats with no message in between.
  int idles = 0;
  App->OnIdle = [&](TComponent*, bool& Done) {
    Done = ++idles >= 50;
    if (idles == 50) App->Terminate();
  };
  App->Run();
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(idles, 50);

  // Done (the default): between two idle steps the loop waits for a
  // message, so there are never more idle steps than messages taken.
  Restart();
  App->SetShowMainForm(false);
  App->CreateForm<TTestForm>("frmMain");
  int ticks = 0;
  auto* timer = new TMessageTimer(App.get());
  timer->SetInterval(20);
  timer->SetOnTimer([&](TComponent*) {
    if (++ticks == 10) App->Terminate();
  });
  idles = 0;
  App->OnIdle = [&](TComponent*, bool&) { ++idles; };
  gRetrieved = 0;
  TUniqueHook hook(SetWindowsHookExW(WH_GETMESSAGE, CountRetrieved, nullptr, GetCurrentThreadId()));
  App->Run();
  hook.Reset();
  EXPECT_EQ(ticks, 10);
  EXPECT_GE(idles, 10);
  EXPECT_LE(idles, gRetrieved + 1);
}

TEST_F(FrameworkTest, ProcessMessagesDispatchesWhatWaitsAndTakesTheQuitRequest) {
  auto* form = App->CreateForm<TTestForm>("frmMain");
  for (int i = 0; i < 3; ++i) PostMessageW(form->Handle(), WM_USER + i, 0, 0);
  App->ProcessMessages();
  EXPECT_EQ(form->Seen, (std::vector<UINT>{WM_USER, WM_USER + 1, WM_USER + 2}));
  EXPECT_FALSE(App->Terminated());
  App->Terminate();
  EXPECT_FALSE(App->Terminated());  // until the loop takes the request
  App->ProcessMessages();
  EXPECT_TRUE(App->Terminated());
}

TEST_F(FrameworkTest, TheEndOfTheSessionIsNeverRefusedAndHandledOnceByWhicheverWindowHearsIt) {
  auto* form = App->CreateForm<TTestForm>("frmMain");
  int ends = 0;
  App->OnEndSession = [&](TComponent*) { ++ends; };
  // Every top-level window of the process is asked, the hidden one too.
  EXPECT_EQ(SendMessageW(form->Handle(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
  EXPECT_EQ(SendMessageW(App->Handle(), WM_QUERYENDSESSION, 0, 0), TRUE);
  // The session goes on after all: nothing to do.
  SendMessageW(App->Handle(), WM_ENDSESSION, FALSE, 0);
  EXPECT_EQ(ends, 0);
  SendMessageW(App->Handle(), WM_ENDSESSION, TRUE, 0);
  SendMessageW(form->Handle(), WM_ENDSESSION, TRUE, 0);
  EXPECT_EQ(ends, 1);
  EXPECT_TRUE(App->SessionEnding());
  App->ProcessMessages();
  EXPECT_TRUE(App->Terminated()) << "the message loop is asked to end";
}

TEST_F(FrameworkTest, RunShowsTheMainFormOnlyWhenAskedAndEndsWithIt) {
  App->Run();  // no main form: returns at once
  EXPECT_FALSE(App->Terminated());

  // Not shown by Run; closing the main form ends the application.
  auto* main = App->CreateForm<TTestForm>("frmMain");
  App->SetShowMainForm(false);
  int step = 0;
  bool shownDuringRun = true;
  App->OnIdle = [&](TComponent*, bool&) {
    if (step++ == 0) {
      shownDuringRun = IsWindowVisible(main->Handle()) != FALSE;
      PostMessageW(main->Handle(), WM_CLOSE, 0, 0);
    }
  };
  App->Run();
  EXPECT_FALSE(shownDuringRun);
  EXPECT_TRUE(App->Terminated());

  // Shown by Run; closing another form hides it and goes on.
  Restart();
  main = App->CreateForm<TTestForm>("frmMain");
  auto* hidden = App->CreateForm<TTestForm>("frmHidden");
  hidden->Show();
  step = 0;
  std::vector<std::string> remaining;
  App->OnIdle = [&](TComponent*, bool&) {
    switch (step++) {
      case 0:
        shownDuringRun = IsWindowVisible(main->Handle()) != FALSE;
        PostMessageW(hidden->Handle(), WM_CLOSE, 0, 0);
        break;
      default:
        if (!hidden->Visible()) {
          for (TForm* f : App->Forms()) remaining.push_back(f->Name());
          App->Terminate();
        }
    }
  };
  App->Run();
  EXPECT_TRUE(shownDuringRun);
  EXPECT_FALSE(IsWindowVisible(hidden->Handle()));
  EXPECT_EQ(remaining, (std::vector<std::string>{"frmMain", "frmHidden"}));
}

TEST_F(FrameworkTest, BorderStyleSetsTheFrameAndChangesInPlace) {
  auto* form = App->CreateForm<TTestForm>("frmMain");
  form->SetBorderStyle(bsDialog);
  form->SetBorderIcons(0);
  form->SetBounds(20, 30, 240, 180);
  const HWND wnd = form->Handle();
  auto style = [&] { return static_cast<DWORD>(GetWindowLongPtrW(wnd, GWL_STYLE)); };
  auto exStyle = [&] { return static_cast<DWORD>(GetWindowLongPtrW(wnd, GWL_EXSTYLE)); };
  EXPECT_EQ(style() & (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME), WS_POPUP | WS_CAPTION);
  EXPECT_TRUE(exStyle() & WS_EX_DLGMODALFRAME);
  EXPECT_LT(form->ClientWidth(), 240);
  EXPECT_LT(form->ClientHeight(), 180);

  form->SetBorderIcons(biSystemMenu);
  EXPECT_TRUE(style() & WS_SYSMENU);
  form->SetBorderStyle(bsSizeable);
  EXPECT_EQ(style() & (WS_CAPTION | WS_THICKFRAME | WS_POPUP), WS_CAPTION | WS_THICKFRAME);
  form->SetBorderStyle(bsNone);
  EXPECT_EQ(form->Handle(), wnd);  // the same window, restyled
  EXPECT_EQ(style() & (WS_POPUP | WS_CAPTION | WS_THICKFRAME | WS_SYSMENU), static_cast<DWORD>(WS_POPUP));
  EXPECT_FALSE(exStyle() & WS_EX_DLGMODALFRAME);
  EXPECT_EQ(form->Width(), 240);
  EXPECT_EQ(form->ClientWidth(), 240);
  EXPECT_EQ(form->ClientHeight(), 180);

  // Bits set by someone else stay: a preview form's exact child style.
  form->SetBorderStyle(bsDialog);
  const TUniqueWindow host(
      CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr, nullptr, nullptr));
  form->SetParentWindow(host.Get());
  SetWindowLongPtrW(wnd, GWL_STYLE, WS_CHILD | WS_DISABLED);
  form->SetBorderStyle(bsNone);
  EXPECT_EQ(style(), static_cast<DWORD>(WS_CHILD | WS_DISABLED));
  form->SetParentWindow(nullptr);
}

TEST_F(FrameworkTest, BoundsAndClientSizeRoundTrip) {
  auto* form = App->CreateForm<TTestForm>("frmMain");
  form->SetBorderStyle(bsDialog);
  form->SetBounds(10, 20, 300, 200);
  EXPECT_FALSE(form->HandleAllocated());
  EXPECT_EQ(form->BoundsRect(), (TRect{10, 20, 310, 220}));
  RECT r{};
  GetWindowRect(form->Handle(), &r);  // created with those bounds
  EXPECT_EQ((TRect{r.left, r.top, r.right, r.bottom}), (TRect{10, 20, 310, 220}));

  form->SetClientWidth(211);
  form->SetClientHeight(97);
  RECT client{};
  GetClientRect(form->Handle(), &client);
  EXPECT_EQ(client.right, 211);
  EXPECT_EQ(client.bottom, 97);
  EXPECT_EQ(form->ClientWidth(), 211);
  EXPECT_GT(form->Width(), 211);

  // Moved by someone else: the bounds follow the window.
  MoveWindow(form->Handle(), 40, 50, 260, 170, FALSE);
  EXPECT_EQ(form->BoundsRect(), (TRect{40, 50, 300, 220}));
}

TEST_F(FrameworkTest, ExceptionsInHandlersReachTheSinkAndNeverTheCaller) {
  std::vector<std::string> log;
  auto* form = App->CreateForm<THostedForm>(log);
  EXPECT_EQ(SendMessageW(form->Handle(), WM_USER + 9, 0, 0), 0);
  EXPECT_EQ(Errors, (std::vector<std::string>{"in handler"}));

  auto* created = App->CreateForm<TTestForm>("frmCreate");
  created->OnShow = [](TComponent*) { throw std::runtime_error("in OnShow"); };
  created->Show();
  EXPECT_TRUE(created->Visible());

  int idles = 0;
  App->OnIdle = [&](TComponent*, bool& Done) {
    Done = false;
    if (++idles == 1) throw std::runtime_error("in OnIdle");
    App->Terminate();
    Done = true;
  };
  App->Run();
  EXPECT_EQ(Errors, (std::vector<std::string>{"in handler", "in OnShow", "in OnIdle"}));

  // A failing sink, and no sink at all: the exception is dropped.
  App->OnException = [](TComponent*, std::exception_ptr) { throw std::logic_error("sink"); };
  EXPECT_EQ(SendMessageW(form->Handle(), WM_USER + 9, 0, 0), 0);
  App->OnException = nullptr;
  EXPECT_EQ(SendMessageW(form->Handle(), WM_USER + 9, 0, 0), 0);
  // Its handlers write to this test's log: it must not outlive it.
  form->Free();
}

namespace {
class TCreateFails : public TTestForm {
 public:
  explicit TCreateFails(TComponent* AOwner) : TTestForm(AOwner, "frmCreateFails") {
    OnCreate = [](TComponent*) { throw std::runtime_error("in OnCreate"); };
    Show();
  }
};
}  // namespace

TEST_F(FrameworkTest, FailingOnCreateStillGivesAShownForm) {
  auto* form = App->CreateForm<TCreateFails>();
  EXPECT_EQ(Errors, (std::vector<std::string>{"in OnCreate"}));
  EXPECT_TRUE(IsWindowVisible(form->Handle()));
}

TEST_F(FrameworkTest, ParentWindowPutsTheFormInsideAForeignWindow) {
  const HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_POPUP | WS_VISIBLE, 100, 100, 400, 300, nullptr,
                                    nullptr, nullptr, nullptr);
  ASSERT_TRUE(host);
  auto* form = App->CreateForm<TTestForm>("frmPreview");
  form->SetBorderStyle(bsNone);
  form->SetParentWindow(host);
  form->SetBounds(0, 0, 200, 150);
  form->Show();
  const HWND wnd = form->Handle();
  EXPECT_EQ(GetParent(wnd), host);
  EXPECT_TRUE(GetWindowLongPtrW(wnd, GWL_STYLE) & WS_CHILD);
  RECT r{};
  GetWindowRect(wnd, &r);
  EXPECT_EQ(r.left, 100);
  EXPECT_EQ(r.top, 100);
  EXPECT_EQ(form->BoundsRect(), (TRect{0, 0, 200, 150}));
  EXPECT_EQ(ChildWindowFromPoint(host, POINT{10, 10}), wnd);

  // Detached: a top-level window owned by the application window again.
  form->SetParentWindow(nullptr);
  EXPECT_EQ(form->Handle(), wnd);
  EXPECT_FALSE(GetWindowLongPtrW(wnd, GWL_STYLE) & WS_CHILD);
  EXPECT_EQ(GetAncestor(wnd, GA_PARENT), GetDesktopWindow());
  EXPECT_EQ(GetWindow(wnd, GW_OWNER), App->Handle());
  // And in again, after creation.
  form->SetParentWindow(host);
  EXPECT_EQ(GetParent(wnd), host);
  form->Free();
  EXPECT_TRUE(IsWindow(host));
  DestroyWindow(host);
}
