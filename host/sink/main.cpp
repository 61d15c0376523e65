// edr-siem-sink: a loopback receiver of telemetry events for demos and
// integration tests. See SinkOptions::Usage().

#include <csignal>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/sink/diagnostic_log.h"
#include "host/sink/siem_sink.h"
#include "host/sink/sink_options.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitBadArguments = 2;

}  // namespace

int main(int argc, char** argv) {
  using siem_sink::DiagnosticLog;

  const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  siem_sink::SinkOptions options;
  try {
    options = siem_sink::SinkOptions::Parse(arguments);
  } catch (const std::invalid_argument& failure) {
    DiagnosticLog::Line(std::string(failure.what()) + " (see --help)");
    return kExitBadArguments;
  }
  if (options.help) {
    std::fputs(siem_sink::SinkOptions::Usage().c_str(), stdout);
    return 0;
  }

  // A reader of the output that goes away makes writes fail with EPIPE,
  // which the writer reports, instead of killing the sink before its summary.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    siem_sink::SiemSink sink(options);
    return sink.Run();
  } catch (const std::invalid_argument& failure) {
    DiagnosticLog::Line(failure.what());
    return kExitBadArguments;
  } catch (const std::exception& failure) {
    DiagnosticLog::Line(failure.what());
    return kExitFailure;
  }
}
