// The local server of a run (see TServer): POSIX sockets, a thread per
// connection.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tools/plws/play_posix.h"
#include "tools/plws/plws.h"
#include "util/utils.h"

namespace fs = std::filesystem;

namespace {

bool SendAll(int Fd, const char* Data, size_t Size) {
  while (Size) {
    const ssize_t n = send(Fd, Data, Size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    Data += n;
    Size -= static_cast<size_t>(n);
  }
  return true;
}

// Sends the answer's head, and Body unless HeadOnly; Length is the body's
// full length, also when the body follows separately.
bool Respond(int Fd, int Status, const std::string& Type, const std::string& Body, bool HeadOnly, size_t Length) {
  static const std::map<int, const char*> kReasons = {
      {200, "OK"}, {204, "No Content"}, {400, "Bad Request"}, {403, "Forbidden"}, {404, "Not Found"},
      {405, "Method Not Allowed"}, {431, "Request Header Fields Too Large"}, {500, "Internal Server Error"}};
  std::string head = "HTTP/1.1 " + std::to_string(Status) + " " + kReasons.at(Status) + "\r\n";
  if (!Type.empty()) head += "Content-Type: " + Type + "\r\n";
  if (Status != 204) head += "Content-Length: " + std::to_string(Length) + "\r\n";
  head += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";
  if (!HeadOnly) head += Body;
  return SendAll(Fd, head.data(), head.size());
}

// An answer without content of its own: the status and its number.
int Plain(int Fd, int Status, bool HeadOnly) {
  const std::string body = std::to_string(Status) + "\n";
  Respond(Fd, Status, "text/plain", body, HeadOnly, body.size());
  return Status;
}

// A regular file (never through a link) and its status.
int ServeFile(int Fd, const std::string& Path, bool HeadOnly) {
  const TUniqueFd file(open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!file) return Plain(Fd, 404, HeadOnly);
  struct stat st {};
  if (fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return Plain(Fd, 404, HeadOnly);
  Respond(Fd, 200, MimeTypeFor(Path), "", HeadOnly, static_cast<size_t>(st.st_size));
  if (!HeadOnly) {
    char buf[65536];
    ssize_t n;
    while ((n = read(file.Get(), buf, sizeof buf)) > 0)
      if (!SendAll(Fd, buf, static_cast<size_t>(n))) break;
  }
  return 200;
}

}  // namespace

std::string MakeRunToken() {
  uint8_t bytes[16];
  for (size_t done = 0; done < sizeof bytes;) {
    const ssize_t n = getrandom(bytes + done, sizeof bytes - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EPlwsError(std::string("no random bytes for the server's token: ") + std::strerror(errno));
    done += static_cast<size_t>(n);
  }
  std::string token;
  for (uint8_t b : bytes) token += HexByte(b, false);
  return token;
}

void TServer::Start() {
  std::error_code ec;
  FServedReal = fs::canonical(FServedDir, ec).string();
  if (ec) throw EPlwsError(FServedDir + ": " + ec.message());
  FListen.Reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!FListen) throw EPlwsError(std::string("cannot make a socket: ") + std::strerror(errno));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;  // any free port
  socklen_t len = sizeof a;
  if (bind(FListen.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(FListen.Get(), 64) != 0 ||
      getsockname(FListen.Get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
    throw EPlwsError(std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno));
  FHost = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
  if (!OpenPipe(FWake, O_CLOEXEC)) throw EPlwsError(std::string("pipe: ") + std::strerror(errno));
  FThread = std::thread([this] {
    try {
      AcceptLoop();
    } catch (const std::exception& e) {
      FLog.Line("the server stopped: " + std::string(e.what()));
    }
  });
}

void TServer::Stop() {
  if (FThread.joinable()) {
    FStopping = true;
    (void)!write(FWake[1].Get(), "x", 1);
    FThread.join();
    for (auto& c : FConnections) shutdown(c->Fd.Get(), SHUT_RDWR);
    for (auto& c : FConnections) c->Thread.join();
    FConnections.clear();
  }
  for (TUniqueFd* fd : {&FListen, &FWake[0], &FWake[1]}) fd->Reset();
}

void TServer::AcceptLoop() {
  while (!FStopping) {
    // While every slot is taken, new connections wait in the listen queue.
    const bool full = FConnections.size() >= kMaxConnections;
    pollfd p[2] = {{FWake[0].Get(), POLLIN, 0}, {FListen.Get(), POLLIN, 0}};
    const int r = poll(p, full ? 1 : 2, full ? 50 : 1000);
    Reap();
    std::swap(p[0], p[1]);
    if (r < 0 && errno != EINTR) break;
    if (p[1].revents) break;
    if (!(p[0].revents & POLLIN)) continue;
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    TUniqueFd fd(accept4(FListen.Get(), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC));
    if (!fd) continue;
    char address[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    const std::string peerText = std::string(address) + ":" + std::to_string(ntohs(peer.sin_port));
    auto connection = std::make_unique<TConnection>();
    TConnection* c = connection.get();
    c->Fd = std::move(fd);
    c->Thread = std::thread([this, c, peerText] {
      try {
        Handle(c->Fd.Get(), peerText);
      } catch (const std::exception& e) {
        FLog.Line("server: " + std::string(e.what()));
      }
      // The answer is complete: tell the client now; the descriptor is
      // closed when the thread is reaped.
      shutdown(c->Fd.Get(), SHUT_RDWR);
      c->Done = true;
    });
    FConnections.push_back(std::move(connection));
  }
}

void TServer::Reap() {
  for (auto it = FConnections.begin(); it != FConnections.end();) {
    if ((*it)->Done) {
      (*it)->Thread.join();
      it = FConnections.erase(it);
    } else {
      ++it;
    }
  }
}

// The extracted file a request names, only when it really lies inside the
// served folder; empty otherwise.
std::string TServer::InsideServed(const std::vector<std::string>& Segments) {
  fs::path p = FServedDir;
  for (const auto& s : Segments) p /= s;
  std::error_code ec;
  const std::string real = fs::canonical(p, ec).string();
  if (ec || real.size() <= FServedReal.size() || real.compare(0, FServedReal.size(), FServedReal) != 0 ||
      real[FServedReal.size()] != '/')
    return "";
  return real;
}

void TServer::Handle(int Fd, const std::string& Peer) {
  timeval receive{10, 0}, sendTimeout{30, 0};
  setsockopt(Fd, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof receive);
  setsockopt(Fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
  std::string request;
  char buf[4096];
  while (request.find("\r\n\r\n") == std::string::npos) {
    if (request.size() > 16384) {
      Plain(Fd, 431, false);
      FLog.Line("request from " + Peer + " refused: headers too large");
      return;
    }
    const ssize_t n = recv(Fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // an idle or closed connection: nothing asked
    request.append(buf, static_cast<size_t>(n));
  }
  const std::string head = request.substr(0, request.find("\r\n\r\n"));
  const size_t lineEnd = head.find("\r\n");
  const std::string line = head.substr(0, lineEnd);
  const size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
  std::string method, target, host;
  if (sp1 != std::string::npos && sp2 > sp1) {
    method = line.substr(0, sp1);
    target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  }
  for (size_t pos = lineEnd; pos != std::string::npos && pos < head.size();) {
    const size_t next = head.find("\r\n", pos + 2);
    const std::string h = head.substr(pos + 2, next == std::string::npos ? std::string::npos : next - pos - 2);
    if (h.size() > 5 && strncasecmp(h.c_str(), "host:", 5) == 0) {
      host = h.substr(5);
      host.erase(0, host.find_first_not_of(" \t"));
      host.erase(host.find_last_not_of(" \t") + 1);
    }
    pos = next;
  }
  const bool headOnly = method == "HEAD";
  int status = 0;
  if (method.empty() || target.empty()) {
    status = Plain(Fd, 400, false);
  } else if (host != FHost) {
    // Only pages of this server may talk to it, not one that a foreign
    // name was made to resolve to this address.
    status = Plain(Fd, 403, headOnly);
  } else if (method != "GET" && method != "HEAD") {
    status = Plain(Fd, 405, false);
  } else if (const auto inRun = StripRunToken(target, FToken); !inRun) {
    // Without the token nothing is served and nothing reported: the run goes on.
    status = Plain(Fd, 403, headOnly);
  } else {
    const TRequestTarget t = ParseRequestTarget(*inRun);
    switch (t.Kind) {
      case TRequestTarget::Page:
        status = 200;
        Respond(Fd, 200, "text/html; charset=utf-8", FPage, headOnly, FPage.size());
        break;
      case TRequestTarget::Event: {
        const auto kind = t.Query.find("kind");
        if (kind == t.Query.end()) {
          status = Plain(Fd, 400, headOnly);
          break;
        }
        FEvents.Push({kind->second, t.Query});
        status = 204;
        Respond(Fd, 204, "", "", true, 0);
        break;
      }
      case TRequestTarget::Ruffle:
        status = t.Segments[0][0] == '.' ? Plain(Fd, 404, headOnly)
                                         : ServeFile(Fd, FRuffleDir + "/" + t.Segments[0], headOnly);
        break;
      case TRequestTarget::Movie: {
        const std::string path = InsideServed(t.Segments);
        status = path.empty() ? Plain(Fd, 404, headOnly) : ServeFile(Fd, path, headOnly);
        break;
      }
      case TRequestTarget::Bad: status = Plain(Fd, 400, headOnly); break;
      case TRequestTarget::NotFound: status = Plain(Fd, 404, headOnly); break;
    }
  }
  FLog.Line("request from " + Peer + " for host " + Printable(host, 80) + ": " + Printable(method, 16) + " " +
            Printable(target) + " -> " + std::to_string(status));
}
