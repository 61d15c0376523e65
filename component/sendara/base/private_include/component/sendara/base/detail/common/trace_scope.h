#pragma once

#include <cstdint>
#include <string_view>

#include "component/oru/i_tracer.h"
#include "component/sendara/base/detail/common/function_name.h"
#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::base {

// Traces "[" + function + "] begin" when made and "[" + function + "] end"
// when it goes, however the scope is left. Use it through SENDARA_TRACE_SCOPE.
class TraceScope {
 public:
  TraceScope(oru::ITracer* tracer, std::int32_t level, std::string_view function) noexcept;
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;
  ~TraceScope();

 private:
  oru::ITracer* m_tracer;
  std::int32_t m_level;
  std::string_view m_function;
};

}  // namespace sendara::base

#define SENDARA_TRACE_SCOPE_CONCAT_(a, b) a##b
#define SENDARA_TRACE_SCOPE_NAME_(line) SENDARA_TRACE_SCOPE_CONCAT_(sendaraTraceScope_, line)
#define SENDARA_TRACE_SCOPE(tracer, level)                                   \
  const ::sendara::base::TraceScope SENDARA_TRACE_SCOPE_NAME_(__LINE__)(     \
      ::sendara::base::detail::TracerOf(tracer), (level), SENDARA_FUNCTION_NAME)
