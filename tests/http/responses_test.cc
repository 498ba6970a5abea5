// Status phrases, and the response methods against the recording fake of the engine.
#include "http/responses.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "http/server_component.h"
#include "tests/http/fake_hpsocket.h"

namespace quillmere {
namespace {

using fake_hpsocket::Call;
using fake_hpsocket::Calls;
using fake_hpsocket::CallsTo;
using fake_hpsocket::Functions;
using fake_hpsocket::Handle;
using fake_hpsocket::kServer;
using fake_hpsocket::OnCall;
using fake_hpsocket::Returns;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kServerArg = Handle(kServer);
constexpr HP_CONNID kConn = 7;
constexpr std::int64_t kChunk = 4 * 1024 * 1024;

TEST(StatusPhrase, KnowsExactlyTheTableAndGivesStarsOtherwise) {
  int known = 0;
  for (int code = 0; code <= 0xFFFF; ++code) {
    const std::string_view phrase = StatusPhrase(static_cast<std::uint16_t>(code));
    ASSERT_FALSE(phrase.empty()) << code;
    ASSERT_EQ(phrase.data()[phrase.size()], '\0') << code << ": handed to the engine as is";
    if (phrase != "***") ++known;
  }
  EXPECT_EQ(known, 64);
}

TEST(StatusPhrase, Rows) {
  struct Case {
    std::uint16_t code;
    std::string_view phrase;
    const char* why;
  };
  const Case cases[] = {
      {200, "OK", "what every answer of the program carries"},
      {404, "Not Found", "SendFile's answer for a missing file"},
      {100, "Continue", "first row"},
      {600, "Unparseable Response Headers", "last row"},
      {302, "Move temporarily", "kept in lower case"},
      {306, "Switch Proxy", "an unassigned code the table still names"},
      {425, "Unordered Collection", "an old name for 425"},
      {449, "Retry With", "a vendor code"},
      {509, "Bandwidth Limit Exceeded", "a vendor code"},
      {226, "IM Used", "the one 22x code"},
      {511, "Network Authentication Required", "last 5xx"},
      {418, "***", "not in the table"},
      {103, "***", "not in the table"},
      {0, "***", "not a status code"},
      {65535, "***", "largest 16-bit code"},
  };
  for (const Case& c : cases) EXPECT_EQ(StatusPhrase(c.code), c.phrase) << c.code << ": " << c.why;
}

class ResponsesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_hpsocket::Reset();
    char pattern[] = "/tmp/quillmere-http-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory = pattern;
  }
  void TearDown() override {
    fake_hpsocket::Reset();
    std::filesystem::remove_all(directory);
  }
  // A file of `size` bytes cycling through the lower-case letters.
  std::string MakeFile(const std::string& name, std::int64_t size) {
    const std::string path = directory + "/" + name;
    std::ofstream out(path, std::ios::binary);
    std::string block(64 * 1024, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + i % 26);
    for (std::int64_t left = size; left > 0;) {
      const auto n = static_cast<std::streamsize>(std::min<std::int64_t>(left, block.size()));
      out.write(block.data(), n);
      left -= n;
    }
    return path;
  }

  std::string directory;
  HttpServerComponent component;
};

using SendResponse = ResponsesTest;
using SendLocalFile = ResponsesTest;
using SendFile = ResponsesTest;

TEST_F(SendResponse, PreparesDescriptionHeadersAndBody) {
  struct Case {
    USHORT code;
    std::optional<std::string_view> description;
    std::vector<HeaderRecord> headers;
    std::optional<std::string_view> body;  // omitted: the argument is left out
    Call reaches;
    const char* why;
  };
  const Case cases[] = {
      {200,
       std::nullopt,
       {},
       std::nullopt,
       {"HP_HttpServer_SendResponse", {kServerArg, "7", "200", "\"OK\"", "null", "0", "null", "0"}},
       "omitted description, headers and body"},
      {418,
       std::nullopt,
       {},
       std::nullopt,
       {"HP_HttpServer_SendResponse",
        {kServerArg, "7", "418", "\"***\"", "null", "0", "null", "0"}},
       "a code outside the table gets three asterisks"},
      {200,
       "",
       {},
       "",
       {"HP_HttpServer_SendResponse", {kServerArg, "7", "200", "null", "null", "0", "null", "0"}},
       "an empty description and an empty body are handed over as null"},
      {201,
       "Made",
       {{"Accept", "text/plain, text/html"}},
       "hello",
       {"HP_HttpServer_SendResponse",
        {kServerArg, "7", "201", "\"Made\"", R"(["Accept": "text/plain, text/html"])", "1",
         "\"hello\"", "5"}},
       "a given description, one header as name then value, a body as pointer and length"},
      {200,
       std::nullopt,
       {{"A", "1"}, {"B", ""}},
       std::nullopt,
       {"HP_HttpServer_SendResponse",
        {kServerArg, "7", "200", "\"OK\"", R"(["A": "1", "B": ""])", "2", "null", "0"}},
       "headers in list order"},
  };
  for (const Case& c : cases) {
    fake_hpsocket::Reset();
    const bool ok =
        c.body ? component.SendResponse(kServer, kConn, c.code, c.description, c.headers, *c.body)
               : component.SendResponse(kServer, kConn, c.code, c.description, c.headers);
    EXPECT_TRUE(ok) << c.why;
    EXPECT_THAT(Calls(), ElementsAre(c.reaches)) << c.why;
  }
}

TEST_F(SendResponse, ReturnsTheEnginesResult) {
  Returns(HP_HttpServer_SendResponse, {FALSE});
  EXPECT_FALSE(component.SendResponse(kServer, kConn, 200));
}

TEST_F(SendLocalFile, PreparesLikeSendResponse) {
  const std::vector<HeaderRecord> headers = {{"Content-Type", "text/plain"}};
  EXPECT_TRUE(component.SendLocalFile(kServer, kConn, "/srv/a.txt", 404, std::nullopt, headers));
  EXPECT_TRUE(component.SendLocalFile(kServer, kConn, "", 200, ""));
  EXPECT_THAT(Calls(), ElementsAre(Call{"HP_HttpServer_SendLocalFile",
                                        {kServerArg, "7", "\"/srv/a.txt\"", "404", "\"Not Found\"",
                                         R"(["Content-Type": "text/plain"])", "1"}},
                                   Call{"HP_HttpServer_SendLocalFile",
                                        {kServerArg, "7", "null", "200", "null", "null", "0"}}));
}

TEST_F(SendFile, MissingFileIsAnsweredNotFoundWithTheCallersHeaders) {
  const std::vector<HeaderRecord> headers = {{"X-Trace", "1"}};
  for (const std::string& name : {directory + "/missing.txt", directory, std::string(),
                                  directory + std::string("/a\0b", 4)}) {
    fake_hpsocket::Reset();
    EXPECT_FALSE(component.SendFile(kServer, kConn, name, 200, "Fine", headers))
        << "\"" << name << "\"";
    EXPECT_THAT(Calls(), ElementsAre(Call{"HP_HttpServer_SendResponse",
                                          {kServerArg, "7", "404", "\"Not Found\"",
                                           R"(["X-Trace": "1"])", "1", "null", "0"}}))
        << "\"" << name << "\": a directory, an empty name or one with a zero byte is missing";
  }
  fake_hpsocket::Reset();
  EXPECT_FALSE(component.SendFile(kServer, kConn, directory + "/missing.txt", 200));
  EXPECT_THAT(Calls(), ElementsAre(Call{
                           "HP_HttpServer_SendResponse",
                           {kServerArg, "7", "404", "\"Not Found\"", "null", "0", "null", "0"}}));
}

TEST_F(SendFile, SmallFileGoesToTheEngineWithItsLength) {
  const std::string path = MakeFile("ten.txt", 10);
  const std::vector<HeaderRecord> headers = {{"X-Trace", "1"}};
  EXPECT_TRUE(component.SendFile(kServer, kConn, path, 200, std::nullopt, headers));
  EXPECT_THAT(Calls(), ElementsAre(Call{"HP_HttpServer_SendLocalFile",
                                        {kServerArg, "7", "\"" + path + "\"", "200", "\"OK\"",
                                         R"(["X-Trace": "1", "Content-Length": "10"])", "2"}}));
  EXPECT_THAT(headers, ElementsAre(HeaderRecord{"X-Trace", "1"}));
}

TEST_F(SendFile, EngineFailureOfASmallFileIsReturned) {
  Returns(HP_HttpServer_SendLocalFile, {FALSE});
  EXPECT_FALSE(component.SendFile(kServer, kConn, MakeFile("ten.txt", 10), 200, "Fine"));
}

TEST_F(SendFile, ChunkSizeIsTheBoundary) {
  const std::string below = MakeFile("below", kChunk - 1);
  EXPECT_TRUE(component.SendFile(kServer, kConn, below, 200));
  EXPECT_THAT(Functions(), ElementsAre("HP_HttpServer_SendLocalFile"));
  EXPECT_EQ(Calls()[0].args[5], R"(["Content-Length": "4194303"])");

  fake_hpsocket::Reset();
  const std::string exact = MakeFile("exact", kChunk);
  EXPECT_TRUE(component.SendFile(kServer, kConn, exact, 200));
  EXPECT_THAT(Functions(), ElementsAre("HP_HttpServer_SendResponse", "HP_Server_Send",
                                       "HP_Server_GetPendingDataLength", "HP_Server_IsConnected",
                                       "HP_Server_GetPendingDataLength"));
  EXPECT_EQ(Calls()[0], (Call{"HP_HttpServer_SendResponse",
                              {kServerArg, "7", "200", "\"OK\"", R"(["Content-Length": "4194304"])",
                               "1", "null", "0"}}));
  EXPECT_EQ(Calls()[1], (Call{"HP_Server_Send", {kServerArg, "7", "bytes", "4194304"}}));
}

TEST_F(SendFile, EmptyFileSendsTheHeadAlone) {
  const std::string empty = MakeFile("empty", 0);
  for (FileStreaming streaming : {FileStreaming::kAlways, FileStreaming::kWhenLarge}) {
    fake_hpsocket::Reset();
    EXPECT_TRUE(component.SendFile(kServer, kConn, empty, 200, std::nullopt, {}, streaming));
    // The engine's file sending refuses empty files, so even without the stream flag the head
    // goes out alone.
    EXPECT_THAT(Functions(),
                ElementsAre("HP_HttpServer_SendResponse", "HP_Server_GetPendingDataLength"));
    EXPECT_EQ(Calls()[0].args[4], R"(["Content-Length": "0"])");
  }
}

TEST_F(SendFile, StreamFlagStreamsASmallFile) {
  EXPECT_TRUE(component.SendFile(kServer, kConn, MakeFile("ten", 10), 200, std::nullopt, {},
                                 FileStreaming::kAlways));
  EXPECT_EQ(CallsTo("HP_Server_Send"),
            (std::vector<Call>{{"HP_Server_Send", {kServerArg, "7", "\"abcdefghij\"", "10"}}}));
}

// An engine whose pending count follows `pendings`, the last one repeating.
void ScriptPending(std::vector<int> pendings) {
  auto left = std::make_shared<std::vector<int>>(std::move(pendings));
  OnCall(HP_Server_GetPendingDataLength, [left](HP_Server, HP_CONNID, int* pending) -> BOOL {
    *pending = left->front();
    if (left->size() > 1) left->erase(left->begin());
    return TRUE;
  });
}

TEST_F(SendFile, WaitsWhileMoreThanAChunkIsPending) {
  ScriptPending({5'000'000, 5'000'000, static_cast<int>(kChunk), 0});
  EXPECT_TRUE(component.SendFile(kServer, kConn, MakeFile("two", 2 * kChunk), 200));
  EXPECT_THAT(Functions(), ElementsAre("HP_HttpServer_SendResponse", "HP_Server_Send",
                                       // over a chunk pending, still connected: wait
                                       "HP_Server_GetPendingDataLength", "HP_Server_IsConnected",
                                       "HP_Server_GetPendingDataLength", "HP_Server_IsConnected",
                                       // exactly a chunk pending: read the next one
                                       "HP_Server_GetPendingDataLength", "HP_Server_IsConnected",
                                       "HP_Server_Send", "HP_Server_GetPendingDataLength",
                                       "HP_Server_IsConnected",
                                       // drain
                                       "HP_Server_GetPendingDataLength"));
}

TEST_F(SendFile, DrainWaitsUntilNothingIsPending) {
  ScriptPending({0, 300, 300, 0});  // one poll after the chunk, then the drain
  EXPECT_TRUE(component.SendFile(kServer, kConn, MakeFile("ten", 10), 200, std::nullopt, {},
                                 FileStreaming::kAlways));
  EXPECT_EQ(CallsTo("HP_Server_GetPendingDataLength").size(), 4u);
}

TEST_F(SendFile, LostConnectionWhileDrainingIsAFailure) {
  ScriptPending({300});
  Returns(HP_Server_IsConnected, {TRUE, FALSE});
  EXPECT_FALSE(component.SendFile(kServer, kConn, MakeFile("ten", 10), 200, std::nullopt, {},
                                  FileStreaming::kAlways));
}

TEST_F(SendFile, DrainFailsWhenThePendingCountCannotBeRead) {
  Returns(HP_Server_GetPendingDataLength, {FALSE});
  EXPECT_FALSE(component.SendFile(kServer, kConn, MakeFile("ten", 10), 200, std::nullopt, {},
                                  FileStreaming::kAlways));
}

TEST_F(SendFile, FailedHeadSendsNothingMore) {
  Returns(HP_HttpServer_SendResponse, {FALSE});
  EXPECT_FALSE(component.SendFile(kServer, kConn, MakeFile("big", kChunk), 200));
  EXPECT_THAT(Functions(), ElementsAre("HP_HttpServer_SendResponse"));
}

TEST_F(SendFile, StreamCutShortReleasesTheConnectionAndFails) {
  struct Case {
    const char* why;
    std::function<void(const std::string& path)> script;
    int sends;
  };
  const Case cases[] = {
      {"the connection closes after the first chunk",
       [](const std::string&) { Returns(HP_Server_IsConnected, {FALSE}); }, 1},
      {"the engine refuses a chunk", [](const std::string&) { Returns(HP_Server_Send, {FALSE}); },
       1},
      {"the file shrinks after its length was promised",
       [](const std::string& path) {
         OnCall(HP_HttpServer_SendResponse,
                [path](HP_HttpServer, HP_CONNID, USHORT, LPCSTR, const HP_THeader*, int,
                       const BYTE*, int) -> BOOL {
                  EXPECT_EQ(::truncate(path.c_str(), kChunk + 10), 0);
                  return TRUE;
                });
       },
       2},
  };
  for (const Case& c : cases) {
    fake_hpsocket::Reset();
    const std::string path = MakeFile("cut", 2 * kChunk);
    c.script(path);
    EXPECT_FALSE(component.SendFile(kServer, kConn, path, 200)) << c.why;
    EXPECT_EQ(CallsTo("HP_Server_Send").size(), static_cast<std::size_t>(c.sends)) << c.why;
    EXPECT_THAT(CallsTo("HP_HttpServer_Release"),
                ElementsAre(Call{"HP_HttpServer_Release", {kServerArg, "7"}}))
        << c.why;
  }
}

TEST_F(SendFile, SendsNoMoreThanPromisedWhenTheFileGrows) {
  const std::string path = MakeFile("grows", 10);
  OnCall(HP_HttpServer_SendResponse,
         [path](HP_HttpServer, HP_CONNID, USHORT, LPCSTR, const HP_THeader*, int, const BYTE*,
                int) -> BOOL {
           std::ofstream(path, std::ios::app) << "0123456789";
           return TRUE;
         });
  EXPECT_TRUE(
      component.SendFile(kServer, kConn, path, 200, std::nullopt, {}, FileStreaming::kAlways));
  EXPECT_EQ(CallsTo("HP_Server_Send"),
            (std::vector<Call>{{"HP_Server_Send", {kServerArg, "7", "\"abcdefghij\"", "10"}}}));
  EXPECT_THAT(CallsTo("HP_HttpServer_Release"), IsEmpty());
}

}  // namespace
}  // namespace quillmere
