#include "http/body_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace quillmere {

bool ConnectionBodyBuffer::Create() {
  record_ = static_cast<BodyRecord*>(std::malloc(sizeof(BodyRecord)));
  if (record_ == nullptr) return false;
  *record_ = BodyRecord{nullptr, 0, 0};
  return true;
}

char* ConnectionBodyBuffer::Reset(std::int32_t n, ZeroFill zero) {
  Free();
  return SetLength(n, zero, Contents::kDiscard);
}

char* ConnectionBodyBuffer::Resize(std::int32_t n, ZeroFill zero) {
  return SetLength(n, zero, Contents::kPreserve);
}

void ConnectionBodyBuffer::Free() {
  if (record_ == nullptr || record_->data == nullptr) return;
  std::free(record_->data);
  Clear();
}

void ConnectionBodyBuffer::Destroy() {
  Free();
  if (record_ == nullptr) return;
  std::free(record_);
  record_ = nullptr;
}

void ConnectionBodyBuffer::Attach(BodyRecord* record) {
  record_ = record;
}

void ConnectionBodyBuffer::AppendBytes(std::string_view bytes) {
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return;
  Append(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

void ConnectionBodyBuffer::Append(const void* source, std::int32_t count) {
  if (record_ == nullptr || source == nullptr || count <= 0) return;
  const std::int32_t old = record_->length;
  // A length past INT32_MAX cannot be recorded; such a chunk is dropped rather than written
  // beyond the block.
  if (old < 0 || count > std::numeric_limits<std::int32_t>::max() - old) return;
  char* block = Resize(old + count);
  if (block != nullptr && record_->length == old + count) {
    std::memcpy(block + old, source, static_cast<std::size_t>(count));
  }
}

char* ConnectionBodyBuffer::AddressAt(std::int32_t offset) const {
  if (record_ == nullptr || record_->data == nullptr) return nullptr;
  return record_->data + offset;
}

std::string ConnectionBodyBuffer::ToBytes() const {
  if (record_ == nullptr || record_->data == nullptr || record_->length <= 0) return {};
  return std::string(record_->data, static_cast<std::size_t>(record_->length));
}

std::int32_t ConnectionBodyBuffer::Length() const {
  return record_ != nullptr ? record_->length : 0;
}

bool ConnectionBodyBuffer::HasData() const {
  return record_ != nullptr && record_->data != nullptr;
}

std::int32_t ConnectionBodyBuffer::CapacityFor(std::int32_t n, std::int32_t currentLength) {
  const auto wanted = static_cast<std::uint32_t>(n);
  const std::uint32_t doubled = wanted * 2u;
  const std::uint32_t smaller = std::min(doubled, static_cast<std::uint32_t>(currentLength));
  return static_cast<std::int32_t>(std::max(wanted, smaller));
}

char* ConnectionBodyBuffer::SetLength(std::int32_t n, ZeroFill zero, Contents contents) {
  if (record_ == nullptr) return nullptr;
  BodyRecord& record = *record_;
  if (n >= 0 && n != record.length) {
    const std::int32_t capacity = CapacityFor(n, record.length);
    if (n > record.capacity || capacity < record.length) {
      const bool preserve = contents == Contents::kPreserve && record.data != nullptr;
      char* block = nullptr;
      if (capacity == 0) {
        // Nothing left to hold: release the block when keeping it, and allocate nothing.
        if (preserve) std::free(record.data);
      } else if (preserve) {
        block = static_cast<char*>(std::realloc(record.data, static_cast<std::size_t>(capacity)));
        // A failed realloc leaves the old block allocated; the record forgets it below.
        if (block == nullptr) std::free(record.data);
      } else {
        block = static_cast<char*>(std::malloc(static_cast<std::size_t>(capacity)));
      }
      if (block == nullptr && capacity != 0) {
        Clear();
        return nullptr;
      }
      record = BodyRecord{block, n, capacity};
    } else {
      record.length = n;
    }
  }
  if (zero == ZeroFill::kYes && record.data != nullptr && record.length > 0) {
    std::memset(record.data, 0, static_cast<std::size_t>(record.length));
  }
  return record.data;
}

void ConnectionBodyBuffer::Clear() {
  if (record_ != nullptr) *record_ = BodyRecord{nullptr, 0, 0};
}

}  // namespace quillmere
