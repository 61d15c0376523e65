#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sendara::edr_telemetry::telemetry {

// Event texts back to back in one allocation, shared by the records that
// point into it. A queue of separately allocated strings costs an
// allocator's header, rounding and the free fragments between long-lived
// texts for every event; a full queue of blocks costs little more than its
// texts, and its memory goes back a block at a time as events leave.
//
// Reference counted: the block lives while its writer or any record holds
// it. Only the writer appends, and a text is never changed once a record
// points to it, so records on other threads read it without a lock once
// they were handed over under one.
class EventTextBlock {
 public:
  // What a block holds unless one text needs more.
  static constexpr std::size_t kDefaultCapacity = std::size_t{1} << 20;

  // A block with room for at least `capacity` bytes, held once by the caller.
  static EventTextBlock* Create(std::size_t capacity);

  EventTextBlock(const EventTextBlock&) = delete;
  EventTextBlock& operator=(const EventTextBlock&) = delete;

  void AddRef() noexcept { m_references.fetch_add(1, std::memory_order_relaxed); }
  void Release() noexcept;

  std::size_t Room() const noexcept { return m_capacity - m_used; }
  // Copies `text` after the texts already there; at most Room() bytes.
  // Returns where it starts.
  std::uint32_t Append(std::string_view text) noexcept;
  std::string_view Text(std::uint32_t offset, std::uint32_t size) const noexcept {
    return std::string_view(Bytes() + offset, size);
  }

 private:
  explicit EventTextBlock(std::uint32_t capacity) noexcept : m_capacity(capacity) {}
  ~EventTextBlock() = default;

  char* Bytes() noexcept { return reinterpret_cast<char*>(this + 1); }
  const char* Bytes() const noexcept { return reinterpret_cast<const char*>(this + 1); }

  std::atomic<std::uint32_t> m_references{1};
  const std::uint32_t m_capacity;
  std::uint32_t m_used = 0;
};

}  // namespace sendara::edr_telemetry::telemetry
