// TaskPool against the recording fake of the engine.
#include "http/task_pool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "tests/http/fake_hpsocket.h"

namespace quillmere {
namespace {

using fake_hpsocket::Call;
using fake_hpsocket::Calls;
using fake_hpsocket::CallsTo;
using fake_hpsocket::Functions;
using fake_hpsocket::Handle;
using fake_hpsocket::kPool;
using fake_hpsocket::Returns;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kPoolArg = Handle(kPool);
const std::string kInfinite = "4294967295";

void Procedure(TSocketTask*) {}
void PlainProcedure(PVOID) {}
const std::string kProcedureArg = Handle(reinterpret_cast<const void*>(&Procedure));

class TaskPoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_hpsocket::Reset();
    ASSERT_TRUE(pool.Create());
    fake_hpsocket::Reset();
  }
  void TearDown() override { fake_hpsocket::Reset(); }
  TaskPool pool;
};

using SubmitTask = TaskPoolTest;
using OmittedWaits = TaskPoolTest;
using Lifecycle = TaskPoolTest;

TEST_F(SubmitTask, OmittedArgumentsMakeABareTaskAndWaitWithoutLimit) {
  int server = 0;
  EXPECT_TRUE(pool.SubmitTask(&Procedure, &server, 42));
  ASSERT_EQ(Calls().size(), 2u);
  EXPECT_EQ(Calls()[0], (Call{"Create_HP_SocketTaskObj",
                              {kProcedureArg, Handle(&server), "42", "null", "0", "0", "0", "0"}}));
  EXPECT_EQ(Calls()[1].function, "HP_ThreadPool_Submit_Task");
  EXPECT_EQ(Calls()[1].args[0], kPoolArg);
  EXPECT_EQ(Calls()[1].args[2], kInfinite);
  EXPECT_THAT(CallsTo("Destroy_HP_SocketTaskObj"), IsEmpty()) << "the pool owns an accepted task";
}

TEST_F(SubmitTask, PassesEveryGivenArgumentInFieldOrder) {
  const BYTE data[] = {'h', 'i'};
  EXPECT_TRUE(pool.SubmitTask(&Procedure, nullptr, 9, data, 2, TBT_REFER, 5, -6, 250));
  EXPECT_EQ(Calls()[0], (Call{"Create_HP_SocketTaskObj",
                              {kProcedureArg, "null", "9", "\"hi\"", "2", "1", "5", "-6"}}));
  EXPECT_EQ(Calls()[1].args[2], "250");
}

TEST_F(SubmitTask, RefusedTaskIsDestroyed) {
  TSocketTask task{};
  fake_hpsocket::OnCall(Create_HP_SocketTaskObj,
                        [&](HP_Fn_SocketTaskProc, PVOID, HP_CONNID, LPCBYTE, INT,
                            En_HP_TaskBufferType, WPARAM, LPARAM) { return &task; });
  Returns(HP_ThreadPool_Submit_Task, {FALSE});
  EXPECT_FALSE(pool.SubmitTask(&Procedure, nullptr, 1));
  EXPECT_THAT(Calls(),
              ElementsAre(Call{"Create_HP_SocketTaskObj",
                               {kProcedureArg, "null", "1", "null", "0", "0", "0", "0"}},
                          Call{"HP_ThreadPool_Submit_Task", {kPoolArg, Handle(&task), kInfinite}},
                          Call{"Destroy_HP_SocketTaskObj", {Handle(&task)}}));
}

TEST_F(SubmitTask, TaskThatCannotBeMadeIsNotSubmitted) {
  Returns(Create_HP_SocketTaskObj, {nullptr});
  EXPECT_FALSE(pool.SubmitTask(&Procedure, nullptr, 1));
  EXPECT_THAT(Functions(), ElementsAre("Create_HP_SocketTaskObj"));
}

TEST_F(OmittedWaits, PassInfinite) {
  struct Case {
    std::function<bool(TaskPool&)> call;
    Call reaches;
  };
  const std::string plain = Handle(reinterpret_cast<const void*>(&PlainProcedure));
  const Case cases[] = {
      {[](TaskPool& p) { return p.Stop(); }, {"HP_ThreadPool_Stop", {kPoolArg, kInfinite}}},
      {[](TaskPool& p) { return p.Stop(500); }, {"HP_ThreadPool_Stop", {kPoolArg, "500"}}},
      {[](TaskPool& p) { return p.Submit(&PlainProcedure, nullptr); },
       {"HP_ThreadPool_Submit", {kPoolArg, plain, "null", kInfinite}}},
      {[](TaskPool& p) { return p.Submit(&PlainProcedure, nullptr, 0); },
       {"HP_ThreadPool_Submit", {kPoolArg, plain, "null", "0"}}},
  };
  for (const Case& c : cases) {
    fake_hpsocket::Reset();
    EXPECT_TRUE(c.call(pool));
    EXPECT_THAT(Calls(), ElementsAre(c.reaches));
  }
}

TEST_F(Lifecycle, StartPassesItsFourValues) {
  EXPECT_TRUE(pool.Start(0, 0, TRP_WAIT_FOR, 0));
  EXPECT_TRUE(pool.AdjustThreadCount(8));
  EXPECT_THAT(Calls(), ElementsAre(Call{"HP_ThreadPool_Start", {kPoolArg, "0", "0", "1", "0"}},
                                   Call{"HP_ThreadPool_AdjustThreadCount", {kPoolArg, "8"}}));
}

TEST_F(Lifecycle, DestroyOnlyWhatIsHeldAndOnlyOnce) {
  pool.Destroy();
  pool.Destroy();
  EXPECT_THAT(Calls(), ElementsAre(Call{"Destroy_HP_ThreadPool", {kPoolArg}}));
}

TEST_F(Lifecycle, CreateReplacesTheHandleWithoutStoppingTheOldPool) {
  const HP_ThreadPool second = reinterpret_cast<HP_ThreadPool>(0x9002);
  Returns(Create_HP_ThreadPool, {second});
  EXPECT_TRUE(pool.Create());
  pool.Destroy();
  EXPECT_THAT(Calls(), ElementsAre(Call{"Create_HP_ThreadPool", {}},
                                   Call{"Destroy_HP_ThreadPool", {Handle(second)}}));
}

TEST_F(Lifecycle, FailedCreateLeavesNoPoolAndLaterCallsReachNothing) {
  Returns(Create_HP_ThreadPool, {nullptr});
  EXPECT_FALSE(pool.Create());
  fake_hpsocket::Reset();
  EXPECT_FALSE(pool.Start(0, 0, TRP_WAIT_FOR, 0));
  EXPECT_FALSE(pool.Stop());
  EXPECT_FALSE(pool.Submit(&PlainProcedure, nullptr));
  EXPECT_FALSE(pool.SubmitTask(&Procedure, nullptr, 1));
  EXPECT_FALSE(pool.AdjustThreadCount(2));
  EXPECT_FALSE(pool.HasStarted());
  EXPECT_EQ(pool.GetState(), SS_STOPPED);
  EXPECT_EQ(pool.GetQueueSize(), 0u);
  EXPECT_EQ(pool.GetRejectedPolicy(), TRP_CALL_FAIL);
  pool.Destroy();
  EXPECT_THAT(Calls(), IsEmpty());
}

TEST_F(Lifecycle, QueriesReturnTheEnginesValues) {
  Returns(HP_ThreadPool_GetState, {SS_STARTED});
  Returns(HP_ThreadPool_GetThreadCount, {6});
  Returns(HP_ThreadPool_GetMaxQueueSize, {100});
  Returns(HP_ThreadPool_GetRejectedPolicy, {TRP_WAIT_FOR});
  EXPECT_EQ(pool.GetState(), SS_STARTED);
  EXPECT_EQ(pool.GetThreadCount(), 6u);
  EXPECT_EQ(pool.GetMaxQueueSize(), 100u);
  EXPECT_EQ(pool.GetRejectedPolicy(), TRP_WAIT_FOR);
}

TEST(CopyTask, CopiesTheWholeTask) {
  int sender = 0;
  const TSocketTask task{&Procedure, &sender,   77, reinterpret_cast<LPCBYTE>("x"),
                         1,          TBT_REFER, 3,  -4};
  TSocketTask record{};
  ASSERT_TRUE(TaskPool::CopyTask(&task, record));
  EXPECT_EQ(std::memcmp(&record, &task, sizeof(TSocketTask)), 0);
}

TEST(CopyTask, NullTaskLeavesTheRecordUntouched) {
  TSocketTask record{};
  record.connID = 5;
  EXPECT_FALSE(TaskPool::CopyTask(nullptr, record));
  EXPECT_EQ(record.connID, 5u);
  EXPECT_EQ(record.sender, nullptr);
}

}  // namespace
}  // namespace quillmere
