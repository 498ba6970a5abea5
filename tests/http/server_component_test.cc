// HttpServerComponent against the recording fake of the engine: what exactly reaches the engine.
#include "http/server_component.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/http/fake_hpsocket.h"

namespace quillmere {
namespace {

using fake_hpsocket::Call;
using fake_hpsocket::Calls;
using fake_hpsocket::CallsTo;
using fake_hpsocket::Functions;
using fake_hpsocket::Handle;
using fake_hpsocket::kListener;
using fake_hpsocket::kServer;
using fake_hpsocket::OnCall;
using fake_hpsocket::Returns;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kServerArg = Handle(kServer);
const std::string kListenerArg = Handle(kListener);
constexpr HP_CONNID kConn = 7;

// A callback address that is installed but never called.
template <typename Fn>
Fn Callback() {
  return reinterpret_cast<Fn>(std::uintptr_t{0xCA11});
}
const std::string kCallbackArg = Handle(reinterpret_cast<const void*>(std::uintptr_t{0xCA11}));

class HttpServerComponentTest : public ::testing::Test {
 protected:
  void SetUp() override { fake_hpsocket::Reset(); }
  void TearDown() override { fake_hpsocket::Reset(); }
  HttpServerComponent component;
};

using CreateServer = HttpServerComponentTest;
using SetOn = HttpServerComponentTest;
using DestroyListener = HttpServerComponentTest;
using Start = HttpServerComponentTest;
using NoServer = HttpServerComponentTest;
using AddressGetters = HttpServerComponentTest;
using GetAllConnectionIDs = HttpServerComponentTest;
using ListGetters = HttpServerComponentTest;
using GetHeader = HttpServerComponentTest;
using SendPackets = HttpServerComponentTest;
using Forwarders = HttpServerComponentTest;

TEST_F(CreateServer, SecondServerReusesTheListener) {
  EXPECT_EQ(component.CreateServer(), kServer);
  EXPECT_EQ(component.CreateServer(), kServer);
  EXPECT_THAT(Calls(), ElementsAre(Call{"Create_HP_HttpServerListener", {}},
                                   Call{"Create_HP_HttpServer", {kListenerArg}},
                                   Call{"Create_HP_HttpServer", {kListenerArg}}));
}

TEST_F(CreateServer, WithoutListenerGivesMinusOneAndCreatesNoServer) {
  Returns(Create_HP_HttpServerListener, {nullptr});
  EXPECT_EQ(component.CreateServer(), kNoListenerServer);
  EXPECT_EQ(reinterpret_cast<std::intptr_t>(kNoListenerServer), -1);
  EXPECT_THAT(Functions(), ElementsAre("Create_HP_HttpServerListener"));
}

TEST_F(CreateServer, FailedServerIsTheEnginesNull) {
  Returns(Create_HP_HttpServer, {nullptr});
  EXPECT_EQ(component.CreateServer(), nullptr);
}

TEST_F(SetOn, FailedListenerInstallsNothingAndIsRetried) {
  Returns(Create_HP_HttpServerListener, {nullptr, kListener});
  EXPECT_FALSE(component.SetOnBody(Callback<HP_FN_HttpServer_OnBody>()));
  EXPECT_THAT(Functions(), ElementsAre("Create_HP_HttpServerListener"));
  EXPECT_TRUE(component.SetOnBody(Callback<HP_FN_HttpServer_OnBody>()));
  EXPECT_TRUE(component.SetOnAccept(Callback<HP_FN_HttpServer_OnAccept>()));
  EXPECT_THAT(Calls(),
              ElementsAre(Call{"Create_HP_HttpServerListener", {}},
                          Call{"Create_HP_HttpServerListener", {}},
                          Call{"HP_Set_FN_HttpServer_OnBody", {kListenerArg, kCallbackArg}},
                          Call{"HP_Set_FN_HttpServer_OnAccept", {kListenerArg, kCallbackArg}}));
}

TEST_F(SetOn, EachSetterInstallsOnItsOwnEvent) {
  using C = HttpServerComponent;
  const std::vector<std::pair<std::string, std::function<bool(C&)>>> setters = {
      {"OnPrepareListen",
       [](C& c) { return c.SetOnPrepareListen(Callback<HP_FN_HttpServer_OnPrepareListen>()); }},
      {"OnAccept", [](C& c) { return c.SetOnAccept(Callback<HP_FN_HttpServer_OnAccept>()); }},
      {"OnHandShake",
       [](C& c) { return c.SetOnHandShake(Callback<HP_FN_HttpServer_OnHandShake>()); }},
      {"OnSend", [](C& c) { return c.SetOnSend(Callback<HP_FN_HttpServer_OnSend>()); }},
      {"OnReceive", [](C& c) { return c.SetOnReceive(Callback<HP_FN_HttpServer_OnReceive>()); }},
      {"OnClose", [](C& c) { return c.SetOnClose(Callback<HP_FN_HttpServer_OnClose>()); }},
      {"OnShutdown", [](C& c) { return c.SetOnShutdown(Callback<HP_FN_HttpServer_OnShutdown>()); }},
      {"OnMessageBegin",
       [](C& c) { return c.SetOnMessageBegin(Callback<HP_FN_HttpServer_OnMessageBegin>()); }},
      {"OnRequestLine",
       [](C& c) { return c.SetOnRequestLine(Callback<HP_FN_HttpServer_OnRequestLine>()); }},
      {"OnHeader", [](C& c) { return c.SetOnHeader(Callback<HP_FN_HttpServer_OnHeader>()); }},
      {"OnHeadersComplete",
       [](C& c) { return c.SetOnHeadersComplete(Callback<HP_FN_HttpServer_OnHeadersComplete>()); }},
      {"OnBody", [](C& c) { return c.SetOnBody(Callback<HP_FN_HttpServer_OnBody>()); }},
      {"OnChunkHeader",
       [](C& c) { return c.SetOnChunkHeader(Callback<HP_FN_HttpServer_OnChunkHeader>()); }},
      {"OnChunkComplete",
       [](C& c) { return c.SetOnChunkComplete(Callback<HP_FN_HttpServer_OnChunkComplete>()); }},
      {"OnMessageComplete",
       [](C& c) { return c.SetOnMessageComplete(Callback<HP_FN_HttpServer_OnMessageComplete>()); }},
      {"OnUpgrade", [](C& c) { return c.SetOnUpgrade(Callback<HP_FN_HttpServer_OnUpgrade>()); }},
      {"OnParseError",
       [](C& c) { return c.SetOnParseError(Callback<HP_FN_HttpServer_OnParseError>()); }},
  };
  for (const auto& [event, set] : setters) {
    fake_hpsocket::Reset();
    HttpServerComponent fresh;
    EXPECT_TRUE(set(fresh)) << event;
    EXPECT_THAT(Calls(),
                ElementsAre(Call{"Create_HP_HttpServerListener", {}},
                            Call{"HP_Set_FN_HttpServer_" + event, {kListenerArg, kCallbackArg}}))
        << event;
  }
}

TEST_F(DestroyListener, DestroysOnceAndOnlyWhatIsHeld) {
  component.DestroyListener();
  EXPECT_THAT(Calls(), IsEmpty());
  component.CreateListener();
  HttpServerComponent copy = component;  // names the same listener
  component.DestroyListener();
  component.DestroyListener();
  EXPECT_THAT(Calls(), ElementsAre(Call{"Create_HP_HttpServerListener", {}},
                                   Call{"Destroy_HP_HttpServerListener", {kListenerArg}}));
  EXPECT_EQ(copy.CreateListener(), kListener);
  component.CreateListener();  // created afresh after being destroyed
  EXPECT_EQ(CallsTo("Create_HP_HttpServerListener").size(), 2u);
}

TEST_F(Start, BindAddress) {
  struct Case {
    std::optional<std::string_view> address;
    std::string passed;
    const char* why;
  };
  const Case cases[] = {
      {std::nullopt, "\"0.0.0.0\"", "an omitted address means every IPv4 address"},
      {"", "null", "an empty address is handed over as null"},
      {"127.0.0.1", "\"127.0.0.1\"", "a given address is passed unchanged"},
  };
  for (const Case& c : cases) {
    fake_hpsocket::Reset();
    EXPECT_TRUE(component.Start(kServer, c.address, 12345)) << c.why;
    EXPECT_THAT(Calls(), ElementsAre(Call{"HP_Server_Start", {kServerArg, c.passed, "12345"}}))
        << c.why;
  }
}

TEST_F(Start, ReportsTheEnginesFailure) {
  Returns(HP_Server_Start, {FALSE});
  EXPECT_FALSE(component.Start(kServer, std::nullopt, 12345));
}

// CreateServer's -1 (no listener) and a null handle reach the engine in no method.
TEST_F(NoServer, CallsNothing) {
  using C = HttpServerComponent;
  const std::vector<std::pair<const char*, std::function<bool(C&, HP_HttpServer)>>> methods = {
      {"Start", [](C& c, HP_HttpServer s) { return c.Start(s, std::nullopt, 1); }},
      {"Stop", [](C& c, HP_HttpServer s) { return c.Stop(s); }},
      {"HasStarted", [](C& c, HP_HttpServer s) { return c.HasStarted(s); }},
      {"GetState", [](C& c, HP_HttpServer s) { return c.GetState(s) != SS_STOPPED; }},
      {"GetLastErrorDesc", [](C& c, HP_HttpServer s) { return !c.GetLastErrorDesc(s).empty(); }},
      {"Send", [](C& c, HP_HttpServer s) { return c.Send(s, kConn, nullptr, 0); }},
      {"SendBytes", [](C& c, HP_HttpServer s) { return c.SendBytes(s, kConn, "x"); }},
      {"SetConnectionExtra",
       [](C& c, HP_HttpServer s) { return c.SetConnectionExtra(s, kConn, &c); }},
      {"GetConnectionExtra",
       [](C& c, HP_HttpServer s) {
         PVOID extra = nullptr;
         return c.GetConnectionExtra(s, kConn, extra) || extra != nullptr;
       }},
      {"GetRemoteAddress",
       [](C& c, HP_HttpServer s) {
         std::string address;
         USHORT port = 0;
         return c.GetRemoteAddress(s, kConn, address, port);
       }},
      {"GetAllConnectionIDs",
       [](C& c, HP_HttpServer s) {
         std::vector<HP_CONNID> ids;
         return c.GetAllConnectionIDs(s, ids);
       }},
      {"GetMethod", [](C& c, HP_HttpServer s) { return !c.GetMethod(s, kConn).empty(); }},
      {"GetUrlField",
       [](C& c, HP_HttpServer s) { return !c.GetUrlField(s, kConn, HUF_PATH).empty(); }},
      {"IsUpgrade", [](C& c, HP_HttpServer s) { return c.IsUpgrade(s, kConn); }},
      {"IsKeepAlive", [](C& c, HP_HttpServer s) { return c.IsKeepAlive(s, kConn); }},
      {"GetHeader", [](C& c, HP_HttpServer s) { return !c.GetHeader(s, kConn, "Host").empty(); }},
      {"SetMaxConnectionCount",
       [](C& c, HP_HttpServer s) {
         c.SetMaxConnectionCount(s, 5);
         return c.GetMaxConnectionCount(s) != 0;
       }},
      {"SendResponse", [](C& c, HP_HttpServer s) { return c.SendResponse(s, kConn, 200); }},
      {"SendLocalFile",
       [](C& c, HP_HttpServer s) { return c.SendLocalFile(s, kConn, "/etc/hostname", 200); }},
      {"SendFile",
       [](C& c, HP_HttpServer s) { return c.SendFile(s, kConn, "/etc/hostname", 200); }},
      {"Release", [](C& c, HP_HttpServer s) { return c.Release(s, kConn); }},
      {"DestroyServer",
       [](C& c, HP_HttpServer s) {
         c.DestroyServer(s);
         return false;
       }},
  };
  for (HP_HttpServer server : {HP_HttpServer{nullptr}, kNoListenerServer}) {
    for (const auto& [name, call] : methods) {
      fake_hpsocket::Reset();
      EXPECT_FALSE(call(component, server)) << name << " on " << Handle(server);
      EXPECT_THAT(Calls(), IsEmpty()) << name << " on " << Handle(server);
    }
  }
}

// The engine's address getter: reports `needed` for a too small buffer, else writes `address`.
std::function<BOOL(HP_Server, HP_CONNID, TCHAR*, int*, USHORT*)> AddressGetter(
    int needed, std::string address, BOOL secondResult = TRUE) {
  return [=](HP_Server, HP_CONNID, TCHAR* buffer, int* length, USHORT* port) -> BOOL {
    if (*length < static_cast<int>(address.size()) + 1) {
      *length = needed;
      return FALSE;
    }
    if (!secondResult) return FALSE;
    std::memcpy(buffer, address.c_str(), address.size() + 1);
    *length = static_cast<int>(address.size()) + 1;
    *port = 4321;
    return TRUE;
  };
}

TEST_F(AddressGetters, NoReportedLengthStillCallsTwiceWithFifty) {
  OnCall(HP_Server_GetRemoteAddress, AddressGetter(0, "10.0.0.7"));
  std::string address = "old text";
  USHORT port = 0;
  EXPECT_TRUE(component.GetRemoteAddress(kServer, kConn, address, port));
  EXPECT_EQ(address, "10.0.0.7");
  EXPECT_EQ(port, 4321);
  EXPECT_THAT(
      Calls(),
      ElementsAre(Call{"HP_Server_GetRemoteAddress", {kServerArg, "7", "ptr", "*0", "ptr"}},
                  Call{"HP_Server_GetRemoteAddress", {kServerArg, "7", "ptr", "*50", "ptr"}}));
}

TEST_F(AddressGetters, UseTheReportedLength) {
  OnCall(HP_Server_GetLocalAddress, AddressGetter(16, "127.0.0.1"));
  OnCall(HP_Server_GetListenAddress, [](HP_Server s, TCHAR* b, int* l, USHORT* p) {
    return AddressGetter(16, "0.0.0.0")(s, 0, b, l, p);
  });
  std::string address;
  USHORT port = 0;
  EXPECT_TRUE(component.GetLocalAddress(kServer, kConn, address, port));
  EXPECT_EQ(address, "127.0.0.1");
  EXPECT_TRUE(component.GetListenAddress(kServer, address, port));
  EXPECT_EQ(address, "0.0.0.0");
  EXPECT_THAT(Calls(),
              ElementsAre(Call{"HP_Server_GetLocalAddress", {kServerArg, "7", "ptr", "*0", "ptr"}},
                          Call{"HP_Server_GetLocalAddress", {kServerArg, "7", "ptr", "*16", "ptr"}},
                          Call{"HP_Server_GetListenAddress", {kServerArg, "ptr", "*0", "ptr"}},
                          Call{"HP_Server_GetListenAddress", {kServerArg, "ptr", "*16", "ptr"}}));
}

TEST_F(AddressGetters, FailedSecondCallLeavesAnEmptyAddress) {
  OnCall(HP_Server_GetRemoteAddress, AddressGetter(16, "10.0.0.7", FALSE));
  std::string address = "old text";
  USHORT port = 99;
  EXPECT_FALSE(component.GetRemoteAddress(kServer, kConn, address, port));
  EXPECT_EQ(address, "");
  EXPECT_EQ(port, 99);
}

// The engine's ID getter over a scripted set of IDs per call.
void ScriptConnectionIDs(std::vector<std::vector<HP_CONNID>> idsPerCall) {
  auto calls = std::make_shared<std::vector<std::vector<HP_CONNID>>>(std::move(idsPerCall));
  OnCall(HP_Server_GetAllConnectionIDs, [calls](HP_Server, HP_CONNID* ids, DWORD* count) -> BOOL {
    const std::vector<HP_CONNID> now = calls->front();
    if (calls->size() > 1) calls->erase(calls->begin());
    const DWORD capacity = *count;
    *count = static_cast<DWORD>(now.size());
    if (ids == nullptr || capacity == 0 || now.empty() || now.size() > capacity) return FALSE;
    std::copy(now.begin(), now.end(), ids);
    return TRUE;
  });
}

TEST_F(GetAllConnectionIDs, CountsFirstThenFillsANewArray) {
  ScriptConnectionIDs({{4, 5, 6}});
  std::vector<HP_CONNID> ids = {99};
  EXPECT_TRUE(component.GetAllConnectionIDs(kServer, ids));
  EXPECT_THAT(ids, ElementsAre(4, 5, 6));
  EXPECT_THAT(Calls(),
              ElementsAre(Call{"HP_Server_GetAllConnectionIDs", {kServerArg, "ptr", "*0"}},
                          Call{"HP_Server_GetAllConnectionIDs", {kServerArg, "ptr", "*3"}}));
}

TEST_F(GetAllConnectionIDs, KeepsOnlyTheIDsWrittenWhenConnectionsCloseBetweenTheCalls) {
  ScriptConnectionIDs({{4, 5, 6}, {5, 6}});
  std::vector<HP_CONNID> ids;
  EXPECT_TRUE(component.GetAllConnectionIDs(kServer, ids));
  EXPECT_THAT(ids, ElementsAre(5, 6));
}

TEST_F(GetAllConnectionIDs, NoConnectionsIsFalseAndEmpty) {
  ScriptConnectionIDs({{}});
  std::vector<HP_CONNID> ids = {1, 2};
  EXPECT_FALSE(component.GetAllConnectionIDs(kServer, ids));
  EXPECT_THAT(ids, IsEmpty());
}

// The engine's list getters over a scripted list of texts or pairs.
void ScriptHeaderValues(std::vector<const char*> values) {
  OnCall(HP_HttpServer_GetHeaders,
         [values](HP_HttpServer, HP_CONNID, LPCSTR, LPCSTR* array, DWORD* count) -> BOOL {
           const DWORD capacity = *count;
           *count = static_cast<DWORD>(values.size());
           if (array == nullptr || capacity == 0 || values.empty() || values.size() > capacity)
             return FALSE;
           std::copy(values.begin(), values.end(), array);
           return TRUE;
         });
}

void ScriptAllHeaders(std::vector<HP_THeader> pairs) {
  OnCall(HP_HttpServer_GetAllHeaders,
         [pairs](HP_HttpServer, HP_CONNID, HP_THeader* array, DWORD* count) -> BOOL {
           const DWORD capacity = *count;
           *count = static_cast<DWORD>(pairs.size());
           if (array == nullptr || capacity == 0 || pairs.empty() || pairs.size() > capacity)
             return FALSE;
           std::copy(pairs.begin(), pairs.end(), array);
           return TRUE;
         });
}

TEST_F(ListGetters, GetHeadersWithoutValuesIsFalseAndLeavesTheListEmpty) {
  ScriptHeaderValues({});
  std::vector<std::string> values = {"stale"};
  EXPECT_FALSE(component.GetHeaders(kServer, kConn, "Accept", values));
  EXPECT_THAT(values, IsEmpty());
  EXPECT_THAT(Calls(), ElementsAre(Call{"HP_HttpServer_GetHeaders",
                                        {kServerArg, "7", "\"Accept\"", "null", "*0"}}));
}

TEST_F(ListGetters, GetHeadersCopiesEveryValue) {
  ScriptHeaderValues({"text/plain", "text/html"});
  std::vector<std::string> values = {"stale"};
  EXPECT_TRUE(component.GetHeaders(kServer, kConn, "Accept", values));
  EXPECT_THAT(values, ElementsAre("text/plain", "text/html"));
  EXPECT_THAT(
      Calls(),
      ElementsAre(Call{"HP_HttpServer_GetHeaders", {kServerArg, "7", "\"Accept\"", "null", "*0"}},
                  Call{"HP_HttpServer_GetHeaders", {kServerArg, "7", "\"Accept\"", "ptr", "*2"}}));
}

TEST_F(ListGetters, GetAllHeaderNamesInTwoSteps) {
  OnCall(HP_HttpServer_GetAllHeaderNames,
         [](HP_HttpServer, HP_CONNID, LPCSTR* array, DWORD* count) -> BOOL {
           const DWORD capacity = *count;
           *count = 2;
           if (array == nullptr || capacity < 2) return FALSE;
           array[0] = "Host";
           array[1] = "Accept";
           return TRUE;
         });
  std::vector<std::string> names;
  EXPECT_TRUE(component.GetAllHeaderNames(kServer, kConn, names));
  EXPECT_THAT(names, ElementsAre("Host", "Accept"));
  EXPECT_THAT(Functions(),
              ElementsAre("HP_HttpServer_GetAllHeaderNames", "HP_HttpServer_GetAllHeaderNames"));
}

TEST_F(ListGetters, GetAllHeadersCopiesNamesAndValues) {
  ScriptAllHeaders({{"Host", "a"}, {"X-Empty", nullptr}});
  std::vector<HeaderRecord> headers = {{"stale", "x"}};
  EXPECT_TRUE(component.GetAllHeaders(kServer, kConn, headers));
  EXPECT_THAT(headers, ElementsAre(HeaderRecord{"Host", "a"}, HeaderRecord{"X-Empty", ""}));
  EXPECT_THAT(Calls(),
              ElementsAre(Call{"HP_HttpServer_GetAllHeaders", {kServerArg, "7", "null", "*0"}},
                          Call{"HP_HttpServer_GetAllHeaders", {kServerArg, "7", "ptr", "*2"}}));
}

TEST_F(ListGetters, GetAllCookiesWithoutCookiesIsFalse) {
  std::vector<HeaderRecord> cookies = {{"stale", "x"}};
  Returns(HP_HttpServer_GetAllCookies, {FALSE});
  EXPECT_FALSE(component.GetAllCookies(kServer, kConn, cookies));
  EXPECT_THAT(cookies, IsEmpty());
  EXPECT_THAT(Functions(), ElementsAre("HP_HttpServer_GetAllCookies"));
}

TEST_F(ListGetters, GetAllCookiesCopiesEachPair) {
  OnCall(HP_HttpServer_GetAllCookies,
         [](HP_HttpServer, HP_CONNID, HP_TCookie* array, DWORD* count) -> BOOL {
           const DWORD capacity = *count;
           *count = 1;
           if (array == nullptr || capacity < 1) return FALSE;
           array[0] = {"sid", "42"};
           return TRUE;
         });
  std::vector<HeaderRecord> cookies;
  EXPECT_TRUE(component.GetAllCookies(kServer, kConn, cookies));
  EXPECT_THAT(cookies, ElementsAre(HeaderRecord{"sid", "42"}));
}

TEST_F(GetHeader, CopiesThePresentValueAndGivesEmptyOtherwise) {
  OnCall(HP_HttpServer_GetHeader, [](HP_HttpServer, HP_CONNID, LPCSTR name, LPCSTR* value) -> BOOL {
    if (name == nullptr || std::strcmp(name, "Host") != 0) return FALSE;
    *value = "example.org";
    return TRUE;
  });
  EXPECT_EQ(component.GetHeader(kServer, kConn, "Host"), "example.org");
  EXPECT_EQ(component.GetHeader(kServer, kConn, "Missing"), "");
  EXPECT_EQ(component.GetHeader(kServer, kConn, ""), "");
  EXPECT_EQ(CallsTo("HP_HttpServer_GetHeader").back(),
            (Call{"HP_HttpServer_GetHeader", {kServerArg, "7", "null", "ptr"}}))
      << "an empty name is handed over as null";
}

TEST_F(GetHeader, GetCookieLikewise) {
  Returns(HP_HttpServer_GetCookie, {FALSE});
  EXPECT_EQ(component.GetCookie(kServer, kConn, "sid"), "");
  OnCall(HP_HttpServer_GetCookie, [](HP_HttpServer, HP_CONNID, LPCSTR, LPCSTR* value) -> BOOL {
    *value = "42";
    return TRUE;
  });
  EXPECT_EQ(component.GetCookie(kServer, kConn, "sid"), "42");
  EXPECT_THAT(CallsTo("HP_HttpServer_GetCookie"),
              ElementsAre(Call{"HP_HttpServer_GetCookie", {kServerArg, "7", "\"sid\"", "ptr"}},
                          Call{"HP_HttpServer_GetCookie", {kServerArg, "7", "\"sid\"", "ptr"}}));
}

TEST_F(SendPackets, BuildsTheBuffersInOrderAndCopiesTheLengthsBack) {
  OnCall(HP_Server_SendPackets, [](HP_Server, HP_CONNID, const WSABUF* buffers, int) -> BOOL {
    const_cast<WSABUF*>(buffers)[0].len = 1;  // an engine that reports what it took
    return TRUE;
  });
  std::vector<PacketRecord> packets = {{3, "abc"}, {0, ""}, {2, "xyz"}, {9, "pq"}};
  EXPECT_TRUE(component.SendPackets(kServer, kConn, packets));
  EXPECT_THAT(Calls(),
              ElementsAre(Call{"HP_Server_SendPackets",
                               {kServerArg, "7", R"(["abc"/3, null/0, "xy"/2, "pq"/2])", "4"}}))
      << "an empty packet is a null buffer; a length past the bytes is cut to them";
  EXPECT_EQ(packets[0].length, 1u);
  EXPECT_EQ(packets[2].length, 2u);
  EXPECT_EQ(packets[3].length, 2u);
}

TEST_F(SendPackets, EmptyListIsHandedOverAsNull) {
  Returns(HP_Server_SendPackets, {FALSE});
  std::vector<PacketRecord> packets;
  EXPECT_FALSE(component.SendPackets(kServer, kConn, packets));
  EXPECT_THAT(Calls(), ElementsAre(Call{"HP_Server_SendPackets", {kServerArg, "7", "null", "0"}}));
}

TEST_F(Forwarders, PassArgumentsUnchangedAndReturnTheEnginesResult) {
  using C = HttpServerComponent;
  struct Case {
    std::function<void(C&)> call;
    Call reaches;
  };
  int target = 0;
  const std::string targetArg = Handle(&target);
  const Case cases[] = {
      {[](C& c) { EXPECT_TRUE(c.Send(kServer, 3, reinterpret_cast<const BYTE*>("hey"), 3)); },
       {"HP_Server_Send", {kServerArg, "3", "\"hey\"", "3"}}},
      {[](C& c) { EXPECT_TRUE(c.SendBytes(kServer, 3, "")); },
       {"HP_Server_Send", {kServerArg, "3", "null", "0"}}},
      {[](C& c) { EXPECT_TRUE(c.SendBytes(kServer, 3, "ab")); },
       {"HP_Server_Send", {kServerArg, "3", "\"ab\"", "2"}}},
      {[](C& c) {
         EXPECT_TRUE(c.SendPart(kServer, 3, reinterpret_cast<const BYTE*>("abcd"), 4, 1));
       },
       {"HP_Server_SendPart", {kServerArg, "3", "\"abcd\"", "4", "1"}}},
      {[](C& c) { EXPECT_TRUE(c.Disconnect(kServer, 3, true)); },
       {"HP_Server_Disconnect", {kServerArg, "3", "1"}}},
      {[](C& c) { EXPECT_TRUE(c.DisconnectSilenceConnections(kServer, 5000, false)); },
       {"HP_Server_DisconnectSilenceConnections", {kServerArg, "5000", "0"}}},
      {[&](C& c) { EXPECT_TRUE(c.SetConnectionExtra(kServer, 3, &target)); },
       {"HP_Server_SetConnectionExtra", {kServerArg, "3", targetArg}}},
      {[](C& c) { EXPECT_EQ(c.GetUrlField(kServer, 3, HUF_PATH), ""); },
       {"HP_HttpServer_GetUrlField", {kServerArg, "3", "3"}}},
      {[](C& c) { EXPECT_TRUE(c.IsUpgrade(kServer, 3)); },
       {"HP_HttpServer_IsUpgrade", {kServerArg, "3"}}},
      {[](C& c) { EXPECT_TRUE(c.IsKeepAlive(kServer, 3)); },
       {"HP_HttpServer_IsKeepAlive", {kServerArg, "3"}}},
      {[](C& c) { EXPECT_TRUE(c.Release(kServer, 3)); },
       {"HP_HttpServer_Release", {kServerArg, "3"}}},
      {[](C& c) { c.SetMaxConnectionCount(kServer, 77); },
       {"HP_Server_SetMaxConnectionCount", {kServerArg, "77"}}},
      {[](C& c) { c.SetSendPolicy(kServer, SP_DIRECT); },
       {"HP_Server_SetSendPolicy", {kServerArg, "2"}}},
      {[](C& c) { c.SetReleaseDelay(kServer, 1500); },
       {"HP_HttpServer_SetReleaseDelay", {kServerArg, "1500"}}},
      {[](C& c) { c.SetLocalVersion(kServer, HV_1_0); },
       {"HP_HttpServer_SetLocalVersion", {kServerArg, "1"}}},
      {[](C& c) { EXPECT_TRUE(c.Stop(kServer)); }, {"HP_Server_Stop", {kServerArg}}},
      {[](C& c) { c.DestroyServer(kServer); }, {"Destroy_HP_HttpServer", {kServerArg}}},
  };
  for (const Case& c : cases) {
    fake_hpsocket::Reset();
    c.call(component);
    EXPECT_THAT(Calls(), ElementsAre(c.reaches));
  }
}

TEST_F(Forwarders, CopyTheEnginesTextsAndWriteTheOutputs) {
  Returns(HP_HttpServer_GetMethod, {"GET"});
  Returns(HP_HttpServer_GetUrlField, {"/a/b"});
  Returns(HP_Server_GetLastErrorDesc, {nullptr});
  Returns(HP_HttpServer_GetContentLength, {ULONGLONG{5'000'000'000}});
  int record = 0;
  OnCall(HP_Server_GetConnectionExtra, [&](HP_Server, HP_CONNID, PVOID* extra) -> BOOL {
    *extra = &record;
    return TRUE;
  });
  OnCall(HP_Server_GetPendingDataLength, [](HP_Server, HP_CONNID, int* pending) -> BOOL {
    *pending = 12;
    return TRUE;
  });
  OnCall(HP_HttpServer_GetParseErrorCode, [](HP_HttpServer, HP_CONNID, LPCSTR* text) -> USHORT {
    *text = "invalid method";
    return 16;
  });
  EXPECT_EQ(component.GetMethod(kServer, kConn), "GET");
  EXPECT_EQ(component.GetUrlField(kServer, kConn, HUF_PATH), "/a/b");
  EXPECT_EQ(component.GetLastErrorDesc(kServer), "");
  EXPECT_EQ(component.GetContentLength(kServer, kConn), 5'000'000'000u);
  PVOID extra = nullptr;
  EXPECT_TRUE(component.GetConnectionExtra(kServer, kConn, extra));
  EXPECT_EQ(extra, &record);
  int pending = 0;
  EXPECT_TRUE(component.GetPendingDataLength(kServer, kConn, pending));
  EXPECT_EQ(pending, 12);
  std::string description;
  EXPECT_EQ(component.GetParseErrorCode(kServer, kConn, description), 16);
  EXPECT_EQ(description, "invalid method");
}

TEST_F(Forwarders, GetConnectionExtraLeavesTheOutputWhenTheEngineDoesNotWriteIt) {
  Returns(HP_Server_GetConnectionExtra, {FALSE});
  int marker = 0;
  PVOID extra = &marker;
  EXPECT_FALSE(component.GetConnectionExtra(kServer, kConn, extra));
  EXPECT_EQ(extra, &marker);
}

}  // namespace
}  // namespace quillmere
