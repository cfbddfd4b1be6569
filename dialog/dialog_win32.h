// The settings dialog: the author's picture, a copyright line that works as
// a link, and a close button. The settings loader creates it and fills it
// from the package; configuration mode shows it modally.
#pragma once
#include <windows.h>

#include "dialog/stdctrls_win32.h"
#include "dialog/web_label_win32.h"

class TfrmDialog : public TForm {
 public:
  explicit TfrmDialog(TComponent* AOwner);

  TImage* imgImage = nullptr;
  TSimpleWebLabelEx* lblCopyright = nullptr;
  TButton* btnClose = nullptr;

  void FormCreate(TComponent* Sender);
  // Lays the dialog out for what it shows now and centres it on the main
  // form's monitor.
  void FormShow(TComponent* Sender);
  // A click on the picture is a click on the link, when there is an address.
  void imgImageClick(TComponent* Sender);

  // Enter, Esc and Alt+C press the close button while it is usable.
  bool PreProcessMessage(MSG& Msg) override;
  void BeforeDestruction() override;

 protected:
  void WndProc(TMessage& Message) override;

 private:
  bool CloseButtonUsable();
};

// The dialog, once the settings loader has created it; null before and after.
extern TfrmDialog* frmDialog;
