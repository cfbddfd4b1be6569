#include "flash/flash_utils_win32.h"

#include <windows.h>
#include <ole2.h>

#include "flash/browser_player_win32.h"
#include "flash/shockwave_flash_win32.h"
#include "util/raii_com_win32.h"
#include "util/utils.h"
#include "util/utils_win32.h"

namespace {

// The server path as registered for the control (the registry's own spelling
// of the class identifier does not matter: keys are matched without case).
constexpr char kServerKey[] = "CLSID\\{D27CDB6E-AE6D-11cf-96B8-444553540000}\\InprocServer32";
constexpr char kNoVersion[] = "0.0.0.0";
// In-process or local server, as the control may be either.
constexpr DWORD kCreateContext = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;

}  // namespace

namespace {

// The vendor's control: exactly S_OK from creating it.
bool CanCreateVendorControl() {
  try {
    TComPtr<IOleObject> object;
    const HRESULT hr = CoCreateInstance(CLSID_ShockwaveFlash, nullptr, kCreateContext, IID_IOleObject,
                                        object.PutVoid());
    // Only S_OK counts, not other success codes; whatever came back is
    // released either way when `object` goes.
    return hr == S_OK;
  } catch (...) {
    return false;
  }
}

}  // namespace

// Either player will do: the vendor's control, or the browser player where
// the emulator is carried and a browser is found (which starts nothing).
bool CanCreateFlash() { return CanCreateVendorControl() || CanCreateBrowserPlayer(); }

std::string GetFlashVersion() {
  // Without the control the browser player plays: its version is the one the
  // emulator reports to movies.
  if (!CanCreateVendorControl() && CanCreateBrowserPlayer()) return EmulatorFlashVersion();
  std::string version = kNoVersion;
  // The registered text is taken literally: no variables expanded, no quotes removed.
  const std::string server = RegReadString(HKEY_CLASSES_ROOT, kServerKey);
  if (!server.empty()) {
    const DWORD attributes = GetFileAttributesA(server.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      version = GetFileVersionString(server);
  }
  return version;
}

bool CheckFlashVersion(const std::string& Required) {
  if (!CanCreateFlash()) return false;
  return VersionAtLeast(GetFlashVersion(), Required);
}
