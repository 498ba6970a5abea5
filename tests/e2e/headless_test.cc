// The whole program, headless, talking to a real client over loopback: each test starts its own
// quillmere on a port the system chooses, with a clock server in the test process, and ends it
// with SIGTERM, which must tear down cleanly (exit 0, nothing on standard error; the sanitizer
// builds report there).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/quillmere_process.h"

namespace quillmere::e2e {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// 你 in UTF-8 (as standard output shows it) and in GBK (as the program answers and logs it).
constexpr std::string_view kNiUtf8 = "\xE4\xBD\xA0";
constexpr std::string_view kNiGbk = "\xC4\xE3";

// The answer the program gives to every request but HEAD and upgrades.
std::string Answer(std::string_view body, std::string_view connection = "keep-alive") {
  return "HTTP/1.1 200 OK\r\nAccept: text/plain, text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: " + std::string(connection) + "\r\n\r\n" +
         std::string(body);
}

std::string Get(std::string_view target, std::string_view extraHeaders = {}) {
  return "GET " + std::string(target) + " HTTP/1.1\r\nHost: quillmere\r\n" +
         std::string(extraHeaders) + "\r\n";
}

std::string Post(std::string_view body, std::string_view extraHeaders = {}) {
  return "POST /msg HTTP/1.1\r\nHost: quillmere\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n" + std::string(extraHeaders) + "\r\n" + std::string(body);
}

// One run-log line stamped by the test's clock server.
std::string LogLine(std::string_view message) {
  return std::string(ClockServer::kClockUnixTime) + "=" + std::string(message) + "\r\n";
}

class Headless : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = std::make_unique<QuillmereProcess>(std::vector<std::string>{
        "--headless", "--bind", "127.0.0.1", "--port", "0", "--clock-url", clock_.Url()});
    port_ = program_->WaitUntilListening();
    ASSERT_NE(port_, 0) << program_->Stderr();
  }

  void TearDown() override {
    if (!program_) return;
    EXPECT_EQ(program_->Stop(SIGTERM), 0) << program_->Stderr();
    EXPECT_EQ(program_->Stderr(),
              "quillmere: listening on 127.0.0.1:" + std::to_string(port_) + "\n")
        << "nothing but the listening line on standard error";
  }

  // Sends `request` on a new connection and gives the raw answer ("" when there is none).
  std::string Ask(std::string_view request, bool toHead = false) {
    Connection connection(port_);
    EXPECT_TRUE(connection.Send(request));
    const std::optional<Response> response = connection.ReadResponse(toHead);
    return response ? response->raw() : "";
  }

  ClockServer clock_;
  std::unique_ptr<QuillmereProcess> program_;
  std::uint16_t port_ = 0;
};

TEST_F(Headless, GetShowsLogsAndAnswersTheLastPathSegment) {
  struct Case {
    std::string target;
    std::string message;  // GBK: the answer's body and the run log's message
    std::string line;     // UTF-8: the line on standard output
  };
  const std::vector<Case> cases = {
      {"/hello", "hello", "hello"},
      // Decoded before it is cut: %2F separates like "/".
      {"/a/b%2Fc", "c", "c"},
      // Nothing after the last "/": an empty line, an empty message, still logged.
      {"/", "", ""},
      // The query is not part of the path.
      {"/x?y=1", "x", "x"},
      // UTF-8 on the wire, GBK in the answer and the log, UTF-8 again on standard output.
      {"/%E4%BD%A0", std::string(kNiGbk), std::string(kNiUtf8)},
  };
  std::string log;
  std::vector<std::string> lines;
  for (const Case& c : cases) {
    EXPECT_EQ(Ask(Get(c.target)), Answer(c.message)) << c.target;
    log += LogLine(c.message);
    lines.push_back(c.line);
    // The line is in the file before the answer goes out.
    EXPECT_EQ(program_->RunLog(), log) << c.target;
  }
  ASSERT_TRUE(program_->WaitForLines(lines.size()));
  EXPECT_THAT(program_->Lines(), ElementsAreArray(lines));
  EXPECT_EQ(clock_.Requests(), static_cast<int>(cases.size())) << "one clock request per line";
}

TEST_F(Headless, PostShowsAndAnswersTheDecodedBodyWithoutLogging) {
  struct Case {
    std::string request;
    std::string message;
  };
  const std::vector<Case> cases = {
      {Post("a%20b"), "a b"},
      // "+" stays a plus sign.
      {Post("a+b"), "a+b"},
      // Only what comes before a zero byte counts.
      {Post(std::string("ab\0cd", 5)), "ab"},
      // A chunked body is collected from its chunks.
      {"POST /msg HTTP/1.1\r\nHost: q\r\nTransfer-Encoding: chunked\r\n\r\n"
       "3\r\na%2\r\n2\r\n0b\r\n0\r\n\r\n",
       "a b"},
      // Not cut at "/".
      {Post("dir%2Fname/x"), "dir/name/x"},
  };
  std::vector<std::string> lines;
  for (const Case& c : cases) {
    EXPECT_EQ(Ask(c.request), Answer(c.message)) << c.request;
    lines.push_back(c.message);
  }
  ASSERT_TRUE(program_->WaitForLines(lines.size()));
  EXPECT_THAT(program_->Lines(), ElementsAreArray(lines));
  EXPECT_FALSE(program_->HasRunLog()) << "POST messages are not logged";
}

TEST_F(Headless, HeadIsAnsweredWithoutBodyOrLine) {
  Connection connection(port_);
  ASSERT_TRUE(connection.Send("HEAD /hello HTTP/1.1\r\nHost: q\r\n\r\n" + Post("after")));
  const std::optional<Response> head = connection.ReadResponse(/*toHead=*/true);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->raw(), Answer(""));
  const std::optional<Response> post = connection.ReadResponse();
  ASSERT_TRUE(post) << "no stray body bytes came between the two answers";
  EXPECT_EQ(post->raw(), Answer("after"));
  ASSERT_TRUE(program_->WaitForLines(1));
  EXPECT_THAT(program_->Lines(), ElementsAre("after"));
  EXPECT_FALSE(program_->HasRunLog());
}

TEST_F(Headless, OtherMethodsGetAnEmptyAnswerAndTheirBodyIsConsumed) {
  Connection connection(port_);
  ASSERT_TRUE(
      connection.Send("PUT /msg HTTP/1.1\r\nHost: q\r\nContent-Length: 4\r\n\r\ndata"
                      "DELETE /msg HTTP/1.1\r\nHost: q\r\n\r\n" +
                      Post("next")));
  for (const std::string& expected : {Answer(""), Answer(""), Answer("next")}) {
    const std::optional<Response> response = connection.ReadResponse();
    ASSERT_TRUE(response);
    EXPECT_EQ(response->raw(), expected);
  }
  ASSERT_TRUE(program_->WaitForLines(3));
  EXPECT_THAT(program_->Lines(), ElementsAre("", "", "next"))
      << "the POST after the PUT starts with an empty body";
}

TEST_F(Headless, KeepAliveConnectionCarriesOneRequestAfterAnother) {
  Connection connection(port_);
  ASSERT_TRUE(connection.Send(Get("/one")));
  const std::optional<Response> first = connection.ReadResponse();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->raw(), Answer("one"));
  ASSERT_TRUE(connection.Send(Post("two")));
  const std::optional<Response> second = connection.ReadResponse();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->raw(), Answer("two"));
  EXPECT_EQ(program_->RunLog(), LogLine("one"));
}

TEST_F(Headless, ConnectionCloseIsAnsweredAndThenClosed) {
  for (const std::string& request :
       {Get("/bye", "Connection: close\r\n"), Post("bye", "Connection: close\r\n"),
        std::string("GET /bye HTTP/1.0\r\n\r\n")}) {
    Connection connection(port_);
    ASSERT_TRUE(connection.Send(request));
    std::string rest;
    ASSERT_TRUE(connection.WaitForClose(&rest)) << request;
    EXPECT_EQ(rest, Answer("bye", "close")) << request;
  }
}

TEST_F(Headless, PipelinedRequestsAreAnsweredInOrder) {
  Connection connection(port_);
  // The GET waits for the clock while the POSTs behind it are already in.
  ASSERT_TRUE(connection.Send(Get("/first") + Post("second") + Get("/third") + Post("fourth") +
                              Get("/fifth", "Connection: close\r\n")));
  std::string rest;
  ASSERT_TRUE(connection.WaitForClose(&rest));
  EXPECT_EQ(rest, Answer("first") + Answer("second") + Answer("third") + Answer("fourth") +
                      Answer("fifth", "close"));
  EXPECT_EQ(program_->RunLog(), LogLine("first") + LogLine("third") + LogLine("fifth"));
  ASSERT_TRUE(program_->WaitForLines(5));
  EXPECT_THAT(program_->Lines(), ElementsAre("first", "second", "third", "fourth", "fifth"));
}

TEST_F(Headless, UpgradeTurnsTheConnectionIntoAnEcho) {
  Connection connection(port_);
  ASSERT_TRUE(connection.Send(
      "GET /chat HTTP/1.1\r\nHost: q\r\nUpgrade: foo\r\nConnection: upgrade\r\n\r\n"));
  ASSERT_TRUE(connection.Send("ping"));
  EXPECT_EQ(connection.Read(4), "ping") << "no HTTP answer, just the echo";
  ASSERT_TRUE(connection.Send(std::string("\0\xFF raw", 6)));
  EXPECT_EQ(connection.Read(6), std::string("\0\xFF raw", 6));
  ASSERT_TRUE(program_->WaitForLines(2));
  // The first connection of the run is #1.
  EXPECT_THAT(program_->Lines(), ElementsAre(" > [http,#1,OnReceive] ->(4bytes)",
                                             " > [http,#1,OnReceive] ->(6bytes)"));
  EXPECT_FALSE(program_->HasRunLog());
}

TEST_F(Headless, MalformedRequestIsReportedAndTheServerGoesOn) {
  {
    Connection connection(port_);
    ASSERT_TRUE(connection.Send("NOT HTTP AT ALL\r\n\r\n"));
    std::string rest;
    EXPECT_TRUE(connection.WaitForClose(&rest));
    EXPECT_EQ(rest, "") << "a parse error gets no answer";
  }
  ASSERT_TRUE(program_->WaitForLines(1));
  EXPECT_THAT(program_->Lines(), ElementsAre(" > [http,#1,OnParseError]"));
  EXPECT_EQ(Ask(Get("/still-here")), Answer("still-here"));
}

TEST_F(Headless, HundredConcurrentGetsAreAllAnsweredAndLogged) {
  constexpr int kClients = 100;
  std::vector<std::unique_ptr<Connection>> connections;
  for (int i = 0; i < kClients; ++i) {
    connections.push_back(std::make_unique<Connection>(port_));
    ASSERT_TRUE(connections.back()->Send(Get("/m" + std::to_string(i))));
  }
  std::multiset<std::string> logged;
  for (int i = 0; i < kClients; ++i) {
    const std::optional<Response> response = connections[i]->ReadResponse();
    ASSERT_TRUE(response) << "client " << i;
    EXPECT_EQ(response->raw(), Answer("m" + std::to_string(i)));
    logged.insert(LogLine("m" + std::to_string(i)));
  }
  // Whole lines, one per GET, in whatever order the workers took the run log's lock.
  const std::string log = program_->RunLog();
  std::multiset<std::string> lines;
  static const std::regex line("[^\r\n]*\r\n");
  for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator();
       ++it) {
    lines.insert(it->str());
  }
  EXPECT_EQ(lines, logged);
  EXPECT_EQ(log.size(), [&] {
    std::size_t size = 0;
    for (const std::string& l : logged) size += l.size();
    return size;
  }());
  ASSERT_TRUE(program_->WaitForLines(kClients));
  EXPECT_EQ(program_->Lines().size(), static_cast<std::size_t>(kClients));
}

TEST_F(Headless, ClientsThatLeaveRightAfterTheirRequestLeaveNothingBehind) {
  // Each connection ends while its request is still with the worker, in an orderly way or with
  // a reset (the sanitizer builds catch a record freed under the worker, or one never freed).
  for (int i = 0; i < 100; ++i) {
    Connection connection(port_);
    ASSERT_TRUE(connection.Send(Post("gone" + std::to_string(i)) + Post("never parsed")));
    if (i % 2 == 0) connection.Reset();
  }
  for (const bool reset : {false, true}) {
    Connection connection(port_);
    ASSERT_TRUE(
        connection.Send("POST /msg HTTP/1.1\r\nHost: q\r\nContent-Length: 9\r\n\r\nunfinish"));
    if (reset) connection.Reset();
  }
  EXPECT_EQ(Ask(Post("still-here")), Answer("still-here"));
}

TEST_F(Headless, SigintAlsoEndsTheProgramCleanly) {
  EXPECT_EQ(Ask(Post("bye")), Answer("bye"));
  EXPECT_EQ(program_->Stop(SIGINT), 0);
}

TEST_F(Headless, TerminationWithRequestsInFlightIsClean) {
  // A connection in the middle of a body, and one idle keep-alive connection.
  Connection partial(port_);
  ASSERT_TRUE(partial.Send("POST /msg HTTP/1.1\r\nHost: q\r\nContent-Length: 100\r\n\r\nhalf"));
  Connection idle(port_);
  ASSERT_TRUE(idle.Send(Get("/idle")));
  ASSERT_TRUE(idle.ReadResponse());
  EXPECT_EQ(program_->Stop(SIGTERM), 0);
  EXPECT_TRUE(partial.WaitForClose());
  EXPECT_TRUE(idle.WaitForClose());
}

// Runs the program once with `args` in a directory of its own, expecting it to end by itself.
struct Finished {
  int exitCode;
  std::vector<std::string> lines;
  std::string stderrText;
};
Finished RunToEnd(std::vector<std::string> args) {
  QuillmereProcess program(std::move(args));
  const int exitCode = program.Wait();
  return {exitCode, program.Lines(), program.Stderr()};
}

TEST(CommandLine, HelpVersionAndBadOptions) {
  const Finished help = RunToEnd({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_THAT(help.lines, Contains(StartsWith("Usage: quillmere")));
  EXPECT_THAT(help.stderrText, IsEmpty());

  const Finished version = RunToEnd({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_THAT(version.lines, ElementsAre("Quillmere 1.0"));

  const Finished badPort = RunToEnd({"--headless", "--port", "x"});
  EXPECT_EQ(badPort.exitCode, 2);
  EXPECT_THAT(badPort.stderrText,
              StartsWith("quillmere: invalid port 'x': expected a number from 0 to 65535\n"
                         "Usage: quillmere"));
  EXPECT_THAT(badPort.lines, IsEmpty());

  const Finished unknown = RunToEnd({"--colour"});
  EXPECT_EQ(unknown.exitCode, 2) << "rejected before any window is made";
  EXPECT_THAT(unknown.stderrText, StartsWith("quillmere: unknown option '--colour'\n"));
}

TEST(CommandLine, BusyPortEndsHeadlessModeWithAMessage) {
  QuillmereProcess first({"--headless", "--bind", "127.0.0.1", "--port", "0"});
  const std::uint16_t port = first.WaitUntilListening();
  ASSERT_NE(port, 0);
  const Finished second =
      RunToEnd({"--headless", "--bind", "127.0.0.1", "--port", std::to_string(port)});
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_EQ(second.stderrText, "quillmere: cannot listen on 127.0.0.1:" + std::to_string(port) +
                                   ": Address already in use\n");
  EXPECT_EQ(first.Stop(SIGTERM), 0);
}

TEST(CommandLine, UnreachableClockStampsWithTheLocalClock) {
  // Nothing listens on port 1.
  QuillmereProcess program(
      {"--headless", "--bind", "127.0.0.1", "--port", "0", "--clock-url", "http://127.0.0.1:1/"});
  const std::uint16_t port = program.WaitUntilListening();
  ASSERT_NE(port, 0);
  const auto before = std::chrono::system_clock::now();
  {
    Connection connection(port);
    ASSERT_TRUE(connection.Send(Get("/local")));
    ASSERT_TRUE(connection.ReadResponse());
  }
  const auto after = std::chrono::system_clock::now();
  const std::string log = program.RunLog();
  std::smatch match;
  ASSERT_TRUE(std::regex_match(log, match, std::regex("([0-9]+)=local\r\n"))) << log;
  const long long stamp = std::stoll(match[1].str());
  using std::chrono::seconds;
  EXPECT_GE(stamp, std::chrono::duration_cast<seconds>(before.time_since_epoch()).count());
  EXPECT_LE(stamp, std::chrono::duration_cast<seconds>(after.time_since_epoch()).count());
  EXPECT_EQ(program.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace quillmere::e2e
