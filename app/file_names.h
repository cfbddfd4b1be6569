// Safe file names: what a name taken from the package may become on disk.
// Package texts are untrusted: such a name only ever becomes one file-name
// component, or is refused.
#pragma once
#include <optional>
#include <string>

#include "util/utils.h"

// Names are read in the package's code page (IsLead, the system's ANSI code
// page by default): separators are only looked for outside double-byte
// characters, whose second byte may equal '\\' or '|'.

// Text unchanged when it is one safe file-name component on every system the
// files may land on; nullopt otherwise. Refused: empty, "." or "..", longer
// than 255 bytes, control characters, any of \ / : * ? " < > |, a trailing
// dot or blank, and device names (CON, PRN, AUX, NUL, COM0-9, LPT0-9,
// COM and LPT with a superscript 1, 2 or 3, CONIN$, CONOUT$, with or without
// an extension).
std::optional<std::string> SafeFileComponent(const std::string& Text,
                                             TLeadByteTest IsLead = SystemLeadByteTest());

// The file-name part of a package name (what follows its last "\", "/" or
// ":"), when that is a safe component: "sub\data.xml" gives "data.xml",
// "..\..\x" and "C:\x" give "x", "a\.." is refused.
std::optional<std::string> FileNamePart(const std::string& Name,
                                        TLeadByteTest IsLead = SystemLeadByteTest());
