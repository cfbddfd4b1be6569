// A stand-in for Microsoft Edge under Wine, for tests and `make run` only:
// registered as msedge.exe in a test prefix, it starts Debian's Chromium
// with the same arguments and bridges the DevTools pipe, so the saver's
// browser player talks to a real browser running a real emulator.
//
// The saver hands the pipe over as C-runtime descriptors 3 and 4 in
// STARTUPINFO's reserved block. Wine gives a Linux program neither those
// nor a process handle, so the bridge goes through two FIFOs in the
// profile folder that a shell opens as the browser's descriptors 3 and 4.
// When the saver's end closes (or this program is ended), the browser's
// descriptor 3 ends, and Chromium exits by itself; this program ends when
// the shell that ran the browser does.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "flash/browser_player.h"  // QuoteCommandLine
#include "util/raii_win32.h"

namespace {

// The handle the parent put at C-runtime descriptor Fd, or null.
HANDLE InheritedDescriptor(int Fd) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  GetStartupInfoW(&si);
  if (!si.lpReserved2 || si.cbReserved2 < sizeof(int)) return nullptr;
  int count = 0;
  std::memcpy(&count, si.lpReserved2, sizeof count);
  if (count <= Fd || si.cbReserved2 < sizeof(int) + static_cast<size_t>(count) * (1 + sizeof(HANDLE))) return nullptr;
  HANDLE h = nullptr;
  std::memcpy(&h, si.lpReserved2 + sizeof(int) + count + Fd * sizeof(HANDLE), sizeof h);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

// The Linux path of a Windows one, through Wine's own export.
std::string UnixPath(const std::wstring& Path) {
  using TGetUnix = char*(CDECL*)(const WCHAR*);
  const auto get = reinterpret_cast<TGetUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!get) return {};
  char* unix = get(Path.c_str());
  if (!unix) return {};
  std::string out = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return out;
}

std::wstring Wide(const std::string& S) {
  std::wstring w(S.size() * 2 + 1, L'\0');
  w.resize(MultiByteToWideChar(CP_UTF8, 0, S.data(), static_cast<int>(S.size()), w.data(), static_cast<int>(w.size())));
  return w;
}

std::string ShellQuote(const std::string& S) {
  std::string q = "'";
  for (char c : S) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Copies From to To until either end closes.
void Pump(HANDLE From, HANDLE To) {
  std::vector<char> buf(1 << 16);
  for (;;) {
    DWORD got = 0, wrote = 0;
    if (!ReadFile(From, buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr) || got == 0) return;
    for (DWORD done = 0; done < got; done += wrote)
      if (!WriteFile(To, buf.data() + done, got - done, &wrote, nullptr) || wrote == 0) return;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const HANDLE fromSaver = InheritedDescriptor(3), toSaver = InheritedDescriptor(4);
  if (!fromSaver || !toSaver) return 2;

  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  std::string profile;
  for (int i = 1; argv && i < argc; ++i) {
    std::wstring a = argv[i];
    const std::wstring dir = L"--user-data-dir=";
    if (a.compare(0, dir.size(), dir) == 0) {
      profile = UnixPath(a.substr(dir.size()));
      args.push_back("--user-data-dir=" + profile);
      continue;
    }
    char buf[4096];
    const int n = WideCharToMultiByte(CP_UTF8, 0, a.c_str(), -1, buf, sizeof buf, nullptr, nullptr);
    args.push_back(n > 0 ? std::string(buf) : std::string());
  }
  LocalFree(argv);
  if (profile.empty()) return 2;

  // Chromium refuses to run as root without it; the tests run as root.
  args.insert(args.begin(), "--no-sandbox");
  const std::string in = profile + "/.pipe-in", out = profile + "/.pipe-out", pid = profile + "/.pid";
  const char* log = std::getenv("PL_STANDIN_BROWSER_LOG");
  // The shell stays until the browser has gone, then removes what only the
  // Linux browser makes: the FIFOs (which the Windows side cannot delete),
  // the singleton links of its profile (left dangling when it is killed) and
  // its temporary folder, short-named in /tmp because a socket's path must
  // stay short. Its process id tells this program when that is done.
  std::string script = "rm -f " + ShellQuote(in) + " " + ShellQuote(out) + " " + ShellQuote(pid) + " && mkfifo " + ShellQuote(in) + " " +
                       ShellQuote(out) + " && echo $$ >" + ShellQuote(pid) +
                       " && t=$(mktemp -d /tmp/pl-standin.XXXXXX) && TMPDIR=$t /usr/bin/chromium";
  for (const std::string& a : args) script += " " + ShellQuote(a);
  script += " 3<" + ShellQuote(in) + " 4>" + ShellQuote(out) + " </dev/null >>" +
            ShellQuote(log && *log ? log : "/dev/null") + " 2>&1; rm -rf \"$t\" " + ShellQuote(in) + " " +
            ShellQuote(out) + " " + ShellQuote(profile) + "/Singleton*";
  std::string command = QuoteCommandLine({"/bin/sh", "-c", script});
  STARTUPINFOA si{};
  si.cb = sizeof si;
  TProcessInformation shell;
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &shell)) return 3;

  // The FIFOs as Wine sees them, once the shell has made them.
  auto dosPath = [](const std::string& Unix) {
    std::wstring w = L"Z:" + Wide(Unix);
    for (auto& c : w)
      if (c == L'/') c = L'\\';
    return w;
  };
  const std::wstring inDos = dosPath(in), outDos = dosPath(out);
  // Wine does not see a FIFO as a file, so the process-id file, written
  // right after the FIFOs are made, says they are there.
  for (int i = 0; i < 1500 && GetFileAttributesW(dosPath(pid).c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(20);
  long shellPid = 0;
  for (int i = 0; i < 100 && shellPid <= 0; ++i, Sleep(20)) {
    TUniqueFile pidFile(CreateFileW(dosPath(pid).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
    char number[32] = {};
    DWORD got = 0;
    if (pidFile && ReadFile(pidFile.Get(), number, sizeof number - 1, &got, nullptr)) shellPid = std::atol(number);
  }
  if (shellPid <= 0) return 4;
  // Both ends are opened for reading and writing: Wine opens a FIFO without
  // waiting for the other side, and one opened for one direction alone fails
  // (writing) or reads its end at once (reading) while the shell has not yet
  // opened its side. So the end of the answers is the shell's end, not the
  // FIFO's.
  TUniqueFile toBrowser(
      CreateFileW(inDos.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  TUniqueFile fromBrowser(
      CreateFileW(outDos.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!toBrowser || !fromBrowser) return 4;

  // Commands: when the saver's end closes, so does the browser's input, and
  // the browser ends.
  std::thread commands([&] {
    Pump(fromSaver, toBrowser.Get());
    toBrowser.Reset();
  });
  commands.detach();
  std::thread answers([&] { Pump(fromBrowser.Get(), toSaver); });
  answers.detach();
  // Until the shell has gone (after the browser, with the FIFOs and links
  // it leaves), so that whoever started this program finds the profile
  // free once it ends.
  const std::wstring proc = L"Z:\\proc\\" + Wide(std::to_string(shellPid));
  while (GetFileAttributesW(proc.c_str()) != INVALID_FILE_ATTRIBUTES) Sleep(50);
  DeleteFileW(dosPath(pid).c_str());
  ExitProcess(0);
  return 0;
}
