// Registry, shell, temporary-path, version-resource and executable-path
// reads. None raises: a missing key, value or file gives the empty text.
#pragma once
#include <windows.h>

#include <string>

// The default (unnamed) value of Key under Root, of any registry type, as
// trimmed text. One trailing "\" of Key is ignored. Empty when the key or
// value is missing, access is refused, or the data with its terminator is
// longer than 255 bytes.
std::string RegReadString(HKEY Root, const std::string& Key);

// The program registered for the "open" verb of a file extension ("htm" or
// ".htm"), in double quotes, or empty.
std::string GetShellOpenCommand(const std::string& Ext);

// The user's temporary directory, one backslash, then Name.
std::string GetTempFilePath(const std::string& Name);

// The product version (not the file version) of FileName's version resource
// as four dotted decimal numbers, or empty when it has none.
std::string GetFileVersionString(const std::string& FileName);

// The full path of the running executable, however long, or empty when the
// system cannot tell.
std::string ExecutablePath();
