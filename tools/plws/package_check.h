// What `plws check` reports: every item of a package that the player would
// ignore or misread without a word. The rules are the player's own: the
// loader's notes (DecodeSettings), the name rules (SafeFileComponent,
// FileNamePart), the SWF signature, the dialog's bitmap decoder and the
// version compare. Nothing here decides anything the player does not.
#pragma once
#include <vector>

#include "app/settings.h"
#include "util/utils.h"

// The findings in item order (those about the package as a whole, Item -1,
// first). Texts may quote bytes of the package as they are; a caller that
// prints them makes them safe for its terminal. IsLead reads names in the
// package's code page (Shift-JIS for the Japanese savers this player runs).
std::vector<TSettingsNote> CheckPackageItems(const TItemTypes& Items, TLeadByteTest IsLead = IsShiftJisLeadByte);
