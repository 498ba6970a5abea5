#include "tests/web/recording_server_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace quillmere::testing {
namespace {

constexpr std::size_t kMaxHead = 64 * 1024;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int BoundSocket() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address = Loopback(0);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    throw std::runtime_error("bind failed");
  }
  return fd;
}

int PortOf(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// Parses the head (request line and header lines, the blank line included) into `request`.
void ParseHead(std::string_view head, RecordedRequest& request) {
  request.head = head;
  std::size_t lineEnd = head.find("\r\n");
  std::string_view requestLine = head.substr(0, lineEnd);
  std::size_t firstSpace = requestLine.find(' ');
  std::size_t lastSpace = requestLine.rfind(' ');
  request.method = requestLine.substr(0, firstSpace);
  if (firstSpace != std::string_view::npos && lastSpace > firstSpace) {
    request.target = requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1);
  }
  std::size_t position = lineEnd + 2;
  while (position < head.size()) {
    std::size_t end = head.find("\r\n", position);
    if (end == std::string_view::npos || end == position) break;
    std::string_view line = head.substr(position, end - position);
    std::size_t colon = line.find(':');
    if (colon != std::string_view::npos) {
      request.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }
    position = end + 2;
  }
}

}  // namespace

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

std::vector<std::string> RecordedRequest::HeaderNames() const {
  std::vector<std::string> names;
  for (const auto& header : headers) names.push_back(header.first);
  return names;
}

std::string HttpResponse(const RecordedRequest& request, int status, std::string_view headerLines,
                         std::string_view body) {
  std::string response = "HTTP/1.1 " + std::to_string(status) + " Canned\r\n";
  response += headerLines;
  if (std::string(headerLines).find("Content-Length:") == std::string::npos) {
    response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  }
  response += "\r\n";
  if (request.method != "HEAD") response += body;
  return response;
}

RecordingServer::RecordingServer(Responder responder) : responder_(std::move(responder)) {
  if (pipe2(wakeFds_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  listenFd_ = BoundSocket();
  if (listen(listenFd_, 64) != 0) throw std::runtime_error("listen failed");
  port_ = PortOf(listenFd_);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

RecordingServer::~RecordingServer() {
  char wake = 1;
  (void)!write(wakeFds_[1], &wake, 1);  // never read, so every later poll sees it too
  acceptThread_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(connectionThreads_);
  }
  for (std::thread& thread : threads) thread.join();
  close(listenFd_);
  close(wakeFds_[0]);
  close(wakeFds_[1]);
}

std::string RecordingServer::Url(std::string_view path) const {
  return "http://" + HostPort() + std::string(path);
}

std::string RecordingServer::HostPort() const {
  return "127.0.0.1:" + std::to_string(port_);
}

void RecordingServer::SetResponder(Responder responder) {
  std::lock_guard lock(mutex_);
  responder_ = std::move(responder);
}

std::vector<RecordedRequest> RecordingServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

int RecordingServer::Connections() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

bool RecordingServer::WaitForClientCloses(int count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return clientClosed_.wait_for(lock, limit, [&] { return clientCloses_ >= count; });
}

bool RecordingServer::WaitReadable(int fd) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
  while (true) {
    int ready = poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (fds[1].revents & POLLIN) != 0) return false;  // stopping
    if (fds[0].revents != 0) return true;
  }
}

void RecordingServer::AcceptLoop() {
  while (WaitReadable(listenFd_)) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    ++connections_;
    connectionThreads_.emplace_back([this, fd] {
      bool closedByClient = Serve(fd);
      close(fd);
      if (!closedByClient) return;
      std::lock_guard closedLock(mutex_);
      ++clientCloses_;
      clientClosed_.notify_all();
    });
  }
}

bool RecordingServer::Serve(int fd) {
  std::string buffer;
  char chunk[4096];
  bool closedByClient = false;
  auto readMore = [&] {
    if (!WaitReadable(fd)) return false;
    ssize_t got = read(fd, chunk, sizeof chunk);
    closedByClient = got == 0;
    if (got <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(got));
    return true;
  };
  while (true) {
    std::size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (buffer.size() > kMaxHead || !readMore()) return closedByClient;
    }
    RecordedRequest request;
    ParseHead(std::string_view(buffer).substr(0, headEnd + 4), request);
    buffer.erase(0, headEnd + 4);
    std::size_t bodyLength = 0;
    if (auto length = request.Header("Content-Length")) {
      bodyLength = std::strtoul(length->c_str(), nullptr, 10);
    }
    while (buffer.size() < bodyLength) {
      if (!readMore()) return closedByClient;
    }
    request.body = buffer.substr(0, bodyLength);
    buffer.erase(0, bodyLength);

    Responder responder;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
      responder = responder_;
    }
    std::optional<std::string> response =
        responder ? responder(request) : HttpResponse(request, 200, "");
    if (!response) {
      // Never answer: wait, silent, until the client closes or the server stops.
      while (readMore()) {
      }
      return closedByClient;
    }
    std::string_view rest = *response;
    while (!rest.empty()) {
      ssize_t sent = send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
      if (sent <= 0) return false;
      rest.remove_prefix(static_cast<std::size_t>(sent));
    }
    if (response->find("Connection: close\r\n") != std::string::npos) return false;
  }
}

RefusingPort::RefusingPort() : fd_(BoundSocket()), port_(PortOf(fd_)) {}

RefusingPort::~RefusingPort() {
  close(fd_);
}

std::string RefusingPort::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

}  // namespace quillmere::testing
