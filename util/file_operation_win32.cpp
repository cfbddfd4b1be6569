#include "util/file_operation_win32.h"

#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <vector>

#include "util/messages.h"
#include "util/raii_com_win32.h"
#include "util/text_win32.h"
#include "util/utils.h"

namespace {

std::atomic<TOwnerWindowProvider> gOwnerProvider{nullptr};

// What the shell is to delete for Path, or empty when nothing exists there
// or Path names no deletable thing (a drive).
std::string ExistingDeletionSource(const std::string& Path) {
  const std::string source = DeletionSource(Path);
  if (source.empty() || GetFileAttributesA(source.c_str()) == INVALID_FILE_ATTRIBUTES) return {};
  return source;
}

// The shell's deletion of Source (which exists) with the given flags.
bool ShellDelete(const std::string& Source, FILEOP_FLAGS Flags) {
  // A list of one name, ended by an empty name.
  std::vector<char> from(Source.begin(), Source.end());
  from.push_back('\0');
  from.push_back('\0');

  SHFILEOPSTRUCTA op{};
  const TOwnerWindowProvider provider = gOwnerProvider;
  op.hwnd = provider ? provider() : nullptr;
  op.wFunc = FO_DELETE;
  op.pFrom = from.data();
  op.pTo = nullptr;
  op.fFlags = Flags;
  op.fAnyOperationsAborted = FALSE;
  op.hNameMappings = nullptr;
  op.lpszProgressTitle = nullptr;
  return SHFileOperationA(&op) == 0;
}

}  // namespace

void SetDeleteFolderOwnerProvider(TOwnerWindowProvider Provider) { gOwnerProvider = Provider; }

bool DeleteFolder(const std::string& Path) {
  // Nothing there: no shell call, and no messages either.
  const std::string source = ExistingDeletionSource(Path);
  if (source.empty()) return false;
  // No FOF_ALLOWUNDO: nothing goes to the recycle bin. The shell's own error
  // messages stay: they are the only report a failed deletion gets.
  const bool deleted = ShellDelete(source, FOF_NOCONFIRMATION | FOF_SILENT);
  ProcessPendingMessages();
  return deleted;
}

bool DeleteFolderWithoutMessages(const std::string& Path) {
  const std::string source = ExistingDeletionSource(Path);
  if (source.empty()) return false;
  return ShellDelete(source, FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI);
}

std::string GetLongFileName(const std::string& Path) {
  TCoTaskMem<ITEMIDLIST> items;
  {
    TComPtr<IShellFolder> desktop;
    if (SUCCEEDED(SHGetDesktopFolder(desktop.Put())) && desktop) {
      std::wstring wide = AnsiToWide(Path);
      ULONG eaten = 0;
      ULONG attributes = 0;
      if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, wide.data(), &eaten, items.Put(), &attributes)))
        items.Release();
    }
  }
  if (!items) return {};
  char buffer[MAX_PATH] = {};
  if (!SHGetPathFromIDListA(items.Get(), buffer)) return {};
  return TrimControls(std::string(buffer, strnlen(buffer, sizeof buffer)));
}
