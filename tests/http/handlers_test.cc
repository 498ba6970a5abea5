// The event handlers and the program-wide HTTP service against the recording fake of the engine.
#include "http/handlers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/output.h"
#include "app/output_recorder.h"
#include "http/body_buffer.h"
#include "http/http_service.h"
#include "http/request_worker.h"
#include "tests/http/alloc_spy.h"
#include "tests/http/fake_hpsocket.h"

namespace quillmere {
namespace {

using fake_hpsocket::Call;
using fake_hpsocket::CallsTo;
using fake_hpsocket::Functions;
using fake_hpsocket::Handle;
using fake_hpsocket::kListener;
using fake_hpsocket::kPool;
using fake_hpsocket::kServer;
using fake_hpsocket::OnCall;
using fake_hpsocket::Returns;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kServerArg = Handle(kServer);
const std::string kInfinite = "4294967295";

// The service set up over the fake (so ServerHandle is kServer and the pool is kPool), with every
// output line recorded and the engine's per-connection extra data kept in a table.
class HandlersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_hpsocket::Reset();
    ProgramHttpService().SetUp();
    fake_hpsocket::Reset();
    OnCall(HP_Server_SetConnectionExtra, [this](HP_Server, HP_CONNID id, PVOID extra) {
      extras_[id] = extra;
      return TRUE;
    });
    OnCall(HP_Server_GetConnectionExtra, [this](HP_Server, HP_CONNID id, PVOID* extra) {
      const auto found = extras_.find(id);
      if (found == extras_.end()) return FALSE;
      *extra = found->second;
      return TRUE;
    });
  }

  void TearDown() override {
    // Whatever a test left behind goes the way a closing connection's record goes.
    for (const auto& [id, extra] : std::map<HP_CONNID, PVOID>(extras_)) {
      OnClose(kServer, id, SO_CLOSE, 0);
    }
    ProgramHttpService().TearDown();
    fake_hpsocket::Reset();
  }

  BodyRecord* RecordOf(HP_CONNID id) { return static_cast<BodyRecord*>(extras_.at(id)); }

  std::map<HP_CONNID, PVOID> extras_;  // the engine's extra data per connection
  OutputRecorder output_;
  ScopedOutputConsumer useOutput_{output_};
};

TEST(HttpService, SetUpCreatesTheServerStartsThePoolAndInstallsTheHandlersInOrder) {
  fake_hpsocket::Reset();
  HttpService& service = ProgramHttpService();
  service.SetUp();
  EXPECT_EQ(service.ServerHandle(), kServer);
  EXPECT_THAT(
      Functions(),
      ElementsAre("Create_HP_HttpServerListener", "Create_HP_HttpServer", "Create_HP_ThreadPool",
                  "HP_ThreadPool_Start", "HP_Set_FN_HttpServer_OnAccept",
                  "HP_Set_FN_HttpServer_OnReceive", "HP_Set_FN_HttpServer_OnHeadersComplete",
                  "HP_Set_FN_HttpServer_OnBody", "HP_Set_FN_HttpServer_OnMessageComplete",
                  "HP_Set_FN_HttpServer_OnParseError", "HP_Set_FN_HttpServer_OnClose"));
  // The engine's default thread count, no queue limit, wait when full, the default stack.
  EXPECT_THAT(CallsTo("HP_ThreadPool_Start"),
              ElementsAre(Call{"HP_ThreadPool_Start", {Handle(kPool), "0", "0", "1", "0"}}));
  EXPECT_THAT(CallsTo("HP_Set_FN_HttpServer_OnClose"),
              ElementsAre(Call{"HP_Set_FN_HttpServer_OnClose",
                               {Handle(kListener), Handle(reinterpret_cast<void*>(&OnClose))}}));
  service.TearDown();
  fake_hpsocket::Reset();
}

TEST(HttpService, TearDownStopsThePoolBeforeTheServerIsDestroyed) {
  fake_hpsocket::Reset();
  HttpService& service = ProgramHttpService();
  service.SetUp();
  fake_hpsocket::Reset();
  service.TearDown();
  // A worker still running would otherwise answer on a destroyed server.
  EXPECT_THAT(fake_hpsocket::Calls(),
              ElementsAre(Call{"HP_ThreadPool_Stop", {Handle(kPool), kInfinite}},
                          Call{"Destroy_HP_HttpServer", {kServerArg}},
                          Call{"Destroy_HP_ThreadPool", {Handle(kPool)}},
                          Call{"Destroy_HP_HttpServerListener", {Handle(kListener)}}));
  EXPECT_EQ(service.ServerHandle(), nullptr);

  fake_hpsocket::Reset();
  service.TearDown();
  EXPECT_THAT(Functions(), IsEmpty()) << "a second teardown releases nothing twice";
}

TEST_F(HandlersTest, SchemeIsHttpOnlyForTheProgramsServer) {
  EXPECT_EQ(SchemeOf(kServer), "http");
  EXPECT_EQ(SchemeOf(reinterpret_cast<HP_HttpServer>(0x777)), "https");
  EXPECT_EQ(SchemeOf(nullptr), "https");
}

TEST_F(HandlersTest, AcceptGivesTheConnectionAZeroedRecord) {
  EXPECT_EQ(OnAccept(kServer, 5, 99), HR_OK);
  ASSERT_NE(RecordOf(5), nullptr);
  EXPECT_EQ(RecordOf(5)->data, nullptr);
  EXPECT_EQ(RecordOf(5)->length, 0);
  EXPECT_EQ(RecordOf(5)->capacity, 0);
  EXPECT_THAT(output_.Lines(), IsEmpty());
}

TEST_F(HandlersTest, AcceptFreesARecordTheEngineWouldNotStore) {
  Returns(HP_Server_SetConnectionExtra, {FALSE});
  alloc_spy::Spy spy;
  EXPECT_EQ(OnAccept(kServer, 5, 99), HR_OK);
  EXPECT_THAT(spy.Calls(), ElementsAre("malloc(16)", "free"));
}

TEST_F(HandlersTest, AcceptWithoutMemoryStoresNoRecord) {
  alloc_spy::Spy spy;
  spy.FailAllocations(true);
  EXPECT_EQ(OnAccept(kServer, 5, 99), HR_OK);
  spy.FailAllocations(false);
  EXPECT_EQ(extras_.at(5), nullptr);
  const std::string chunk = "dropped";
  EXPECT_EQ(OnBody(kServer, 5, reinterpret_cast<const BYTE*>(chunk.data()), 7), HPR_OK);
}

TEST_F(HandlersTest, BodyChunksCollectInArrivalOrder) {
  OnAccept(kServer, 3, 0);
  const std::string body = std::string(10, 'a') + std::string(20, 'b') + std::string(5, 'c');
  const auto* bytes = reinterpret_cast<const BYTE*>(body.data());
  EXPECT_EQ(OnBody(kServer, 3, bytes, 10), HPR_OK);
  EXPECT_EQ(OnBody(kServer, 3, bytes + 10, 20), HPR_OK);
  EXPECT_EQ(OnBody(kServer, 3, bytes + 30, 5), HPR_OK);
  ASSERT_EQ(RecordOf(3)->length, 35);
  EXPECT_EQ(std::string(RecordOf(3)->data, 35), body);
}

TEST_F(HandlersTest, BodyBeyond64MiBIsRefused) {
  OnAccept(kServer, 7, 0);
  const std::string chunk(1 << 20, 'x');
  const auto* bytes = reinterpret_cast<const BYTE*>(chunk.data());
  for (int i = 0; i < 63; ++i) ASSERT_EQ(OnBody(kServer, 7, bytes, 1 << 20), HPR_OK) << i;
  ASSERT_EQ(OnBody(kServer, 7, bytes, (1 << 20) - 1), HPR_OK);
  EXPECT_EQ(OnBody(kServer, 7, bytes, 1), HPR_OK) << "exactly 64 MiB is allowed";
  EXPECT_EQ(OnBody(kServer, 7, bytes, 1), HPR_ERROR) << "one byte more is not";
  EXPECT_EQ(RecordOf(7)->length, 64 << 20) << "the refused chunk is not kept";
}

TEST_F(HandlersTest, BodyOfAConnectionWithoutRecordIsDropped) {
  const std::string chunk = "lost";
  // Unknown to the engine, and known with no record.
  EXPECT_EQ(OnBody(kServer, 8, reinterpret_cast<const BYTE*>(chunk.data()), 4), HPR_OK);
  extras_[9] = nullptr;
  EXPECT_EQ(OnBody(kServer, 9, reinterpret_cast<const BYTE*>(chunk.data()), 4), HPR_OK);
  EXPECT_EQ(extras_[9], nullptr);
}

TEST_F(HandlersTest, CloseFreesTheRecordAndTheBodyItStillHolds) {
  OnAccept(kServer, 4, 0);
  const std::string partial = "part of a request that never completed";
  OnBody(kServer, 4, reinterpret_cast<const BYTE*>(partial.data()),
         static_cast<int>(partial.size()));

  alloc_spy::Spy spy;
  EXPECT_EQ(OnClose(kServer, 4, SO_RECEIVE, 104), HR_OK);
  EXPECT_THAT(spy.Calls(), ElementsAre("free", "free")) << "the data block, then the record";
  EXPECT_EQ(extras_.at(4), nullptr) << "the extra data no longer points at freed memory";
}

TEST_F(HandlersTest, CloseWithoutRecordFreesNothing) {
  extras_[6] = nullptr;
  alloc_spy::Spy spy;
  EXPECT_EQ(OnClose(kServer, 6, SO_CLOSE, 0), HR_OK);
  EXPECT_EQ(OnClose(kServer, 60, SO_CLOSE, 0), HR_OK);  // unknown to the engine
  EXPECT_THAT(spy.Calls(), IsEmpty());
}

TEST_F(HandlersTest, ReceiveShowsALineAndEchoesTheBytes) {
  struct Case {
    HP_HttpServer sender;
    HP_CONNID id;
    std::string bytes;
    std::string line;
  };
  const Case cases[] = {
      // No blank between the count and "bytes".
      {kServer, 3, "hello", " > [http,#3,OnReceive] ->(5bytes)"},
      // An empty delivery still shows its line and echoes nothing.
      {kServer, 7, "", " > [http,#7,OnReceive] ->(0bytes)"},
      // Another server's events read "https".
      {reinterpret_cast<HP_HttpServer>(0x777), 12, "x", " > [https,#12,OnReceive] ->(1bytes)"},
  };
  for (const Case& c : cases) {
    fake_hpsocket::Reset();
    OutputRecorder output;
    ScopedOutputConsumer use(output);
    const auto* data = reinterpret_cast<const BYTE*>(c.bytes.data());
    const int length = static_cast<int>(c.bytes.size());
    EXPECT_EQ(OnReceive(c.sender, c.id, data, length), HR_OK) << c.line;
    EXPECT_THAT(output.Lines(), ElementsAre(c.line));
    EXPECT_THAT(CallsTo("HP_Server_Send"),
                ElementsAre(Call{"HP_Server_Send",
                                 {Handle(c.sender), std::to_string(c.id), "\"" + c.bytes + "\"",
                                  std::to_string(length)}}))
        << c.line;
  }
}

TEST_F(HandlersTest, ReceiveWhoseEchoFailsIsAnErrorOfTheConnection) {
  Returns(HP_Server_Send, {FALSE});
  const std::string bytes = "abc";
  EXPECT_EQ(OnReceive(kServer, 2, reinterpret_cast<const BYTE*>(bytes.data()), 3), HR_ERROR);
}

TEST_F(HandlersTest, ParseErrorShowsOnlyTheConnection) {
  EXPECT_EQ(OnParseError(kServer, 12, 28, "invalid method"), HPR_OK);
  EXPECT_THAT(output_.Lines(), ElementsAre(" > [http,#12,OnParseError]"));
}

TEST_F(HandlersTest, HeadersCompleteLetsTheBodyFollow) {
  EXPECT_EQ(OnHeadersComplete(kServer, 1), HPR_OK);
  EXPECT_THAT(Functions(), IsEmpty());
}

TEST_F(HandlersTest, MessageCompleteSubmitsTheWorkerForTheConnection) {
  EXPECT_EQ(OnMessageComplete(kServer, 42), HPR_OK);
  EXPECT_THAT(CallsTo("Create_HP_SocketTaskObj"),
              ElementsAre(Call{"Create_HP_SocketTaskObj",
                               {Handle(reinterpret_cast<void*>(&RequestWorker)), kServerArg, "42",
                                "null", "0", "0", "0", "0"}}));
  ASSERT_EQ(CallsTo("HP_ThreadPool_Submit_Task").size(), 1u);
  EXPECT_EQ(CallsTo("HP_ThreadPool_Submit_Task")[0].args[0], Handle(kPool));
  EXPECT_EQ(CallsTo("HP_ThreadPool_Submit_Task")[0].args[2], kInfinite);
  EXPECT_THAT(CallsTo("HP_Server_Disconnect"), IsEmpty());
  EXPECT_THAT(output_.Lines(), IsEmpty());
}

TEST_F(HandlersTest, MessageCompleteClosesAConnectionWhoseRequestThePoolRefuses) {
  Returns(HP_ThreadPool_Submit_Task, {FALSE});
  EXPECT_EQ(OnMessageComplete(kServer, 42), HPR_OK);
  EXPECT_EQ(CallsTo("Destroy_HP_SocketTaskObj").size(), 1u);
  // Nothing would ever answer the request, and the engine reads nothing more until it is.
  EXPECT_THAT(CallsTo("HP_Server_Disconnect"),
              ElementsAre(Call{"HP_Server_Disconnect", {kServerArg, "42", "1"}}));
}

}  // namespace
}  // namespace quillmere
