// The request worker against the recording fake of the engine, with its output lines recorded and
// the run log in a directory of its own.
#include "http/request_worker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "app/output.h"
#include "app/output_recorder.h"
#include "http/body_buffer.h"
#include "http/http_service.h"
#include "runlog/run_log.h"
#include "tests/http/fake_hpsocket.h"

namespace quillmere {
namespace {

using fake_hpsocket::Call;
using fake_hpsocket::CallsTo;
using fake_hpsocket::Functions;
using fake_hpsocket::Handle;
using fake_hpsocket::kServer;
using fake_hpsocket::OnCall;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr HP_CONNID kConnection = 7;
const std::string kServerArg = Handle(kServer);
const std::string kReplyHeadersArg = "[\"Accept\": \"text/plain, text/html\"]";

// One request as the engine would describe it to the worker.
struct Request {
  Request(std::string method, std::string path, std::string body = {}, bool keepAlive = true,
          bool upgrade = false)
      : method(std::move(method)),
        path(std::move(path)),
        body(std::move(body)),
        keepAlive(keepAlive),
        upgrade(upgrade) {}
  std::string method;
  std::string path;
  std::string body;
  bool keepAlive;
  bool upgrade;
};

class RequestWorkerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = ::testing::TempDir() + "request_worker_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = new std::filesystem::path(pattern);
    // Nothing listens on port 1, so each line is stamped with the local clock at once.
    StartRunLog({.directory = directory_->string(), .clockUrl = "http://127.0.0.1:1/"});
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*directory_);
    delete directory_;
    StartRunLog();
  }

  void SetUp() override {
    std::filesystem::remove(RunLogPath());
    fake_hpsocket::Reset();
    ProgramHttpService().SetUp();
    ASSERT_TRUE(record_.Create());
  }

  void TearDown() override {
    record_.Destroy();
    ProgramHttpService().TearDown();
    fake_hpsocket::Reset();
  }

  // Runs the worker for `request` on kConnection, whose record holds the request's body.
  void Run(const Request& request) {
    record_.Free();
    record_.AppendBytes(request.body);
    fake_hpsocket::Reset();
    OnCall(HP_Server_GetConnectionExtra, [this](HP_Server, HP_CONNID, PVOID* extra) {
      *extra = record_.Handle();
      return TRUE;
    });
    // The engine's texts stay valid until the request is answered: here, in the fixture.
    current_ = std::make_unique<Request>(request);
    OnCall(HP_HttpServer_GetMethod,
           [this](HP_HttpServer, HP_CONNID) { return current_->method.c_str(); });
    OnCall(HP_HttpServer_GetUrlField, [this](HP_HttpServer, HP_CONNID, En_HP_HttpUrlField f) {
      return f == HUF_PATH ? current_->path.c_str() : "";
    });
    OnCall(HP_HttpServer_IsUpgrade,
           [this](HP_HttpServer, HP_CONNID) { return current_->upgrade ? TRUE : FALSE; });
    OnCall(HP_HttpServer_IsKeepAlive,
           [this](HP_HttpServer, HP_CONNID) { return current_->keepAlive ? TRUE : FALSE; });
    TSocketTask task{&RequestWorker, kServer, kConnection, nullptr, 0, TBT_COPY, 0, 0};
    RequestWorker(&task);
  }

  static std::string RunLog() {
    std::ifstream file(RunLogPath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
  }

  static std::filesystem::path* directory_;
  std::unique_ptr<Request> current_;
  ConnectionBodyBuffer record_;
  OutputRecorder output_;
  ScopedOutputConsumer useOutput_{output_};
};

std::filesystem::path* RequestWorkerTest::directory_ = nullptr;

TEST_F(RequestWorkerTest, AnswersEachKindOfRequest) {
  struct Case {
    Request request;
    std::optional<std::string> line;    // the output line; none for HEAD
    std::string answer;                 // the body argument of SendResponse
    std::optional<std::string> logged;  // the message of the run-log line, if one is written
  };
  const Case cases[] = {
      // A GET message is the last path segment, logged, shown and echoed.
      {{"GET", "/hello"}, "hello", "\"hello\"", "hello"},
      {{"GET", "/a/b/c"}, "c", "\"c\"", "c"},
      // The path is decoded before it is cut, so an encoded slash separates too.
      {{"GET", "/a/b%2Fc"}, "c", "\"c\"", "c"},
      // Nothing after the last slash: an empty line, an empty log message, an empty body.
      {{"GET", "/"}, "", "null", ""},
      {{"GET", "/dir/"}, "", "null", ""},
      // UTF-8 on the wire, GBK in the program: 你 is C4 E3.
      {{"GET", "/%E4%BD%A0"}, "\xC4\xE3", "\"\xC4\xE3\"", "\xC4\xE3"},
      // A body that a GET carries is taken and ignored.
      {{"GET", "/x", "ignored"}, "x", "\"x\"", "x"},
      // A POST message is the whole decoded body, not cut at "/" and not logged.
      {{"POST", "/p", "a%20b"}, "a b", "\"a b\"", std::nullopt},
      {{"POST", "/p", "a/b"}, "a/b", "\"a/b\"", std::nullopt},
      // "+" is not a blank here.
      {{"POST", "/p", "a+b"}, "a+b", "\"a+b\"", std::nullopt},
      // Only the part before a zero byte counts.
      {{"POST", "/p", std::string("ab\0cd", 5)}, "ab", "\"ab\"", std::nullopt},
      {{"POST", "/p", ""}, "", "null", std::nullopt},
      // Any other method: an empty line and an empty answer, body consumed.
      {{"PUT", "/p", "data"}, "", "null", std::nullopt},
      {{"DELETE", "/p"}, "", "null", std::nullopt},
      // Methods are matched exactly.
      {{"get", "/hello"}, "", "null", std::nullopt},
      // HEAD: no line, no log, an answer without body.
      {{"HEAD", "/hello"}, std::nullopt, "null", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request.method + " " + c.request.path + " body \"" + c.request.body + "\"");
    std::filesystem::remove(RunLogPath());
    OutputRecorder output;
    ScopedOutputConsumer use(output);
    Run(c.request);

    EXPECT_EQ(output.Lines(),
              c.line ? std::vector<std::string>{*c.line} : std::vector<std::string>{});
    EXPECT_THAT(CallsTo("HP_HttpServer_SendResponse"),
                ElementsAre(Call{"HP_HttpServer_SendResponse",
                                 {kServerArg, "7", "200", "\"OK\"", kReplyHeadersArg, "1", c.answer,
                                  std::to_string(c.answer == "null" ? 0 : c.answer.size() - 2)}}));
    EXPECT_THAT(CallsTo("HP_HttpServer_Release"), IsEmpty()) << "kept alive";
    if (c.logged) {
      EXPECT_TRUE(std::regex_match(RunLog(), std::regex("[0-9]{10}=" + *c.logged + "\r\n")))
          << RunLog();
    } else {
      EXPECT_FALSE(std::filesystem::exists(RunLogPath()));
    }
    EXPECT_EQ(record_.Length(), 0) << "the next request starts with an empty record";
    EXPECT_FALSE(record_.HasData());
  }
}

// Notes what the run log holds as each output line arrives.
class RunLogAtEachLine final : public OutputConsumer {
 public:
  void Append(std::string_view line) override {
    std::ifstream file(RunLogPath(), std::ios::binary);
    seen.push_back({std::string(line), {std::istreambuf_iterator<char>(file), {}}});
  }
  std::vector<std::pair<std::string, std::string>> seen;  // line, run log at that moment
};

TEST_F(RequestWorkerTest, GetIsLoggedThenShownThenAnswered) {
  RunLogAtEachLine output;
  ScopedOutputConsumer use(output);
  Run({"GET", "/first"});
  std::size_t linesAtAnswer = 0;
  OnCall(HP_HttpServer_SendResponse,
         [&](HP_HttpServer, HP_CONNID, USHORT, LPCSTR, const HP_THeader*, int, const BYTE*, int) {
           linesAtAnswer = output.seen.size();
           return TRUE;
         });
  // Run() resets the hooks, so the answer is watched through the second request only.
  record_.Free();
  OnCall(HP_Server_GetConnectionExtra, [](HP_Server, HP_CONNID, PVOID*) { return FALSE; });
  OnCall(HP_HttpServer_GetMethod, [](HP_HttpServer, HP_CONNID) { return "GET"; });
  OnCall(HP_HttpServer_GetUrlField,
         [](HP_HttpServer, HP_CONNID, En_HP_HttpUrlField) { return "/second"; });
  OnCall(HP_HttpServer_IsUpgrade, [](HP_HttpServer, HP_CONNID) { return FALSE; });
  TSocketTask task{&RequestWorker, kServer, kConnection, nullptr, 0, TBT_COPY, 0, 0};
  RequestWorker(&task);

  ASSERT_EQ(output.seen.size(), 2u);
  EXPECT_EQ(output.seen[0].first, "first");
  EXPECT_TRUE(std::regex_match(output.seen[0].second, std::regex("[0-9]{10}=first\r\n")))
      << output.seen[0].second;
  EXPECT_EQ(output.seen[1].first, "second");
  EXPECT_TRUE(std::regex_match(output.seen[1].second,
                               std::regex("[0-9]{10}=first\r\n[0-9]{10}=second\r\n")))
      << "a second line follows the first: " << output.seen[1].second;
  EXPECT_EQ(linesAtAnswer, 2u) << "the line is shown before the answer goes out";
}

TEST_F(RequestWorkerTest, ReleasesAConnectionThatIsNotKeptAliveAfterAnsweringIt) {
  for (const char* method : {"GET", "POST", "HEAD", "PUT"}) {
    SCOPED_TRACE(method);
    Run({method, "/m", "b", /*keepAlive=*/false});
    const std::vector<std::string> functions = Functions();
    const std::vector<std::string> tail(functions.end() - 2, functions.end());
    EXPECT_THAT(tail, ElementsAre("HP_HttpServer_SendResponse", "HP_HttpServer_Release"));
    EXPECT_THAT(CallsTo("HP_HttpServer_Release"),
                ElementsAre(Call{"HP_HttpServer_Release", {kServerArg, "7"}}));
  }
}

TEST_F(RequestWorkerTest, ReadsKeepAliveBeforeTheAnswerLetsTheNextRequestIn) {
  // Once answered, the engine parses the next pipelined request, here one that keeps the
  // connection alive; the answered request asked for it to be closed.
  for (const char* method : {"GET", "HEAD"}) {
    SCOPED_TRACE(method);
    fake_hpsocket::Reset();
    bool answered = false;
    OnCall(HP_Server_GetConnectionExtra, [](HP_Server, HP_CONNID, PVOID*) { return FALSE; });
    OnCall(HP_HttpServer_GetMethod, [method](HP_HttpServer, HP_CONNID) { return method; });
    OnCall(HP_HttpServer_GetUrlField,
           [](HP_HttpServer, HP_CONNID, En_HP_HttpUrlField) { return "/m"; });
    OnCall(HP_HttpServer_IsUpgrade, [](HP_HttpServer, HP_CONNID) { return FALSE; });
    OnCall(HP_HttpServer_SendResponse,
           [&](HP_HttpServer, HP_CONNID, USHORT, LPCSTR, const HP_THeader*, int, const BYTE*, int) {
             answered = true;
             return TRUE;
           });
    OnCall(HP_HttpServer_IsKeepAlive,
           [&](HP_HttpServer, HP_CONNID) { return answered ? TRUE : FALSE; });
    TSocketTask task{&RequestWorker, kServer, kConnection, nullptr, 0, TBT_COPY, 0, 0};
    RequestWorker(&task);
    EXPECT_THAT(CallsTo("HP_HttpServer_Release"),
                ElementsAre(Call{"HP_HttpServer_Release", {kServerArg, "7"}}));
  }
}

TEST_F(RequestWorkerTest, UpgradeGetsNoAnswerButItsBodyIsStillTaken) {
  Run({"GET", "/chat", "early", /*keepAlive=*/true, /*upgrade=*/true});
  EXPECT_THAT(output_.Lines(), IsEmpty());
  EXPECT_THAT(CallsTo("HP_HttpServer_SendResponse"), IsEmpty());
  EXPECT_THAT(CallsTo("HP_HttpServer_Release"), IsEmpty());
  EXPECT_THAT(CallsTo("HP_HttpServer_GetMethod"), IsEmpty());
  EXPECT_EQ(record_.Length(), 0);
  EXPECT_FALSE(std::filesystem::exists(RunLogPath()));
}

TEST_F(RequestWorkerTest, PostOnAConnectionWithoutRecordEchoesAnEmptyMessage) {
  for (const bool known : {false, true}) {
    fake_hpsocket::Reset();
    OutputRecorder output;
    ScopedOutputConsumer use(output);
    OnCall(HP_Server_GetConnectionExtra, [known](HP_Server, HP_CONNID, PVOID* extra) {
      *extra = nullptr;
      return known ? TRUE : FALSE;
    });
    OnCall(HP_HttpServer_GetMethod, [](HP_HttpServer, HP_CONNID) { return "POST"; });
    OnCall(HP_HttpServer_IsUpgrade, [](HP_HttpServer, HP_CONNID) { return FALSE; });
    TSocketTask task{&RequestWorker, kServer, kConnection, nullptr, 0, TBT_COPY, 0, 0};
    RequestWorker(&task);
    EXPECT_THAT(output.Lines(), ElementsAre(""));
    ASSERT_EQ(CallsTo("HP_HttpServer_SendResponse").size(), 1u);
    EXPECT_EQ(CallsTo("HP_HttpServer_SendResponse")[0].args[6], "null");
  }
}

TEST_F(RequestWorkerTest, NullTaskShowsTheCopyFailureAndTouchesNothing) {
  fake_hpsocket::Reset();
  RequestWorker(nullptr);
  // 转换任务对象失败 in GBK.
  EXPECT_THAT(output_.Lines(),
              ElementsAre("\xD7\xAA\xBB\xBB\xC8\xCE\xCE\xF1\xB6\xD4\xCF\xF3\xCA\xA7\xB0\xDC"));
  EXPECT_THAT(Functions(), IsEmpty());
}

TEST(ReplyHeaders, IsTheOneAcceptHeader) {
  EXPECT_THAT(ReplyHeaders(), ElementsAre(HeaderRecord{"Accept", "text/plain, text/html"}));
}

}  // namespace
}  // namespace quillmere
