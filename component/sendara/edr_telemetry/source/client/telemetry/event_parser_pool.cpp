#include "component/sendara/edr_telemetry/source/client/telemetry/event_parser_pool.h"

#include <optional>
#include <utility>

#include "component/oru/result_code.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/base/detail/serializers/from_string.h"
#include "component/sendara/base/detail/serializers/lone_surrogate_escapes.h"

namespace sendara::edr_telemetry::telemetry {
namespace {

// As deep as the sending loop reads stored events.
boost::json::parse_options Options() {
  boost::json::parse_options options;
  options.max_depth = base::kMaximumDepth;
  return options;
}

}  // namespace

EventParserPool::Slot::Slot() : memory(firstBlock.get(), kFirstBlockBytes), parser({}, Options()) {}

EventParserPool::Parsed EventParserPool::Parse(std::u16string_view event) {
  std::unique_ptr<Slot> slot = Take();
  // On the slot's memory from the start: a move assignment across memory
  // resources copies, and would put the whole document on the heap.
  boost::json::value document(boost::json::storage_ptr(&slot->memory));
  try {
    base::ToUtf8(event, slot->utf8);
    // Escapes of lone surrogates read as U+FFFD, as everywhere else.
    if (std::optional<std::string> repaired = base::ReplaceLoneSurrogateEscapes(slot->utf8)) {
      slot->utf8 = std::move(*repaired);
    }
    slot->parser.reset(boost::json::storage_ptr(&slot->memory));
    boost::system::error_code error;
    slot->parser.write(slot->utf8.data(), slot->utf8.size(), error);
    if (!error) document = slot->parser.release();
    if (error) {
      base::invalid_json_exception exception("string conversion to json error", __FILE__, __LINE__);
      exception.SetProperty("description_error", error.message());
      base::ThrowNested(std::move(exception));
    }
  } catch (...) {
    Return(std::move(slot));
    throw;
  }
  return Parsed(*this, std::move(slot), std::move(document));
}

std::unique_ptr<EventParserPool::Slot> EventParserPool::Take() {
  {
    std::lock_guard lock(m_mutex);
    if (!m_free.empty()) {
      std::unique_ptr<Slot> slot = std::move(m_free.back());
      m_free.pop_back();
      return slot;
    }
  }
  return std::make_unique<Slot>();
}

void EventParserPool::Return(std::unique_ptr<Slot> slot) noexcept {
  // The parser's working stacks grow with the event and are not given back
  // by a reset: a slot that met a large event is not kept.
  if (slot->utf8.capacity() > kKeptBytes) return;
  slot->parser.reset();
  slot->memory.release();
  try {
    std::lock_guard lock(m_mutex);
    m_free.push_back(std::move(slot));
  } catch (...) {
    // Without room in the pool the slot is simply freed.
  }
}

EventParserPool::Parsed::~Parsed() {
  if (!m_slot) return;
  // The document lives in the slot's memory: it goes first.
  m_document = nullptr;
  m_pool->Return(std::move(m_slot));
}

}  // namespace sendara::edr_telemetry::telemetry
