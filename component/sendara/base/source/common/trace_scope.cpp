#include "component/sendara/base/detail/common/trace_scope.h"

namespace sendara::base {

TraceScope::TraceScope(oru::ITracer* tracer, std::int32_t level, std::string_view function) noexcept
    : m_tracer(tracer), m_level(level), m_function(function) {
  TraceLine line(m_tracer, m_level, m_function);
  if (line.Enabled()) line.Stream() << "begin";
}

TraceScope::~TraceScope() {
  TraceLine line(m_tracer, m_level, m_function);
  if (line.Enabled()) line.Stream() << "end";
}

}  // namespace sendara::base
