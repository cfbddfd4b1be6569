// Shell services the player needs: silent deletion of its extraction folder
// and the long form of a path.
#pragma once
#include <windows.h>

#include <string>

// The window that owns the shell's deletion (its error messages): the
// windowing framework supplies "the active form, else the application's
// hidden window". Without a provider the operation has no owner.
using TOwnerWindowProvider = HWND (*)();
void SetDeleteFolderOwnerProvider(TOwnerWindowProvider Provider);

// Deletes the file or the whole folder tree at Path (one trailing backslash
// ignored) silently and without the recycle bin, then processes pending
// window messages once. True when the shell reports success; false at once,
// without calling the shell, when nothing exists at Path or Path names a
// drive rather than something in it.
bool DeleteFolder(const std::string& Path);
// The same deletion in complete silence, for callers in the middle of work
// that no other handler may interrupt: no message is processed, and the
// shell shows no error box either (a file in use would bring one up, and
// its modal loop would run input, timers and the end of the session).
// What cannot be deleted stays.
bool DeleteFolderWithoutMessages(const std::string& Path);

// The long form of an existing path (8.3 names expanded), or empty when the
// shell cannot resolve it. Needs COM on the calling thread.
std::string GetLongFileName(const std::string& Path);
