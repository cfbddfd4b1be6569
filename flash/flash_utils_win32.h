// Is a usable player control installed? Three stateless checks; every
// failure yields false or a fallback text, never an error. Call them on the
// GUI thread after COM has been initialised there.
#pragma once
#include <string>

// True when an instance of the control's class can be created (exactly S_OK).
bool CanCreateFlash();
// The installed control's product version; "0.0.0.0" when its server file
// cannot be found, empty when that file has no version resource.
std::string GetFlashVersion();
// CanCreateFlash, and the installed version at least Required. The version
// is not read when the control cannot be created.
bool CheckFlashVersion(const std::string& Required);
