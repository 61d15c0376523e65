#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/parser.hpp>
#include <boost/json/value.hpp>

namespace sendara::edr_telemetry::telemetry {

// Parses events for the drop decision, each with a parser and memory that
// the calling thread takes from a pool and gives back when done: one event
// costs no allocation once the pool is warm. Held by the client rather than
// per thread, so that host threads keep nothing of the module alive, and
// trimmed after each use, so that one large event does not pin its memory.
class EventParserPool {
 public:
  // A parser's memory beyond this is released after the event that needed it.
  static constexpr std::size_t kKeptBytes = std::size_t{1} << 20;

  class Parsed;

  EventParserPool() = default;
  EventParserPool(const EventParserPool&) = delete;
  EventParserPool& operator=(const EventParserPool&) = delete;

  // Raises invalid_json_exception for a text that is not JSON. The document
  // is valid while the returned object lives.
  Parsed Parse(std::u16string_view event);

 private:
  // Typical events fit their document into the first block.
  static constexpr std::size_t kFirstBlockBytes = 64 * 1024;

  struct Slot {
    Slot();
    std::string utf8;
    std::unique_ptr<unsigned char[]> firstBlock{new unsigned char[kFirstBlockBytes]};
    // Where the document lives: the first block, then blocks of its own that
    // are freed after each event.
    boost::json::monotonic_resource memory;
    boost::json::parser parser;
  };

  std::unique_ptr<Slot> Take();
  void Return(std::unique_ptr<Slot> slot) noexcept;

  std::mutex m_mutex;
  std::vector<std::unique_ptr<Slot>> m_free;
};

// One parsed event; gives its slot back to the pool when it goes.
class EventParserPool::Parsed {
 public:
  Parsed(Parsed&&) noexcept = default;
  Parsed& operator=(Parsed&&) = delete;
  ~Parsed();

  const boost::json::value& Document() const noexcept { return m_document; }

 private:
  friend class EventParserPool;
  Parsed(EventParserPool& pool, std::unique_ptr<Slot> slot, boost::json::value document) noexcept
      : m_pool(&pool), m_slot(std::move(slot)), m_document(std::move(document)) {}

  EventParserPool* m_pool;
  std::unique_ptr<Slot> m_slot;
  boost::json::value m_document;
};

}  // namespace sendara::edr_telemetry::telemetry
