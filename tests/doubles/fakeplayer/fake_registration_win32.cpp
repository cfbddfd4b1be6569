#include "tests/doubles/fakeplayer/fake_registration_win32.h"

#include <windows.h>

#include "util/raii_win32.h"

namespace {

constexpr char kClassKey[] = "CLSID\\{D27CDB6E-AE6D-11CF-96B8-444553540000}";
constexpr char kServerKey[] = "CLSID\\{D27CDB6E-AE6D-11CF-96B8-444553540000}\\InprocServer32";

// The build folder as Wine sees it: a Unix path lives on drive Z:.
std::string WindowsPath(std::string Path) {
  if (!Path.empty() && Path[0] == '/') Path = "Z:" + Path;
  for (char& c : Path)
    if (c == '/') c = '\\';
  return Path;
}

bool SetString(HKEY Key, const char* Name, const std::string& Value) {
  return RegSetValueExA(Key, Name, 0, REG_SZ, reinterpret_cast<const BYTE*>(Value.c_str()),
                        static_cast<DWORD>(Value.size() + 1)) == ERROR_SUCCESS;
}

bool CreateServerKey(TUniqueHKey& Key) {
  UnregisterFakePlayer();
  return RegCreateKeyExA(HKEY_CLASSES_ROOT, kServerKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, Key.Put(),
                         nullptr) == ERROR_SUCCESS;
}

}  // namespace

std::string FakePlayerPath(TFakePlayerVariant Variant) {
  const char* name = Variant == TFakePlayerVariant::V9   ? "fakeplayer_v9.dll"
                     : Variant == TFakePlayerVariant::V7 ? "fakeplayer_v7.dll"
                                                         : "fakeplayer_nover.dll";
  return WindowsPath(PL_FAKEPLAYER_DIR) + "\\" + name;
}

bool RegisterFakePlayer(const std::string& ServerPath) {
  TUniqueHKey key;
  return CreateServerKey(key) && SetString(key.Get(), nullptr, ServerPath) &&
         SetString(key.Get(), "ThreadingModel", "Apartment");
}

bool RegisterFakePlayer(TFakePlayerVariant Variant) { return RegisterFakePlayer(FakePlayerPath(Variant)); }

bool RegisterFakePlayerWithoutPath() {
  TUniqueHKey key;
  return CreateServerKey(key) && SetString(key.Get(), "ThreadingModel", "Apartment");
}

bool UnregisterFakePlayer() {
  const LONG r = RegDeleteTreeA(HKEY_CLASSES_ROOT, kClassKey);
  if (r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) {
    TUniqueHKey key;
    return RegOpenKeyExA(HKEY_CLASSES_ROOT, kClassKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS;
  }
  return false;
}
