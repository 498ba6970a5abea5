// Opens N keep-alive connections to 127.0.0.1:port, sends one small POST on each, reads its
// answer, and then keeps them all open and idle until stdin closes or a signal arrives.
//
//   hpsocket_idle_clients <port> <connections>
//
// Prints "OPEN <n>" once every connection has had its answer (n may be less when connects fail).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s port connections\n", argv[0]);
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const int count = std::atoi(argv[2]);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string request =
      "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5\r\n\r\nhello";

  std::vector<int> fds;
  for (int i = 0; i < count; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      std::perror("connect");
      if (fd >= 0) ::close(fd);
      break;
    }
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
      ::close(fd);
      break;
    }
    // Read the answer (it ends with the 5-byte echo).
    std::string got;
    char buffer[1024];
    while (got.size() < 5 || got.compare(got.size() - 5, 5, "hello") != 0) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) break;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
    fds.push_back(fd);
  }
  std::printf("OPEN %zu\n", fds.size());
  std::fflush(stdout);
  char c;
  while (::read(0, &c, 1) > 0) {
  }
  for (int fd : fds) ::close(fd);
  return 0;
}
