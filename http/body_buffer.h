// ConnectionBodyBuffer: collects a request body that arrives in pieces.
//
// Each accepted connection gets one BodyRecord on the C heap; its address is the connection's
// extra data in the engine, so whoever knows the server and the connection ID finds it again.
// A ConnectionBodyBuffer is a light holder of such an address: make one, Attach it to the record,
// work on the record through it, drop it. The record lives on until Destroy.
//
// Threads: neither the holder nor the record locks. A record is used by one thread at a time;
// the program relies on the order of one connection's events for that (the engine delivers a
// connection's events one after another and parses no further request until the current one is
// answered).
#ifndef QUILLMERE_HTTP_BODY_BUFFER_H
#define QUILLMERE_HTTP_BODY_BUFFER_H

#include <cstdint>
#include <string>
#include <string_view>

namespace quillmere {

/// A connection's body bytes. Allocated with malloc, all zero when new. `data` is a block from
/// malloc/realloc (null when there is none); `length` bytes from its start are in use and
/// `capacity` bytes are allocated. After every successful resize length <= capacity, and a null
/// `data` goes with length 0.
struct BodyRecord {
  char* data;
  std::int32_t length;
  std::int32_t capacity;
};

/// Whether a resize sets the used part of the block to zero.
enum class ZeroFill { kNo, kYes };
/// Whether a resize that reallocates keeps the block's contents (realloc) or not (malloc).
enum class Contents { kDiscard, kPreserve };

class ConnectionBodyBuffer {
 public:
  ConnectionBodyBuffer() = default;
  /// The copy works on the same record.
  ConnectionBodyBuffer(const ConnectionBodyBuffer&) = default;
  ConnectionBodyBuffer& operator=(const ConnectionBodyBuffer&) = default;
  /// Frees nothing.
  ~ConnectionBodyBuffer() = default;

  // Without a record every method but Create and Attach does nothing and returns null, 0, false
  // or empty bytes.

  /// Allocates a new zeroed record and works on it from now on; a record held before is left
  /// allocated and untouched. False (and no record) when the allocation fails.
  bool Create();
  /// Frees the block, then makes a fresh one of `n` bytes (contents undefined unless zeroed);
  /// null for n = 0.
  char* Reset(std::int32_t n, ZeroFill zero = ZeroFill::kNo);
  /// Sets the length to `n`, keeping the first bytes: SetLength(n, zero, Contents::kPreserve).
  char* Resize(std::int32_t n, ZeroFill zero = ZeroFill::kNo);
  /// Frees the block and zeroes the record (which stays usable); nothing when there is no block.
  void Free();
  /// Frees the block and the record; the holder then has no record.
  void Destroy();
  /// Works on `record` from now on (not validated; nothing is freed).
  void Attach(BodyRecord* record);
  /// Appends `bytes`; an empty view appends nothing.
  void AppendBytes(std::string_view bytes);
  /// Appends `count` bytes from `source` after the used part. A count of 0 or less, or one that
  /// would take the length past INT32_MAX, appends nothing. When the block cannot grow, the
  /// record is emptied (what was collected is lost) and nothing is appended.
  void Append(const void* source, std::int32_t count);
  /// The block's address plus `offset` (not bounds-checked); null without a record or block.
  char* AddressAt(std::int32_t offset) const;
  /// A copy of the used part; empty without a record, block or length.
  std::string ToBytes() const;
  /// The record's address; null when none.
  BodyRecord* Handle() const { return record_; }
  /// Bytes in use; 0 without a record.
  std::int32_t Length() const;
  /// True when there is a record with a block.
  bool HasData() const;
  /// The capacity SetLength allocates for `n` bytes when the length is `currentLength`:
  /// max(n, min(2n, currentLength)), compared as unsigned 32-bit numbers. So growing allocates
  /// exactly n, and shrinking below half the length allocates 2n.
  static std::int32_t CapacityFor(std::int32_t n, std::int32_t currentLength);
  /// The resizing core. A negative `n`, or n equal to the length, changes nothing. Otherwise the
  /// block is reallocated to CapacityFor(n, length) when n exceeds the capacity or that capacity
  /// is below the length (kPreserve with a block: realloc; else malloc, leaving the old block to
  /// the caller), else only the length changes. A failed allocation empties the record and gives
  /// null. With ZeroFill::kYes the whole used part is zeroed. Returns the block.
  char* SetLength(std::int32_t n, ZeroFill zero, Contents contents);
  /// Sets the record's three fields to 0; frees nothing.
  void Clear();

 private:
  BodyRecord* record_ = nullptr;  // not owned
};

}  // namespace quillmere

#endif  // QUILLMERE_HTTP_BODY_BUFFER_H
