#include "http/body_buffer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "tests/http/alloc_spy.h"

namespace quillmere {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::string_view kFifteen = "0123456789abcde";

// A holder with a fresh record, destroyed at the end of the test.
class OwnedRecord {
 public:
  OwnedRecord() { EXPECT_TRUE(buffer.Create()); }
  ~OwnedRecord() { buffer.Destroy(); }
  ConnectionBodyBuffer buffer;
};

std::string UsedPart(const BodyRecord& record) {
  return record.data == nullptr ? std::string()
                                : std::string(record.data, static_cast<std::size_t>(record.length));
}

TEST(ConnectionBodyBuffer, Sizing) {
  struct Case {
    const char* why;
    std::string before;  // appended to a new record before the operation
    std::function<void(ConnectionBodyBuffer&)> operation;
    std::int32_t length;
    std::int32_t capacity;
    std::string used;                    // the used part afterwards
    std::vector<std::string> heapCalls;  // what the operation asked of the C heap
  };
  const std::string zeros(20, '\0');
  const Case cases[] = {
      {"the first append allocates exactly its size with malloc",
       "",
       [](ConnectionBodyBuffer& b) { b.AppendBytes("0123456789"); },
       10,
       10,
       "0123456789",
       {"malloc(10)"}},
      {"a second append grows the block with realloc to exactly the new length, in order",
       "0123456789",
       [](ConnectionBodyBuffer& b) { b.AppendBytes("abcde"); },
       15,
       15,
       std::string(kFifteen),
       {"realloc(15)"}},
      {"shrinking to half the length or more keeps the block",
       std::string(kFifteen),
       [](ConnectionBodyBuffer& b) { b.Resize(10); },
       10,
       15,
       "0123456789",
       {}},
      {"growing again within the capacity only moves the length",
       std::string(kFifteen),
       [](ConnectionBodyBuffer& b) {
         b.Resize(10);
         b.Resize(12);
       },
       12,
       15,
       "0123456789ab",
       {}},
      {"shrinking below half the length reallocates to twice the new length",
       std::string(kFifteen),
       [](ConnectionBodyBuffer& b) { b.Resize(3); },
       3,
       6,
       "012",
       {"realloc(6)"}},
      {"the zero flag clears the whole used part, not only new bytes",
       std::string(kFifteen),
       [](ConnectionBodyBuffer& b) { b.Resize(12, ZeroFill::kYes); },
       12,
       15,
       zeros.substr(0, 12),
       {}},
      {"the zero flag on growth clears the kept bytes too",
       "0123456789",
       [](ConnectionBodyBuffer& b) { b.Resize(15, ZeroFill::kYes); },
       15,
       15,
       zeros.substr(0, 15),
       {"realloc(15)"}},
      {"the zero flag still clears when the length does not change",
       std::string(kFifteen),
       [](ConnectionBodyBuffer& b) { b.Resize(15, ZeroFill::kYes); },
       15,
       15,
       zeros.substr(0, 15),
       {}},
      {"a negative length changes nothing",
       std::string(kFifteen),
       [](ConnectionBodyBuffer& b) { b.SetLength(-1, ZeroFill::kNo, Contents::kPreserve); },
       15,
       15,
       std::string(kFifteen),
       {}},
      {"appending 0 bytes changes and copies nothing",
       std::string(kFifteen),
       [](ConnectionBodyBuffer& b) { b.Append("xyz", 0); },
       15,
       15,
       std::string(kFifteen),
       {}},
      {"appending a negative count changes nothing",
       std::string(kFifteen),
       [](ConnectionBodyBuffer& b) { b.Append("xyz", -3); },
       15,
       15,
       std::string(kFifteen),
       {}},
      {"Reset frees the block first, then allocates afresh",
       std::string(kFifteen),
       [](ConnectionBodyBuffer& b) { b.Reset(4, ZeroFill::kYes); },
       4,
       4,
       zeros.substr(0, 4),
       {"free", "malloc(4)"}},
      {"Reset to 0 leaves no block",
       std::string(kFifteen),
       [](ConnectionBodyBuffer& b) { b.Reset(0); },
       0,
       0,
       "",
       {"free"}},
      {"resizing to 0 releases the block",
       std::string(kFifteen),
       [](ConnectionBodyBuffer& b) { b.Resize(0); },
       0,
       0,
       "",
       {"free"}},
      {"Free on a record without a block does nothing",
       "",
       [](ConnectionBodyBuffer& b) { b.Free(); },
       0,
       0,
       "",
       {}},
      {"after Free the record is empty and grows again from nothing",
       std::string(kFifteen),
       [](ConnectionBodyBuffer& b) {
         b.Free();
         b.AppendBytes("xy");
       },
       2,
       2,
       "xy",
       {"free", "malloc(2)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    OwnedRecord owned;
    owned.buffer.AppendBytes(c.before);
    std::vector<std::string> heapCalls;
    {
      alloc_spy::Spy spy;
      c.operation(owned.buffer);
      heapCalls = spy.Calls();
    }
    const BodyRecord& record = *owned.buffer.Handle();
    EXPECT_EQ(record.length, c.length);
    EXPECT_EQ(record.capacity, c.capacity);
    EXPECT_EQ(UsedPart(record), c.used);
    EXPECT_EQ(record.data == nullptr, c.capacity == 0) << "a block exactly when there is room";
    EXPECT_EQ(heapCalls, c.heapCalls);
  }
}

TEST(ConnectionBodyBuffer, KeepsTheBlockWhileTheCapacitySuffices) {
  OwnedRecord owned;
  owned.buffer.AppendBytes(kFifteen);
  char* const block = owned.buffer.AddressAt(0);
  EXPECT_EQ(owned.buffer.Resize(10), block);
  EXPECT_EQ(owned.buffer.Resize(12), block);
  EXPECT_EQ(owned.buffer.AddressAt(3), block + 3);
  EXPECT_EQ(owned.buffer.ToBytes(), "0123456789ab");
}

TEST(ConnectionBodyBuffer, CapacityFor) {
  struct Case {
    std::int32_t n, current, capacity;
    const char* why;
  };
  const Case cases[] = {
      {15, 10, 15, "growing: exactly the new length"},
      {10, 15, 15, "shrinking to half or more: the current length"},
      {3, 15, 6, "shrinking below half: twice the new length"},
      {0, 15, 0, "nothing"},
      {7, 0, 7, "from empty"},
      {INT32_MAX, INT32_MAX - 1, INT32_MAX, "twice a large length does not wrap in 32 bits"},
      {5, -1, 10, "a negative length compares as a large unsigned number"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConnectionBodyBuffer::CapacityFor(c.n, c.current), c.capacity)
        << "n " << c.n << ", current " << c.current << ": " << c.why;
  }
}

TEST(ConnectionBodyBuffer, WithoutRecordDoesNothing) {
  ConnectionBodyBuffer buffer;
  alloc_spy::Spy spy;
  buffer.Append("abc", 3);
  buffer.AppendBytes("abc");
  buffer.Free();
  buffer.Clear();
  buffer.Destroy();
  EXPECT_EQ(buffer.Length(), 0);
  EXPECT_EQ(buffer.AddressAt(0), nullptr);
  EXPECT_THAT(buffer.ToBytes(), IsEmpty());
  EXPECT_FALSE(buffer.HasData());
  EXPECT_EQ(buffer.Handle(), nullptr);
  EXPECT_EQ(buffer.SetLength(5, ZeroFill::kYes, Contents::kPreserve), nullptr);
  EXPECT_EQ(buffer.Resize(5), nullptr);
  EXPECT_EQ(buffer.Reset(5), nullptr);
  EXPECT_THAT(spy.Calls(), IsEmpty());
}

TEST(ConnectionBodyBuffer, CreateReplacesTheHandleAndLeavesTheOldRecord) {
  OwnedRecord first;
  first.buffer.AppendBytes("kept");
  ConnectionBodyBuffer buffer = first.buffer;  // a copy works on the same record
  ASSERT_EQ(buffer.Handle(), first.buffer.Handle());
  ASSERT_TRUE(buffer.Create());
  EXPECT_NE(buffer.Handle(), first.buffer.Handle());
  EXPECT_EQ(buffer.Length(), 0);
  EXPECT_FALSE(buffer.HasData());
  EXPECT_EQ(first.buffer.ToBytes(), "kept");
  buffer.Destroy();
  EXPECT_EQ(buffer.Handle(), nullptr);
}

TEST(ConnectionBodyBuffer, AttachWorksOnTheCallersRecord) {
  BodyRecord record{nullptr, 0, 0};
  ConnectionBodyBuffer buffer;
  buffer.Attach(&record);
  buffer.AppendBytes("ab");
  buffer.AppendBytes("cd");
  EXPECT_EQ(UsedPart(record), "abcd");
  ConnectionBodyBuffer().Attach(&record);  // a holder going away frees nothing
  EXPECT_TRUE(buffer.HasData());
  buffer.Free();
  EXPECT_EQ(record.data, nullptr);
  EXPECT_EQ(record.length, 0);
  EXPECT_EQ(record.capacity, 0);
}

TEST(ConnectionBodyBuffer, FailedGrowthEmptiesTheRecordWithoutLeaking) {
  OwnedRecord owned;
  owned.buffer.AppendBytes("0123456789");
  alloc_spy::Spy spy;
  spy.FailAllocations(true);
  owned.buffer.AppendBytes("abc");
  spy.FailAllocations(false);
  // The old block is released (the leak checker of the sanitizer build would see it otherwise).
  EXPECT_THAT(spy.Calls(), ElementsAre("realloc(13)", "free"));
  const BodyRecord& record = *owned.buffer.Handle();
  EXPECT_EQ(record.data, nullptr);
  EXPECT_EQ(record.length, 0);
  EXPECT_EQ(record.capacity, 0);
}

TEST(ConnectionBodyBuffer, CreateFailureLeavesNoRecord) {
  ConnectionBodyBuffer buffer;
  alloc_spy::Spy spy;
  spy.FailAllocations(true);
  EXPECT_FALSE(buffer.Create());
  EXPECT_EQ(buffer.Handle(), nullptr);
}

TEST(ConnectionBodyBuffer, AppendPastInt32MaxIsDroppedNotWrittenBeyondTheBlock) {
  // A record that claims almost 2 GiB: the sum would wrap to a negative length, which resizes
  // nothing, and the copy would then land far past the block.
  char block[8] = "1234567";
  BodyRecord record{block, INT32_MAX - 2, INT32_MAX - 2};
  ConnectionBodyBuffer buffer;
  buffer.Attach(&record);
  alloc_spy::Spy spy;
  buffer.Append("abcde", 5);
  EXPECT_THAT(spy.Calls(), IsEmpty());
  EXPECT_EQ(record.data, block);
  EXPECT_EQ(record.length, INT32_MAX - 2);
  EXPECT_STREQ(block, "1234567");
}

}  // namespace
}  // namespace quillmere
