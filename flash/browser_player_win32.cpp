#include "flash/browser_player_win32.h"

#include <objbase.h>
#include <shlwapi.h>
#include <wincodec.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>

#include "flash/base64.h"
#include "flash/emulator_resource.h"
#include "flash/page.h"
#include "flash/request.h"
#include "flash/swf.h"
#include "package/exe_adder.h"
#include "package/raii_items.h"
#include "package/stream.h"
#include "util/file_operation_win32.h"
#include "util/raii_com_win32.h"
#include "util/text_win32.h"
#include "util/utils.h"
#include "util/utils_win32.h"

namespace {

// How long the browser may take to answer its first command (its start: a
// few seconds on a cold machine, much more on one that is busy, and the
// screen stays black meanwhile either way) and any later one.
constexpr DWORD kStartTimeoutMs = 45000;
constexpr DWORD kAnswerTimeoutMs = 20000;
// How long Browser.close may take before the job ends the browser.
constexpr DWORD kCloseTimeoutMs = 5000;
// The player window's own timer: the movie's time passes while these
// messages reach the window, and stops when its owner withholds them.
constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kTickMs = 100;
// The origin of every page: intercepted before anything is resolved or
// connected, so nothing is ever served from there.
constexpr char kOrigin[] = "http://127.0.0.1";

// What the player does, one line each, appended to the file named by
// PL_BROWSER_PLAYER_LOG when that is set: the browser player's own trace
// for tests and for a user who asks why a movie stays black.
void Trace(const std::string& Line) {
  static const std::string path = [] {
    char buf[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("PL_BROWSER_PLAYER_LOG", buf, sizeof buf);
    return n && n < sizeof buf ? std::string(buf) : std::string();
  }();
  if (path.empty()) return;
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  TUniqueFile f(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            0, nullptr));
  // Wall-clock milliseconds since 1970, so a reader on either side of Wine
  // can set the lines against its own clock.
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const uint64_t ms = ((uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime) - 116444736000000000ull) / 10000;
  const std::string text = "[" + std::to_string(ms) + "] " + Line + "\r\n";
  DWORD wrote = 0;
  if (f) WriteFile(f.Get(), text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
}

std::string Utf8(const std::wstring& Text) { return WideToText(Text, CP_UTF8); }
std::wstring Wide(const std::string& Utf8Text) { return TextToWide(Utf8Text, CP_UTF8); }

std::string Number(double V) { return std::to_string(static_cast<long long>(V)); }

// ---- the carried emulator ------------------------------------------------------

// The bytes of one RCDATA resource of this program; empty when there is none.
std::pair<const uint8_t*, size_t> Resource(int Id) {
  HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(Id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!info) return {nullptr, 0};
  HGLOBAL block = LoadResource(nullptr, info);
  const void* bytes = block ? LockResource(block) : nullptr;
  return {static_cast<const uint8_t*>(bytes), bytes ? SizeofResource(nullptr, info) : 0};
}

// The emulator's files by name, read once from the resource (the run never
// changes them).
const std::map<std::string, std::vector<uint8_t>>& EmulatorFiles() {
  static std::mutex lock;
  static std::map<std::string, std::vector<uint8_t>> files;
  static bool read = false;
  std::lock_guard<std::mutex> guard(lock);
  if (!read) {
    read = true;
    const auto [bytes, size] = Resource(PL_EMULATOR_RESOURCE);
    if (bytes) {
      TMemoryStream stream(std::vector<uint8_t>(bytes, bytes + size));
      TOwnedItems items;
      try {
        ReadExeItems(stream, items);
      } catch (...) {
        // A damaged resource carries no emulator.
      }
      for (const TItemType& item : items)
        if (item.Data) files[item.Name].assign(item.Data, item.Data + item.Size);
    }
  }
  return files;
}

std::string& PlayerFolder() {
  static std::string folder;
  return folder;
}

// ---- frames -----------------------------------------------------------------------

// A JPEG (or any picture the system's imaging component reads) as top-down
// BGRA pixels; false when it does not decode.
bool DecodePicture(IWICImagingFactory* Factory, const std::vector<uint8_t>& Bytes, std::vector<uint8_t>& Pixels,
                   int& Width, int& Height) {
  TComPtr<IStream> stream(SHCreateMemStream(Bytes.data(), static_cast<UINT>(Bytes.size())));
  TComPtr<IWICBitmapDecoder> decoder;
  TComPtr<IWICBitmapFrameDecode> frame;
  TComPtr<IWICBitmapSource> converted;
  UINT w = 0, h = 0;
  if (!stream ||
      FAILED(Factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.Put())) ||
      FAILED(decoder->GetFrame(0, frame.Put())) ||
      FAILED(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, frame.Get(), converted.Put())) ||
      FAILED(converted->GetSize(&w, &h)) || w == 0 || h == 0 || w > 16384 || h > 16384)
    return false;
  Pixels.resize(static_cast<size_t>(w) * h * 4);
  if (FAILED(converted->CopyPixels(nullptr, w * 4, static_cast<UINT>(Pixels.size()), Pixels.data()))) return false;
  Width = static_cast<int>(w);
  Height = static_cast<int>(h);
  return true;
}

}  // namespace

// ---- finding what the player needs ----------------------------------------------

std::string FindBrowserProgram() {
  auto exists = [](const std::string& Path) {
    const DWORD a = Path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(Path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
  };
  auto env = [](const char* Name) {
    char buf[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA(Name, buf, sizeof buf);
    return n && n < sizeof buf ? std::string(buf) : std::string();
  };
  struct TBrowser {
    const char* Exe;
    std::vector<std::string> Folders;  // below a known root
  };
  const TBrowser kBrowsers[] = {
      {"msedge.exe", {"Microsoft\\Edge\\Application\\msedge.exe"}},
      {"chrome.exe", {"Google\\Chrome\\Application\\chrome.exe", "Chromium\\Application\\chrome.exe"}},
  };
  for (const TBrowser& b : kBrowsers) {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      const std::string path = UnquoteString(
          RegReadString(root, std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\") + b.Exe), '"');
      if (exists(path)) return path;
    }
    for (const char* rootVar : {"ProgramFiles(x86)", "ProgramFiles", "LOCALAPPDATA"}) {
      const std::string root = env(rootVar);
      if (root.empty()) continue;
      for (const std::string& f : b.Folders)
        if (exists(root + "\\" + f)) return root + "\\" + f;
    }
  }
  return {};
}

bool EmulatorCarried() { return Resource(PL_EMULATOR_RESOURCE).first != nullptr; }

std::string EmulatorFlashVersion() {
  const auto [bytes, size] = Resource(PL_EMULATOR_VERSION_RESOURCE);
  if (!bytes) return {};
  std::string v(reinterpret_cast<const char*>(bytes), size);
  v.erase(std::find_if(v.begin(), v.end(), [](char c) { return c != '.' && (c < '0' || c > '9'); }), v.end());
  return v;
}

bool CanCreateBrowserPlayer() { return EmulatorCarried() && !FindBrowserProgram().empty(); }

void SetBrowserPlayerFolder(const std::string& Folder) { PlayerFolder() = Folder; }

// ---- the run's browser --------------------------------------------------------------

class TBrowserHost {
 public:
  using TListener = std::function<void(const TDevToolsMessage&)>;

  // The run's browser, started for the first player.
  static std::shared_ptr<TBrowserHost> Acquire() {
    static std::mutex lock;
    static std::weak_ptr<TBrowserHost> current;
    std::lock_guard<std::mutex> guard(lock);
    if (auto host = current.lock()) return host;
    auto host = std::shared_ptr<TBrowserHost>(new TBrowserHost());
    host->Start();
    current = host;
    return host;
  }

  ~TBrowserHost() { End(); }

  // Sends a command and waits for its answer; throws when the browser
  // refuses it, closes the pipe or does not answer within TimeoutMs.
  TJson Call(const std::string& Method, const std::string& Params, const std::string& Session,
             DWORD TimeoutMs = kAnswerTimeoutMs) {
    const int64_t id = Send(Method, Params, Session);
    std::unique_lock<std::mutex> guard(FLock);
    const bool answered = FAnswered.wait_for(guard, std::chrono::milliseconds(TimeoutMs),
                                             [&] { return FClosed || FAnswers.count(id); });
    auto it = FAnswers.find(id);
    if (!answered || it == FAnswers.end())
      throw std::runtime_error(Method + (FClosed ? ": the browser closed its pipe" : ": no answer from the browser"));
    TDevToolsMessage answer = std::move(it->second);
    FAnswers.erase(it);
    if (answer.Error) throw std::runtime_error(Method + " failed: " + *answer.Error);
    return std::move(answer.Params);
  }

  // Sends a command without waiting; its answer is dropped. Returns its id.
  int64_t Send(const std::string& Method, const std::string& Params, const std::string& Session) {
    std::lock_guard<std::mutex> guard(FWriteLock);
    const int64_t id = ++FLastId;
    {
      std::lock_guard<std::mutex> answers(FLock);
      FAwaited[id] = true;
    }
    std::string message = DevToolsCommand(id, Method, Params, Session);
    message.push_back('\0');
    for (size_t done = 0; done < message.size();) {
      DWORD wrote = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(message.size() - done, 1 << 20));
      if (!FToBrowser || !WriteFile(FToBrowser.Get(), message.data() + done, chunk, &wrote, nullptr) || !wrote)
        break;
      done += wrote;
    }
    return id;
  }

  void Forget(int64_t Id) {
    std::lock_guard<std::mutex> guard(FLock);
    FAwaited.erase(Id);
  }

  void Listen(const std::string& Session, TListener Listener) {
    std::lock_guard<std::mutex> guard(FListenLock);
    FListeners[Session] = std::move(Listener);
  }
  // After this returns no event reaches that listener any more.
  void Unlisten(const std::string& Session) {
    std::lock_guard<std::mutex> guard(FListenLock);
    FListeners.erase(Session);
  }

 private:
  TBrowserHost() = default;

  void Start() {
    const std::string program = FindBrowserProgram();
    if (program.empty() || !EmulatorCarried()) throw std::runtime_error("no browser or no emulator");
    // The profile: a folder of this process's own, so that two copies of
    // one package never share one.
    std::string base = PlayerFolder().empty() ? GetTempFilePath("") : PlayerFolder();
    if (!base.empty() && base.back() == '\\') base.pop_back();
    FProfile = base + "\\browser." + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(FProfile.c_str(), nullptr);

    // Two pipes: commands to the browser (its descriptor 3), answers and
    // events from it (its descriptor 4). Only the browser's ends are
    // inheritable.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    TUniqueHandle commandsRead, answersWrite;
    if (!CreatePipe(commandsRead.Put(), FToBrowser.Put(), &inherit, 1 << 16) ||
        !CreatePipe(FFromBrowser.Put(), answersWrite.Put(), &inherit, 1 << 16) ||
        !SetHandleInformation(FToBrowser.Get(), HANDLE_FLAG_INHERIT, 0) ||
        !SetHandleInformation(FFromBrowser.Get(), HANDLE_FLAG_INHERIT, 0))
      throw std::runtime_error("cannot make the browser's pipes");

    // The C runtime's inherited descriptors travel in STARTUPINFO's reserved
    // block: a count, a flag byte per descriptor, then the handles.
    constexpr int kCount = 5;
    constexpr unsigned char kOpenPipe = 0x01 | 0x08;  // FOPEN | FPIPE
    std::vector<unsigned char> block(sizeof(int) + kCount * (1 + sizeof(HANDLE)));
    const int count = kCount;
    std::memcpy(block.data(), &count, sizeof count);
    const HANDLE handles[kCount] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE,
                                    commandsRead.Get(), answersWrite.Get()};
    for (int i = 0; i < kCount; ++i) {
      block[sizeof(int) + i] = i >= 3 ? kOpenPipe : 0;
      std::memcpy(block.data() + sizeof(int) + kCount + i * sizeof(HANDLE), &handles[i], sizeof(HANDLE));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.cbReserved2 = static_cast<WORD>(block.size());
    startup.lpReserved2 = block.data();

    std::vector<std::string> args = {program};
    const auto more = BrowserPlayerArgs(FProfile);
    args.insert(args.end(), more.begin(), more.end());
    std::wstring commandLine = AnsiToWide(QuoteCommandLine(args));
    std::wstring programW = AnsiToWide(program);

    // The job ends the browser, and every process it starts, when its last
    // handle closes: with this process, however it ends.
    FJob.Reset(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!FJob || !SetInformationJobObject(FJob.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
      throw std::runtime_error("cannot make the browser's job");
    if (!CreateProcessW(programW.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &FProcess))
      throw std::runtime_error("cannot start the browser");
    if (!AssignProcessToJobObject(FJob.Get(), FProcess.hProcess)) {
      TerminateProcess(FProcess.hProcess, 1);
      throw std::runtime_error("cannot put the browser in its job");
    }
    ResumeThread(FProcess.hThread);
    Trace("browser started: " + program + ", profile " + FProfile);
    // The browser's ends are the browser's now: closing ours lets the
    // reader see the end of the pipe when the browser goes.
    commandsRead.Reset();
    answersWrite.Reset();

    FReader.Reset(CreateThread(nullptr, 0, &TBrowserHost::ReaderEntry, this, 0, nullptr));
    if (!FReader) {
      End();
      throw std::runtime_error("cannot start the browser's reader");
    }
    try {
      Call("Browser.getVersion", "", "", kStartTimeoutMs);
      Trace("browser answered");
    } catch (const std::exception& e) {
      Trace(std::string("browser did not answer: ") + e.what());
      End();
      throw;
    }
  }

  static DWORD WINAPI ReaderEntry(void* Self) noexcept {
    static_cast<TBrowserHost*>(Self)->ReadLoop();
    return 0;
  }

 public:
  // The imaging component of the reader thread, which decodes the frames;
  // null elsewhere.
  IWICImagingFactory* ImagingFactory() const { return FImaging.Get(); }

 private:

  void ReadLoop() noexcept {
    try {
      TComApartment apartment;
      CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                       FImaging.PutVoid());
      // The component goes before the apartment does.
      const TScopeExit releaseImaging([this] { FImaging.Reset(); });
      TDevToolsFramer framer;
      std::vector<char> buf(1 << 16);
      for (;;) {
        DWORD got = 0;
        if (!ReadFile(FFromBrowser.Get(), buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr) || got == 0)
          break;
        if (!framer.Append(buf.data(), got)) break;
        while (auto text = framer.Next()) {
          auto message = ReadDevToolsMessage(*text);
          if (!message) continue;
          if (message->Id) {
            std::lock_guard<std::mutex> guard(FLock);
            // Only answers somebody waits for are kept.
            auto awaited = FAwaited.find(*message->Id);
            if (awaited == FAwaited.end()) continue;
            FAwaited.erase(awaited);
            FAnswers[*message->Id] = std::move(*message);
            FAnswered.notify_all();
            continue;
          }
          std::lock_guard<std::mutex> guard(FListenLock);
          auto it = FListeners.find(message->SessionId);
          if (it != FListeners.end()) it->second(*message);
        }
      }
    } catch (...) {
      // The connection is over either way.
    }
    Trace("browser's pipe closed");
    std::lock_guard<std::mutex> guard(FLock);
    FClosed = true;
    FAnswered.notify_all();
  }

  // Asks the browser to close, waits for it, ends the job, removes the profile.
  void End() noexcept {
    Trace("browser ending");
    try {
      if (FProcess.hProcess) {
        bool closed = false;
        {
          std::lock_guard<std::mutex> guard(FLock);
          closed = FClosed;
        }
        if (!closed) {
          const int64_t id = Send("Browser.close", "", "");
          Forget(id);
        }
        if (WaitForSingleObject(FProcess.hProcess, kCloseTimeoutMs) != WAIT_OBJECT_0)
          TerminateJobObject(FJob.Get(), 1);
        Trace("browser's process ended");
        WaitForSingleObject(FProcess.hProcess, kCloseTimeoutMs);
      }
      FToBrowser.Reset();
      if (FReader) {
        // Its pipe ends with the browser; a browser that kept it open past
        // its end leaves a read to cancel.
        if (WaitForSingleObject(FReader.Get(), 1000) != WAIT_OBJECT_0) CancelSynchronousIo(FReader.Get());
        WaitForSingleObject(FReader.Get(), INFINITE);
        FReader.Reset();
      }
      FFromBrowser.Reset();
      FJob.Reset();
      if (!FProfile.empty() && !DeleteFolderWithoutMessages(FProfile)) Trace("profile not removed: " + FProfile);
      FProfile.clear();
      Trace("browser ended");
    } catch (...) {
    }
  }

  TUniqueHandle FJob;
  TProcessInformation FProcess;
  TUniqueHandle FToBrowser, FFromBrowser;
  std::string FProfile;
  TUniqueHandle FReader;
  TComPtr<IWICImagingFactory> FImaging;
  std::mutex FWriteLock;
  int64_t FLastId = 0;
  std::mutex FLock;
  std::condition_variable FAnswered;
  std::map<int64_t, bool> FAwaited;
  std::map<int64_t, TDevToolsMessage> FAnswers;
  bool FClosed = false;
  std::mutex FListenLock;
  std::map<std::string, TListener> FListeners;
};

// ---- one player -------------------------------------------------------------------

namespace {

constexpr wchar_t kPlayerClass[] = L"PlBrowserPlayer";

void RegisterPlayerClass() {
  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;  // each window sets its own procedure
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */);
    wc.lpszClassName = kPlayerClass;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  (void)registered;
}

// 128 random bits in hex: the path of this page's files.
std::string MakeToken() {
  GUID g{};
  CoCreateGuid(&g);
  std::string t;
  const auto* b = reinterpret_cast<const unsigned char*>(&g);
  for (size_t i = 0; i < sizeof g; ++i) t += HexByte(b[i], false);
  return t;
}

std::vector<uint8_t> ReadWholeFile(const std::wstring& Path) {
  TUniqueFile f(CreateFileW(Path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  std::vector<uint8_t> bytes;
  LARGE_INTEGER size{};
  if (!f || !GetFileSizeEx(f.Get(), &size) || size.QuadPart > (int64_t{1} << 30)) return bytes;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  if (!bytes.empty() && (!ReadFile(f.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                         got != bytes.size()))
    bytes.clear();
  return bytes;
}

}  // namespace

TBrowserPlayer::TBrowserPlayer(TCommandSink OnCommand) : FOnCommand(std::move(OnCommand)), FToken(MakeToken()) {
  // The browser answers, or this player cannot be made; its page waits for
  // the movie, whose stage gives the page its size.
  FHost = TBrowserHost::Acquire();
}

// A page of its own, in a window of the page's size (a headless browser's
// window has room for a toolbar too, which a page of the window's size
// would lose), every request of it stopping here first: nothing reaches a
// network.
void TBrowserPlayer::OpenPage() {
  const TJson target = FHost->Call("Target.createTarget",
                                   "{\"url\":\"about:blank\",\"newWindow\":true,\"width\":" + std::to_string(FPageW) +
                                       ",\"height\":" + std::to_string(FPageH) + "}",
                                   "");
  const TJson* id = target.Get("targetId");
  if (!id || id->Kind != TJson::String) throw std::runtime_error("Target.createTarget: no target");
  FTarget = id->StringValue;
  const TJson attached =
      FHost->Call("Target.attachToTarget", "{\"targetId\":" + JsonString(FTarget) + ",\"flatten\":true}", "");
  const TJson* session = attached.Get("sessionId");
  if (!session || session->Kind != TJson::String) throw std::runtime_error("Target.attachToTarget: no session");
  FSession = session->StringValue;
  FHost->Listen(FSession, [this](const TDevToolsMessage& M) { OnEvent(M); });
  FHost->Call("Fetch.enable", "{\"patterns\":[{\"urlPattern\":\"*\",\"requestStage\":\"Request\"}]}", FSession);
  FHost->Call("Runtime.addBinding", "{\"name\":\"plwsReport\"}", FSession);
  FHost->Call("Page.enable", "", FSession);
  FHost->Call("Runtime.enable", "", FSession);
  // The page counts as focused whatever the browser's windows do, so input
  // keeps reaching it.
  FHost->Call("Emulation.setFocusEmulationEnabled", "{\"enabled\":true}", FSession);
  Trace("page opened: target " + FTarget);
}

TBrowserPlayer::~TBrowserPlayer() {
  Trace("frames since the movie started: " + std::to_string(FFramesSinceStart.load()) + " received, " +
        std::to_string(FPaintsSinceStart) + " painted");
  if (FHost && !FSession.empty()) {
    FHost->Unlisten(FSession);
    FHost->Forget(FHost->Send("Target.closeTarget", "{\"targetId\":" + JsonString(FTarget) + "}", ""));
  }
  FTick.Reset();
  FWindow.Reset();
}

HWND TBrowserPlayer::CreateWindowIn(HWND Parent, const RECT& Bounds) {
  RegisterPlayerClass();
  FWindow.Reset(CreateWindowExW(0, kPlayerClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, Bounds.left,
                                Bounds.top, Bounds.right - Bounds.left, Bounds.bottom - Bounds.top, Parent, nullptr,
                                GetModuleHandleW(nullptr), nullptr));
  if (!FWindow) throw std::runtime_error("cannot create the player's window");
  SetWindowLongPtrW(FWindow.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(FWindow.Get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TBrowserPlayer::WindowProc));
  FTick.Set(FWindow.Get(), kTickTimer, kTickMs);
  return FWindow.Get();
}

void TBrowserPlayer::SetBounds(const RECT& Bounds) {
  if (FWindow)
    MoveWindow(FWindow.Get(), Bounds.left, Bounds.top, Bounds.right - Bounds.left, Bounds.bottom - Bounds.top, TRUE);
}

void TBrowserPlayer::SetMovie(const std::wstring& Path) {
  FMovie = Path;
  FLoadPending = true;
}

void TBrowserPlayer::SetScale(const std::wstring& Value) {
  FShowAll = PageScaleFor(WideToAnsi(Value)) == "showAll";
  if (FWindow) InvalidateRect(FWindow.Get(), nullptr, FALSE);
}

void TBrowserPlayer::Stop() { SetPaused(true); }

void TBrowserPlayer::StopPlay() {
  SetPaused(true);
  if (FLoaded) FHost->Forget(FHost->Send("Page.stopScreencast", "", FSession));
}

void TBrowserPlayer::BeginTimerOffer() { FTimerReached = false; }

void TBrowserPlayer::EndTimerOffer() {
  if (!FTimerReached && FLoaded) SetPaused(true);
}

void TBrowserPlayer::SetPaused(bool Paused) {
  if (Paused == FPaused || !FLoaded) return;
  FPaused = Paused;
  Trace(std::string(Paused ? "paused" : "resumed") + " after " + std::to_string(FFramesSinceStart.load()) + " frames");
  // A paused emulator draws nothing, so no frames come while it is paused;
  // a frozen page runs no script and no timer at all, so a preview nobody
  // sees costs the browser next to nothing. The page thaws before the
  // emulator is asked to go on, since a frozen page runs nothing it is sent.
  const std::string pause = std::string("{\"expression\":\"window.plwsPause&&plwsPause(") +
                            (Paused ? "true" : "false") + ")\"}";
  if (!Paused) FHost->Forget(FHost->Send("Page.setWebLifecycleState", "{\"state\":\"active\"}", FSession));
  FHost->Forget(FHost->Send("Runtime.evaluate", pause, FSession));
  if (Paused) FHost->Forget(FHost->Send("Page.setWebLifecycleState", "{\"state\":\"frozen\"}", FSession));
}

std::string TBrowserPlayer::PageUrl() const { return std::string(kOrigin) + "/" + FToken + "/"; }

// The movie's page: its size from the movie's stage, the configuration from
// the puts, then the page opens and the frames start.
void TBrowserPlayer::Load() {
  FLoadPending = false;
  std::vector<uint8_t> movie = ReadWholeFile(FMovie);
  if (movie.empty()) return;  // nothing to play, as the control shows nothing
  const auto info = ReadSwfInfo(movie);
  if (!FLoop)
    if (auto stopping = SwfStopAtLastFrame(movie)) movie = std::move(*stopping);
  const std::string path = WideToAnsi(FMovie);
  const size_t cut = path.find_last_of("\\/:");
  FMovieFolder = cut == std::string::npos ? "" : path.substr(0, cut + 1);
  FMovieName = cut == std::string::npos ? path : path.substr(cut + 1);
  FMovieBackground = info ? info->Background : -1;
  FMovieBytes = std::move(movie);

  RECT client{};
  GetClientRect(FWindow.Get(), &client);
  PageSizeFor(info ? info->Width : 0, info ? info->Height : 0, client.right, client.bottom, FShowAll, FPageW,
              FPageH);

  TPageConfig c;
  c.Root = "/" + FToken + "/";
  c.MovieUrl = c.Root + "m/" + PercentEncodeSegment(Utf8(AnsiToWide(FMovieName)));
  c.BaseUrl = c.Root + "m/";
  c.FlashVars = Utf8(FFlashVars);
  c.FrameRate = FrameRateWithin(info ? info->FrameRate : 0, FMinFrameGapMs);
  c.Scale = FShowAll ? "showAll" : "noScale";
  c.Quality = PageQualityFor(FQuality);
  c.Background = PageBackgroundFor(FBackgroundColor);
  c.Menu = FMenu;
  c.Embedded = true;
  FPage = BuildPlayPage(c);

  OpenPage();
  FHost->Call("Emulation.setDeviceMetricsOverride",
              "{\"width\":" + std::to_string(FPageW) + ",\"height\":" + std::to_string(FPageH) +
                  ",\"deviceScaleFactor\":1,\"mobile\":false}",
              FSession);
  // The frames start before the page opens: started right after the
  // navigation's answer, the page is not yet there to cast.
  FHost->Call("Page.startScreencast",
              "{\"format\":\"jpeg\",\"quality\":85,\"maxWidth\":" + std::to_string(FPageW) +
                  ",\"maxHeight\":" + std::to_string(FPageH) + ",\"everyNthFrame\":1}",
              FSession);
  FHost->Call("Page.navigate", "{\"url\":" + JsonString(PageUrl()) + "}", FSession);
  FLoaded = true;
  Trace("movie loading: " + FMovieName + " at " + std::to_string(FPageW) + "x" + std::to_string(FPageH) +
        (c.FrameRate > 0 ? ", " + Number(c.FrameRate) + " frames a second" : ""));
}

// ---- what the browser tells the player (its reader thread) ---------------------------

void TBrowserPlayer::OnEvent(const TDevToolsMessage& M) {
  if (M.Method == "Page.screencastFrame") {
    OnFrame(M.Params);
  } else if (M.Method == "Fetch.requestPaused") {
    OnRequest(M.Params);
  } else if (M.Method == "Runtime.exceptionThrown" || M.Method == "Runtime.consoleAPICalled") {
    // What the page or the emulator complains about, for the trace.
    const TJson* type = M.Params.Get("type");
    if (type && type->StringValue != "error" && type->StringValue != "warning") return;
    const TJson* args = M.Params.Get("args");
    const TJson* details = M.Params.Get("exceptionDetails");
    std::string text;
    if (args && !args->Items.empty())
      if (const TJson* v = args->Items[0].Get("value")) text = v->StringValue;
    if (details)
      if (const TJson* t = details->Get("text")) text = t->StringValue;
    if (details)
      if (const TJson* e = details->Get("exception"))
        if (const TJson* d = e->Get("description")) text += " " + d->StringValue;
    Trace("page says: " + text.substr(0, 500));
  } else if (M.Method == "Runtime.bindingCalled") {
    const TJson* name = M.Params.Get("name");
    const TJson* payload = M.Params.Get("payload");
    if (!name || name->StringValue != "plwsReport" || !payload) return;
    const auto report = ParseJson(payload->StringValue);
    const TJson* kind = report ? report->Get("kind") : nullptr;
    Trace("page reports " + payload->StringValue);
    if (kind && kind->StringValue == "loaded") FMovieStarted = true;
    if (!kind || kind->StringValue != "fscommand") return;
    const TJson* command = report->Get("command");
    const TJson* args = report->Get("args");
    if (FOnCommand)
      FOnCommand(Wide(command ? command->StringValue : ""), Wide(args ? args->StringValue : ""));
  }
}

void TBrowserPlayer::OnFrame(const TJson& Params) {
  const TJson* session = Params.Get("sessionId");
  if (session) FHost->Forget(FHost->Send("Page.screencastFrameAck", "{\"sessionId\":" + Number(session->NumberValue) + "}", FSession));
  const TJson* data = Params.Get("data");
  if (!data) return;
  const auto jpeg = Base64Decode(data->StringValue);
  if (!jpeg) return;
  IWICImagingFactory* const factory = FHost->ImagingFactory();
  std::vector<uint8_t> pixels;
  int w = 0, h = 0;
  if (!factory || !DecodePicture(factory, *jpeg, pixels, w, h)) return;
  {
    std::lock_guard<std::mutex> guard(FFrameLock);
    if (FFrame.empty() || w != FFrameW || h != FFrameH) Trace("frames now " + std::to_string(w) + "x" + std::to_string(h));
    if (FMovieStarted && FFramesSinceStart++ == 0) Trace("first frame of the movie");
    FFrame = std::move(pixels);
    FFrameW = w;
    FFrameH = h;
  }
  if (FWindow) InvalidateRect(FWindow.Get(), nullptr, FALSE);
}

// The page's requests: its own page, the emulator's files and the movie's
// folder, under its token; everything else fails.
void TBrowserPlayer::OnRequest(const TJson& Params) {
  const TJson* requestId = Params.Get("requestId");
  const TJson* request = Params.Get("request");
  const TJson* url = request ? request->Get("url") : nullptr;
  if (!requestId || !url) return;
  const std::string id = JsonString(requestId->StringValue);
  auto fail = [&] {
    FHost->Forget(FHost->Send("Fetch.failRequest", "{\"requestId\":" + id + ",\"errorReason\":\"BlockedByClient\"}",
                              FSession));
  };
  const std::string origin = kOrigin;
  if (url->StringValue.compare(0, origin.size(), origin) != 0) return Trace("blocked " + url->StringValue), fail();
  const auto target = StripRunToken(url->StringValue.substr(origin.size()), FToken);
  if (!target) return Trace("blocked " + url->StringValue), fail();
  const TRequestTarget t = ParseRequestTarget(*target);
  std::vector<uint8_t> owned;
  const std::vector<uint8_t>* body = nullptr;
  std::string type;
  if (t.Kind == TRequestTarget::Page) {
    owned.assign(FPage.begin(), FPage.end());
    body = &owned;
    type = "text/html; charset=utf-8";
  } else if (t.Kind == TRequestTarget::Ruffle && t.Segments.size() == 1) {
    const auto& files = EmulatorFiles();
    const auto it = files.find(t.Segments[0]);
    if (it != files.end()) body = &it->second, type = MimeTypeFor(t.Segments[0]);
  } else if (t.Kind == TRequestTarget::Movie && t.Segments.size() == 1) {
    // One plain name in the movie's folder: the movie, or a file it loads.
    const std::wstring name = Wide(t.Segments[0]);
    if (WideToAnsi(name) == FMovieName) {
      body = &FMovieBytes;
    } else if (!FMovieFolder.empty() && name.find_first_of(L"\\/:") == std::wstring::npos) {
      owned = ReadWholeFile(AnsiToWide(FMovieFolder) + name);
      if (!owned.empty()) body = &owned;
    }
    type = MimeTypeFor(t.Segments[0]);
  }
  Trace(std::string(body ? "served " : "refused ") + *target);
  if (!body) {
    FHost->Forget(FHost->Send("Fetch.fulfillRequest", "{\"requestId\":" + id + ",\"responseCode\":404,\"body\":\"\"}",
                              FSession));
    return;
  }
  std::string params = "{\"requestId\":" + id +
                       ",\"responseCode\":200,\"responseHeaders\":[{\"name\":\"Content-Type\",\"value\":" +
                       JsonString(type) + "},{\"name\":\"Cache-Control\",\"value\":\"no-store\"}],\"body\":\"";
  params += Base64Encode(body->data(), body->size());
  params += "\"}";
  FHost->Forget(FHost->Send("Fetch.fulfillRequest", params, FSession));
}

// ---- the player's window ----------------------------------------------------------------

LRESULT CALLBACK TBrowserPlayer::WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) noexcept {
  auto* self = reinterpret_cast<TBrowserPlayer*>(GetWindowLongPtrW(Wnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(Wnd, Msg, WParam, LParam);
  try {
    return self->Handle(Msg, WParam, LParam);
  } catch (const std::exception& e) {
    Trace(std::string("failed: ") + e.what());
    return 0;
  } catch (...) {
    return 0;
  }
}

void TBrowserPlayer::SendMouse(const char* Type, LPARAM Point, const char* Button, int ClickCount, int WheelDelta) {
  if (!FLoaded) return;
  RECT client{};
  GetClientRect(FWindow.Get(), &client);
  int frameW, frameH;
  {
    std::lock_guard<std::mutex> guard(FFrameLock);
    frameW = FFrameW ? FFrameW : FPageW;
    frameH = FFrameH ? FFrameH : FPageH;
  }
  const TFrameRect fit = FitFrame(frameW, frameH, client.right, client.bottom, FShowAll);
  double x = 0, y = 0;
  WindowToPage(fit, FPageW, FPageH, static_cast<short>(LOWORD(Point)), static_cast<short>(HIWORD(Point)), x, y);
  std::string p = std::string("{\"type\":\"") + Type + "\",\"x\":" + Number(x) + ",\"y\":" + Number(y);
  if (Button) p += std::string(",\"button\":\"") + Button + "\",\"clickCount\":" + std::to_string(ClickCount);
  // The buttons held after this event, as the page's pointer events carry
  // them: the browser drops a move or press whose state does not add up.
  const bool pressed = std::strcmp(Type, "mousePressed") == 0;
  if (Button || std::strcmp(Type, "mouseMoved") == 0)
    p += ",\"buttons\":" + std::string(!pressed ? "0" : std::strcmp(Button, "left") == 0 ? "1" : std::strcmp(Button, "right") == 0 ? "2" : "4");
  if (WheelDelta) p += ",\"deltaX\":0,\"deltaY\":" + std::to_string(-WheelDelta);
  p += "}";
  Trace(std::string("input ") + p);
  FHost->Forget(FHost->Send("Input.dispatchMouseEvent", p, FSession));
}

LRESULT TBrowserPlayer::Handle(UINT Msg, WPARAM WParam, LPARAM LParam) {
  HWND wnd = FWindow.Get();
  switch (Msg) {
    case WM_TIMER:
      if (WParam != kTickTimer) break;
      FTimerReached = true;
      if (FLoadPending) Load();
      else SetPaused(false);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_LBUTTONDOWN: case WM_RBUTTONDOWN: case WM_MBUTTONDOWN: {
      const char* button = Msg == WM_LBUTTONDOWN ? "left" : Msg == WM_RBUTTONDOWN ? "right" : "middle";
      // The press lands where it was made: the pointer goes there first,
      // as it would have by moving.
      SendMouse("mouseMoved", LParam, nullptr, 0);
      SendMouse("mousePressed", LParam, button, 1);
      return 0;
    }
    case WM_LBUTTONUP: case WM_RBUTTONUP: case WM_MBUTTONUP: {
      const char* button = Msg == WM_LBUTTONUP ? "left" : Msg == WM_RBUTTONUP ? "right" : "middle";
      SendMouse("mouseReleased", LParam, button, 1);
      return 0;
    }
    case WM_MOUSEWHEEL: {
      POINT pt{static_cast<short>(LOWORD(LParam)), static_cast<short>(HIWORD(LParam))};
      ScreenToClient(wnd, &pt);
      SendMouse("mouseWheel", MAKELPARAM(pt.x, pt.y), nullptr, 0, GET_WHEEL_DELTA_WPARAM(WParam));
      return 0;
    }
    case WM_KEYDOWN: case WM_KEYUP: {
      if (!FLoaded) return 0;
      const std::string p =
          KeyEventParams(static_cast<unsigned>(WParam), Msg == WM_KEYDOWN, (GetKeyState(VK_SHIFT) & 0x8000) != 0);
      if (!p.empty()) FHost->Forget(FHost->Send("Input.dispatchKeyEvent", p, FSession));
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(wnd, Msg, WParam, LParam);
}

// The newest frame where the scale rule puts it; the rest in the
// background colour (the one put, else the movie's own, else black).
void TBrowserPlayer::Paint() {
  HWND wnd = FWindow.Get();
  TPaintScope paint(wnd);
  RECT client{};
  GetClientRect(wnd, &client);
  const int color = FBackgroundColor >= 0 ? FBackgroundColor : FMovieBackground >= 0 ? FMovieBackground : 0;
  TUniqueGdiObject brush(CreateSolidBrush(RGB(color >> 16 & 0xFF, color >> 8 & 0xFF, color & 0xFF)));
  std::lock_guard<std::mutex> guard(FFrameLock);
  if (FFrame.empty()) {
    FillRect(paint.Dc(), &client, static_cast<HBRUSH>(brush.Get()));
    return;
  }
  const TFrameRect fit = FitFrame(FFrameW, FFrameH, client.right, client.bottom, FShowAll);
  if (FFramesSinceStart > FPaintedFrames) {
    FPaintedFrames = FFramesSinceStart;
    // What the user sees, now and then: the colour at the frame's centre,
    // so a trace tells a black or wrong picture from a missing one.
    if (FPaintsSinceStart++ % 30 == 0) {
      const uint8_t* centre = &FFrame[(static_cast<size_t>(FFrameH / 2) * FFrameW + FFrameW / 2) * 4];
      char rgb[8];
      std::snprintf(rgb, sizeof rgb, "%02X%02X%02X", centre[2], centre[1], centre[0]);
      Trace("painted frame " + std::to_string(FPaintedFrames) + ": " + std::to_string(fit.Width) + "x" +
            std::to_string(fit.Height) + ", centre " + rgb);
    }
  }
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
  bmi.bmiHeader.biWidth = FFrameW;
  bmi.bmiHeader.biHeight = -FFrameH;  // top-down
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  // Nearest pixels: the frames are scaled up and soft already, and the
  // filtered mode costs more than decoding them.
  SetStretchBltMode(paint.Dc(), COLORONCOLOR);
  StretchDIBits(paint.Dc(), fit.Left, fit.Top, fit.Width, fit.Height, 0, 0, FFrameW, FFrameH, FFrame.data(), &bmi,
                DIB_RGB_COLORS, SRCCOPY);
  const RECT bars[] = {{0, 0, client.right, fit.Top},
                       {0, fit.Top + fit.Height, client.right, client.bottom},
                       {0, fit.Top, fit.Left, fit.Top + fit.Height},
                       {fit.Left + fit.Width, fit.Top, client.right, fit.Top + fit.Height}};
  for (const RECT& r : bars)
    if (r.right > r.left && r.bottom > r.top) FillRect(paint.Dc(), &r, static_cast<HBRUSH>(brush.Get()));
}
