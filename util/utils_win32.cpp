#include "util/utils_win32.h"

#include <vector>

#include "util/raii_win32.h"
#include "util/utils.h"

namespace {

bool AnsiLeadByte(unsigned char Byte) { return IsDBCSLeadByte(Byte) != 0; }

// The registry buffer: values longer than this, terminator included, are
// not read at all rather than cut.
constexpr DWORD kRegistryBufferSize = 255;

}  // namespace

TLeadByteTest SystemLeadByteTest() { return AnsiLeadByte; }

std::string AnsiLowerCase(std::string S) {
  if (!S.empty()) CharLowerBuffA(S.data(), static_cast<DWORD>(S.size()));
  return S;
}

std::string RegReadString(HKEY Root, const std::string& Key) {
  // The trailing backslash is dropped multi-byte aware: a key name ending in
  // a double-byte character must not lose that character's trail byte.
  const std::string key =
      AnsiEndsWithChar(Key, '\\') ? Key.substr(0, Key.size() - 1) : Key;
  TUniqueHKey hkey;
  if (RegOpenKeyExA(Root, key.c_str(), 0, KEY_QUERY_VALUE, hkey.Put()) != ERROR_SUCCESS) return {};
  char buffer[kRegistryBufferSize];
  DWORD size = sizeof buffer;
  if (RegQueryValueExA(hkey.Get(), "", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
    return {};
  if (size > sizeof buffer) return {};
  return RegistryValueText(buffer, size);
}

std::string GetShellOpenCommand(const std::string& Ext) {
  const std::string typeName = RegReadString(HKEY_CLASSES_ROOT, ShellExtensionKey(Ext));
  // An empty type name would read "\shell\open\command" at the root.
  if (typeName.empty()) return {};
  return ShellOpenProgram(RegReadString(HKEY_CLASSES_ROOT, typeName + "\\shell\\open\\command"));
}

std::string GetTempFilePath(const std::string& Name) {
  std::vector<char> buffer(MAX_PATH);
  DWORD n = GetTempPathA(static_cast<DWORD>(buffer.size()), buffer.data());
  // A longer directory reports the size it needs (with its terminator);
  // read it whole instead of past the buffer.
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = GetTempPathA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n >= buffer.size()) n = 0;
  }
  return JoinTempPath(std::string(buffer.data(), n), Name);
}

std::string GetFileVersionString(const std::string& FileName) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(FileName.c_str(), &ignored);
  if (size < 1) return {};
  std::vector<char> block(size);
  if (!GetFileVersionInfoA(FileName.c_str(), 0, size, block.data())) return {};
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO))
    return {};
  return std::to_string(HIWORD(info->dwProductVersionMS)) + "." + std::to_string(LOWORD(info->dwProductVersionMS)) +
         "." + std::to_string(HIWORD(info->dwProductVersionLS)) + "." +
         std::to_string(LOWORD(info->dwProductVersionLS));
}

std::string ExecutablePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}
