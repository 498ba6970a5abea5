// Run-log appends per second against a clock server on loopback, beside the rate of serial HEAD
// requests to the same server made as the network clock makes them (WebRequest, a new request
// object and so a new connection each): an append costs one such request plus its file work,
// which should take little from that rate. For scale it also measures bare HEAD requests written
// on a plain socket, a new connection each: the floor of the network round trip alone.
//
//   run_log_bench --clock-url http://127.0.0.1:PORT/ [--seconds S] [--rounds R] [--tsv]
//
// Each round measures the rates one after the other for S seconds each; the median of the
// rounds is printed, or with --tsv only the three medians (bare, clock HEAD, appends) on one
// line, tab-separated, for run_log_bench.sh to set beside its other figures. The run log goes
// to a temporary directory, removed at the end.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "runlog/run_log.h"
#include "web/http_request_object.h"
#include "web/web_request.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Target {
  std::string host;
  int port = 80;
};

// "http://127.0.0.1:8080/" -> {127.0.0.1, 8080}. Only literal IPv4 addresses are taken.
bool ParseUrl(const std::string& url, Target& target) {
  const std::string scheme = "http://";
  if (url.rfind(scheme, 0) != 0) return false;
  std::string rest = url.substr(scheme.size());
  rest = rest.substr(0, rest.find('/'));
  std::size_t colon = rest.find(':');
  target.host = rest.substr(0, colon);
  if (colon != std::string::npos) target.port = std::atoi(rest.c_str() + colon + 1);
  return !target.host.empty() && target.port > 0;
}

// One HEAD request on a new connection, read up to the end of the response head, then closed
// by the client, as libcurl does. False on any failure.
bool BareHead(const Target& target, const std::string& request) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(target.port));
  inet_pton(AF_INET, target.host.c_str(), &address.sin_addr);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                static_cast<ssize_t>(request.size());
  std::string response;
  char buffer[4096];
  while (ok && response.find("\r\n\r\n") == std::string::npos) {
    ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0)
      ok = false;
    else
      response.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return ok && response.find("\r\nDate: ") != std::string::npos;
}

// Calls `once` for `seconds` and gives the calls per second; -1 when a call failed.
double Rate(double seconds, const std::function<bool()>& once) {
  long calls = 0;
  Clock::time_point start = Clock::now();
  Clock::time_point end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  Clock::time_point now;
  do {
    if (!once()) return -1;
    ++calls;
    now = Clock::now();
  } while (now < end);
  return calls / std::chrono::duration<double>(now - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::string url;
  double seconds = 3;
  int rounds = 3;
  bool tsv = false;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--tsv") {
      tsv = true;
      continue;
    }
    if (i + 1 == argc) break;
    if (option == "--clock-url")
      url = argv[++i];
    else if (option == "--seconds")
      seconds = std::atof(argv[++i]);
    else if (option == "--rounds")
      rounds = std::max(1, std::atoi(argv[++i]));
  }
  Target target;
  if (!ParseUrl(url, target) || seconds <= 0) {
    std::fprintf(stderr,
                 "usage: %s --clock-url http://IP:PORT/ [--seconds S] [--rounds R] [--tsv]\n",
                 argv[0]);
    return 2;
  }
  quillmere::StartWebClient();

  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "quillmere-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  const fs::path directory = pattern;
  quillmere::StartRunLog({.directory = directory.string(), .clockUrl = url});

  const std::string request = "HEAD / HTTP/1.1\r\nHost: " + target.host + ":" +
                              std::to_string(target.port) + "\r\nAccept: */*\r\n\r\n";
  long appends = 0;
  std::vector<double> bare, head, append;
  for (int round = 0; round < rounds; ++round) {
    bare.push_back(Rate(seconds, [&] { return BareHead(target, request); }));
    head.push_back(Rate(seconds, [&] {
      quillmere::WebResponse response =
          quillmere::WebRequest(url, {.method = quillmere::RequestMethod::kHead});
      return response.headers.find("Date: ") != std::string::npos;
    }));
    append.push_back(Rate(seconds, [&] {
      quillmere::AppendRunLog("benchmark message");
      ++appends;
      return true;
    }));
  }

  // Every append must have left its line.
  std::ifstream log(directory / std::string(quillmere::kRunLogFileName), std::ios::binary);
  long lines = 0;
  for (std::string line; std::getline(log, line);) ++lines;
  fs::remove_all(directory);
  if (Median(bare) < 0 || Median(head) < 0 || lines != appends) {
    std::fprintf(stderr, "failed: bare %.0f, head %.0f, %ld lines for %ld appends\n", Median(bare),
                 Median(head), lines, appends);
    return 1;
  }

  const double peer = Median(head);
  if (tsv) {
    std::printf("%.0f\t%.0f\t%.0f\n", Median(bare), peer, Median(append));
    return 0;
  }
  std::printf("HEAD as the clock makes it (WebRequest): %8.0f /s\n", peer);
  std::printf(
      "AppendRunLog:                            %8.0f /s  (%.0f%% of the clock's HEAD, "
      "target >= 80%%)\n",
      Median(append), 100 * Median(append) / peer);
  std::printf("bare HEAD on a plain socket (floor):     %8.0f /s  (appends at %.0f%% of it)\n",
              Median(bare), 100 * Median(append) / Median(bare));
  return 0;
}
