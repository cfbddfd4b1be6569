// Shared pieces of the windowing-layer tests.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/forms_win32.h"
#include "tests/support/message_pump_win32.h"
#include "tests/support/xdotool_win32.h"

// The centre of a window, in screen coordinates.
POINT CentreOf(HWND Wnd);

// A form whose messages from WM_USER up go to OnUserMessage (and are
// listed in Seen) before the usual handling. Without a border by default:
// Wine without a window manager waits two seconds for every framed window
// it hides or destroys.
class TTestForm : public TForm {
 public:
  explicit TTestForm(TComponent* AOwner, const std::string& AName = "") : TForm(AOwner) {
    SetName(AName);
    SetBorderStyle(bsNone);
  }
  std::vector<UINT> Seen;
  std::function<void(TMessage&)> OnUserMessage;

 protected:
  void WndProc(TMessage& Message) override {
    if (Message.Msg >= WM_USER && Message.Msg < 0x7FFF) {
      Seen.push_back(Message.Msg);
      if (OnUserMessage) {
        OnUserMessage(Message);
        return;
      }
    }
    TForm::WndProc(Message);
  }
};

// A fresh application object per test; exceptions reaching its sink are
// collected as their texts. PumpUntil goes through the application.
class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageRound([] {
      if (Application)
        Application->ProcessMessages();
      else
        DispatchWaitingMessages();
    });
    Restart();
  }
  void TearDown() override {
    App.reset();
    SetMessageRound(nullptr);
  }
  void Restart() {
    App.reset();
    App = std::make_unique<TApplication>();
    App->Initialize();
    App->OnException = [this](TComponent*, std::exception_ptr E) {
      try {
        std::rethrow_exception(E);
      } catch (const std::exception& X) {
        Errors.push_back(X.what());
      } catch (...) {
        Errors.push_back("?");
      }
    };
  }

  std::unique_ptr<TApplication> App;
  std::vector<std::string> Errors;
};
