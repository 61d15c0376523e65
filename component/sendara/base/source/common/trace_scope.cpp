#include "component/sendara/base/detail/common/trace_scope.h"

namespace sendara::base {
namespace {

void TraceWord(oru::ITracer* tracer, std::int32_t level, std::string_view function,
               std::string_view word) noexcept {
  TraceLine line(tracer, level, function);
  if (!line.Enabled()) return;
  try {
    line.Stream() << word;
  } catch (...) {
    line.Failed();
  }
}

}  // namespace

TraceScope::TraceScope(oru::ITracer* tracer, std::int32_t level, std::string_view function) noexcept
    : m_tracer(tracer), m_level(level), m_function(function) {
  TraceWord(m_tracer, m_level, m_function, "begin");
}

TraceScope::~TraceScope() { TraceWord(m_tracer, m_level, m_function, "end"); }

}  // namespace sendara::base
