// edr-telemetry-host: the reference host as a program. It loads the
// component's library, plays the host (services, task) and the host's
// telemetry producer (events from NDJSON), and reports what happened.
#include <signal.h>

#include <atomic>
#include <iostream>
#include <string>

#include "host/program/host_configuration.h"
#include "host/program/host_options.h"
#include "host/program/host_session.h"

namespace {

std::atomic<bool> g_stopRequested{false};

void RequestStop(int) { g_stopRequested = true; }

// Without SA_RESTART, so that a read waiting on the input returns and the
// program can stop in order.
void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = &RequestStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A file that reaches the process's size limit fails the write (EFBIG),
  // which the spool reports and survives; the default action would end the
  // program with the events of its queue.
  signal(SIGXFSZ, SIG_IGN);
}

// The usage and every configuration key, which the reference explains.
void PrintHelp() {
  std::cout << reference_host::HostOptions::kUsage
            << "Configuration keys (configuration.md, installed in share/doc/edr-telemetry, says what each means):\n";
  std::string line = " ";
  for (const std::string& key : reference_host::HostConfiguration::Keys()) {
    if (line.size() + key.size() + 1 > 100) {
      std::cout << line << "\n";
      line = " ";
    }
    line += " " + key;
  }
  std::cout << line << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  using reference_host::HostSession;
  reference_host::HostOptions options;
  try {
    options = reference_host::HostOptions::Parse(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "edr-telemetry-host: " << error.what() << "\n" << reference_host::HostOptions::kUsage;
    return HostSession::kBadInput;
  }
  if (options.help) {
    PrintHelp();
    return HostSession::kDone;
  }
  try {
    reference_host::HostConfiguration configuration = reference_host::HostConfiguration::Load(options.config);
    for (const std::string& notice : configuration.notices) std::cerr << "edr-telemetry-host: " << notice << "\n";
    if (options.check) return HostSession(std::move(options), std::move(configuration), g_stopRequested).Check();
    InstallStopHandlers();
    HostSession session(std::move(options), std::move(configuration), g_stopRequested);
    return session.Run();
  } catch (const reference_host::HostConfiguration::Error& error) {
    std::cerr << "edr-telemetry-host: " << error.what() << "\n";
    return HostSession::kBadInput;
  } catch (const std::exception& error) {
    std::cerr << "edr-telemetry-host: " << error.what() << "\n";
    return HostSession::kComponentFailed;
  }
}
