#pragma once

#include <chrono>
#include <thread>

#include "component/oru/i_tracer.h"
#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::base::storages {

inline constexpr int kSqliteBusy = 5;
inline constexpr int kSqliteLocked = 6;
inline constexpr int kBlockingCallRetries = 10;
inline constexpr auto kBlockingCallPause = std::chrono::milliseconds(30);

// Calls `call` again while it answers BUSY or LOCKED, up to 10 more times 30
// ms apart (about 300 ms in all), and returns the last result.
template <class Call>
int sqlite3_blocking_call(Call&& call, oru::ITracer* tracer) {
  int rc = call();
  for (int retry = 0; (rc == kSqliteBusy || rc == kSqliteLocked) && retry < kBlockingCallRetries; ++retry) {
    std::this_thread::sleep_for(kBlockingCallPause);
    SENDARA_TRACE(tracer, TraceLevel::kInfo, "call finished with result = " << rc << ", repeat " << retry);
    rc = call();
  }
  return rc;
}

}  // namespace sendara::base::storages
