#include "host/program/host_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "component/oru/class_ids.h"
#include "component/oru/i_http_client_factory.h"
#include "component/oru/i_task.h"
#include "component/oru/result_code.h"
#include "component/oru/result_text.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_manager.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_provider.h"
#include "component/sendara/edr_telemetry/source/task/i_edr_telemetry_client_service_factory.h"
#include "component/sendara/edr_telemetry/source/task/i_edr_telemetry_task_counts.h"
#include "component/sendara/edr_telemetry/source/task/i_edr_telemetry_task_settings.h"
#include "host/client_certificate_decryptor.h"
#include "host/connection_sinks.h"
#include "host/data_folder_service.h"
#include "host/http/http_client_configuration.h"
#include "host/http/http_client_factory.h"
#include "host/http/http_trust_anchors.h"
#include "host/program/component_module.h"
#include "host/program/configuration_check.h"
#include "host/program/follow_checkpoint.h"
#include "host/program/followed_file.h"
#include "host/program/host_event.h"
#include "host/program/input_lines.h"
#include "host/program/settling_positions.h"
#include "host/response_server.h"
#include "host/sensitive_data_policy.h"
#include "host/service_locator.h"
#include "host/syslog_message_suffix.h"
#include "host/tracer.h"

namespace reference_host {
namespace {

using namespace sendara::edr_telemetry;
using namespace sendara::edr_telemetry::task;

// How long the component may take to send or spool an event it was handed:
// it waits up to the transfer time between passes, a pass tries every
// endpoint before it gives up (and may wait once more at its end for a
// syslog receiver to close), and a failed pass spools the queue in the wait
// that follows.
std::chrono::steady_clock::duration SettleWindow(const EdrTelemetryTaskSettings& settings) {
  const std::uint64_t endpoints = std::max<std::size_t>(settings.endpoints.size(), 1);
  const std::uint64_t perEndpoint = std::uint64_t{settings.timeoutConnection} + 2 * std::uint64_t{settings.timeoutRequest};
  return std::chrono::seconds(2 * std::uint64_t{settings.maximumDataTransferTime} + 1) +
         std::chrono::milliseconds(perEndpoint * endpoints);
}

// The component's library beside the program: build/bin/.. /lib.
std::filesystem::path DefaultComponentPath() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return self.parent_path().parent_path() / "lib" / "libedr_telemetry.so";
}

template <class I>
oru::RefPtr<I> Query(oru::IObject* object) {
  void* found = nullptr;
  if (oru::Failed(object->QueryInterface(I::kIid, &found)) || !found) {
    throw ComponentModule::Error("object lacks interface " + std::to_string(I::kIid));
  }
  return oru::RefPtr<I>::Adopt(static_cast<I*>(found));
}

std::string Hex(std::int32_t result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<std::uint32_t>(result));
  return text;
}

// The host's HTTP client service, with the configuration's trust anchors and
// endpoint headers.
// Raises HostConfiguration::Error for anchors or headers it cannot take.
oru::RefPtr<HttpClientFactory> MakeHttpClients(const HostConfiguration& configuration) {
  HttpClientConfiguration http;
  try {
    if (!configuration.httpsCaCertificates.empty()) {
      http.trustAnchors = HttpTrustAnchors::Load(configuration.httpsCaCertificates);
    }
    for (const HostConfiguration::EndpointHeaders& endpoint : configuration.endpointHeaders) {
      http.endpoints.push_back({endpoint.url, endpoint.headers});
    }
    return HttpClientFactory::Create(std::move(http));
  } catch (const std::exception& error) {
    throw HostConfiguration::Error(std::string("configuration key \"") +
                                   (http.endpoints.empty() ? "httpsCaCertificates" : "endpoints") +
                                   "\": " + error.what());
  }
}

// A locator with the host's services, as the task and its client ask for
// them.
oru::RefPtr<ServiceLocator> RegisterHostServices(const oru::RefPtr<Tracer>& tracer,
                                                 const oru::RefPtr<SensitiveDataPolicy>& policy,
                                                 const oru::RefPtr<DataFolderService>& dataFolders,
                                                 const oru::RefPtr<ResponseServer>& responseServer,
                                                 const oru::RefPtr<HttpClientFactory>& httpClients,
                                                 const oru::RefPtr<ConnectionSinks>& sinks) {
  auto locator = ServiceLocator::Create();
  locator->Register(tracer);
  locator->Register(policy);
  locator->Register(ClientCertificateDecryptor::Create());
  locator->Register(SyslogMessageSuffix::Create());
  locator->Register(dataFolders);
  locator->Register(responseServer);
  locator->Register<oru::IHttpClientFactory>(oru::RefPtr<oru::IHttpClientFactory>(httpClients.Get()));
  locator->RegisterAs<oru::IConnectedSink, oru::IConnectionErrorSink, oru::IIncorrectSettingsSink>(sinks);
  return locator;
}

// The component's objects as a host makes them: the consumers manager and
// the client service factory, registered in the locator, and the task.
struct ComponentObjects {
  oru::RefPtr<oru::IObject> manager;
  oru::RefPtr<oru::IObject> task;
};

ComponentObjects CreateComponentObjects(ComponentModule& module, ServiceLocator& locator) {
  ComponentObjects objects;
  objects.manager = module.CreateObject(oru::class_ids::kSiemTelemetryConsumersManager, &locator);
  locator.Register(Query<ISiemTelemetryConsumersManager>(objects.manager.Get()));
  locator.Register(Query<IEdrTelemetryClientServiceFactory>(
      module.CreateObject(oru::class_ids::kEdrTelemetryClientServiceFactory, &locator).Get()));
  objects.task = module.CreateObject(oru::class_ids::kEdrTelemetryTask, &locator);
  return objects;
}

// Why the task refused the configuration, as far as the host can tell.
std::string RefusalMessage(oru::Result result, const std::vector<ConnectionSinks::Record>& records) {
  for (const ConnectionSinks::Record& record : records) {
    if (record.kind == ConnectionSinks::Kind::kIncorrectSettings && record.reason == 1) {
      return "configuration key \"clientCertificate\": the file is not a PKCS#12 container that this password opens";
    }
  }
  return "the task refused the configuration: " + Hex(result) + " (" + std::string(oru::GetResultText(result)) +
         "); its trace says why (--trace-level 300 --trace-file FILE)";
}

}  // namespace

HostSession::HostSession(HostOptions options, HostConfiguration configuration, const std::atomic<bool>& stopRequested)
    : m_options(std::move(options)),
      m_configuration(std::move(configuration)),
      m_stopRequested(stopRequested),
      m_progress(::isatty(STDERR_FILENO) == 1) {}

int HostSession::Check() {
  std::ofstream traceFile;
  if (!m_options.traceFile.empty()) {
    traceFile.open(m_options.traceFile);
    if (!traceFile) {
      std::cerr << "edr-telemetry-host: can't write trace file " << m_options.traceFile << "\n";
      return kBadInput;
    }
  }
  auto tracer = Tracer::Create(m_options.traceLevel, traceFile.is_open() ? &traceFile : nullptr, false);
  auto dataFolders = DataFolderService::Create();
  // Named, not made: the task only asks for the path.
  dataFolders->SetFolder(HostConfiguration::kDataFolderId, m_configuration.dataFolder);
  auto sinks = ConnectionSinks::Create([](const ConnectionSinks::Record&) {});
  auto httpClients = MakeHttpClients(m_configuration);
  const auto locator = RegisterHostServices(tracer, SensitiveDataPolicy::Create(m_configuration.traceSensitiveData),
                                            dataFolders, ResponseServer::Create(), httpClients, sinks);
  {
    std::unique_ptr<ComponentModule> module;
    oru::RefPtr<oru::IObject> taskObject;
    const auto releaseComponent = [&] {
      taskObject = nullptr;
      locator->Unregister(ISiemTelemetryConsumersManager::kIid);
      locator->Unregister(IEdrTelemetryClientServiceFactory::kIid);
    };
    try {
      module = std::make_unique<ComponentModule>(m_options.component.empty() ? DefaultComponentPath()
                                                                             : m_options.component);
      taskObject = CreateComponentObjects(*module, *locator).task;
      // Settings taken without a start: checked, converted, and nothing runs.
      const oru::Result set =
          Query<IEdrTelemetryTaskSettings>(taskObject.Get())->SetSettings(&m_configuration.taskSettings);
      if (oru::Failed(set)) {
        std::cerr << "edr-telemetry-host: " << RefusalMessage(set, sinks->Records()) << "\n";
        releaseComponent();
        return kBadInput;
      }
    } catch (const std::exception& error) {
      std::cerr << "edr-telemetry-host: " << error.what() << "\n";
      releaseComponent();
      return kComponentFailed;
    }
    releaseComponent();
  }
  try {
    const ConfigurationCheck check(m_configuration);
    std::cout << "configuration " << m_options.config.string() << ": valid, and the component takes it\n";
    check.Print(std::cout);
    return kDone;
  } catch (const ConfigurationCheck::Error& error) {
    std::cerr << "edr-telemetry-host: " << error.what() << "\n";
    return kBadInput;
  }
}

int HostSession::Run() {
  // The input is opened before anything starts: a missing file is bad input.
  // A followed file may come later.
  const bool follow = !m_options.follow.empty();
  int inputFd = STDIN_FILENO;
  if (!follow && m_options.events != "-") {
    inputFd = ::open(m_options.events.c_str(), O_RDONLY | O_CLOEXEC);
    if (inputFd < 0) {
      std::cerr << "edr-telemetry-host: can't read events file " << m_options.events << "\n";
      return kBadInput;
    }
    // A folder opens, and reads as nothing: a run that read nothing at all.
    struct stat status {};
    if (::fstat(inputFd, &status) == 0 && S_ISDIR(status.st_mode)) {
      ::close(inputFd);
      std::cerr << "edr-telemetry-host: events file " << m_options.events << " is a folder\n";
      return kBadInput;
    }
  }
  struct CloseInput {
    int fd;
    ~CloseInput() {
      if (fd != STDIN_FILENO) ::close(fd);
    }
  } closeInput{inputFd};
  std::ofstream traceFile;
  if (!m_options.traceFile.empty()) {
    traceFile.open(m_options.traceFile);
    if (!traceFile) {
      std::cerr << "edr-telemetry-host: can't write trace file " << m_options.traceFile << "\n";
      return kBadInput;
    }
  }
  std::error_code folderError;
  std::filesystem::create_directories(m_configuration.dataFolder, folderError);

  // The host's services.
  // Nothing recorded in memory: the trace goes to its file, for as long as
  // the program runs.
  auto tracer = Tracer::Create(m_options.traceLevel, traceFile.is_open() ? &traceFile : nullptr, false);
  auto policy = SensitiveDataPolicy::Create(m_configuration.traceSensitiveData);
  auto dataFolders = DataFolderService::Create();
  dataFolders->SetFolder(HostConfiguration::kDataFolderId, m_configuration.dataFolder);
  auto responseServer = ResponseServer::Create();
  auto sinks = ConnectionSinks::Create([this](const ConnectionSinks::Record& record) {
    if (record.kind == ConnectionSinks::Kind::kConnected) m_connection = kConnected;
    if (record.kind == ConnectionSinks::Kind::kConnectionError) m_connection = record.reason;
  });
  auto httpClients = MakeHttpClients(m_configuration);
  const auto locator = RegisterHostServices(tracer, policy, dataFolders, responseServer, httpClients, sinks);

  const FollowCheckpoint checkpoint(m_configuration.dataFolder / FollowCheckpoint::kFileName);
  std::unique_ptr<FollowedFile> followed;
  if (follow) {
    followed = std::make_unique<FollowedFile>(m_options.follow, m_stopRequested);
    const auto warn = [&](const std::string& text) {
      std::cerr << "edr-telemetry-host: " << text << "\n";
      tracer->Trace(300, text.data(), text.size());
    };
    try {
      if (const std::optional<FollowedFile::Position> resume = checkpoint.Load();
          resume && !followed->ResumeAt(*resume)) {
        warn("the checkpoint names a file that is gone (" + resume->path.string() + ", device " +
             std::to_string(resume->device) + ", inode " + std::to_string(resume->inode) + "): reading " +
             m_options.follow.string() + " from its start");
      }
    } catch (const FollowCheckpoint::Error& error) {
      warn(std::string(error.what()) + ": reading " + m_options.follow.string() + " from its start");
    }
  }

  RunSummary summary;
  // Before the component can touch it: what the spool holds is this run's
  // to deliver too.
  summary.inSpoolAtStart = RunSummary::CountSpooled(m_configuration.dataFolder);
  std::unique_ptr<ComponentModule> module;
  oru::RefPtr<ISiemTelemetryConsumersProvider> provider;
  oru::RefPtr<oru::ITask> task;
  const std::uint64_t consumerId = m_configuration.taskSettings.consumerId;
  // The locator holds objects of the module that hold the locator: the
  // cycle is broken on every way out, while the module is still loaded.
  const auto releaseComponent = [&] {
    m_readCounts = nullptr;
    task = nullptr;
    provider = nullptr;
    locator->Unregister(ISiemTelemetryConsumersManager::kIid);
    locator->Unregister(IEdrTelemetryClientServiceFactory::kIid);
  };
  try {
    module = std::make_unique<ComponentModule>(m_options.component.empty() ? DefaultComponentPath()
                                                                           : m_options.component);
    const ComponentObjects objects = CreateComponentObjects(*module, *locator);
    provider = Query<ISiemTelemetryConsumersProvider>(objects.manager.Get());
    const oru::RefPtr<oru::IObject>& taskObject = objects.task;
    task = Query<oru::ITask>(taskObject.Get());
    m_readCounts = [counts = Query<IEdrTelemetryTaskCounts>(taskObject.Get())](RunSummary& summary) {
      return oru::Succeeded(counts->GetDeliveryCounts(&summary.delivery));
    };
    const oru::Result set =
        Query<IEdrTelemetryTaskSettings>(taskObject.Get())->SetSettings(&m_configuration.taskSettings);
    if (oru::Failed(set)) {
      // The configuration's fault, not the component's.
      std::cerr << "edr-telemetry-host: " << RefusalMessage(set, sinks->Records()) << "\n";
      releaseComponent();
      return kBadInput;
    }
    const oru::Result started = task->Start();
    if (oru::Failed(started)) throw ComponentModule::Error("the task did not start: " + Hex(started));
    // This host's response server is up from the start.
    responseServer->SetStarted(static_cast<std::uint16_t>(consumerId & 0xFFFF), true);
    provider->SetAllEventTypesDefaultSettings(m_configuration.defaultEventTypes);
  } catch (const std::exception& error) {
    std::cerr << "edr-telemetry-host: " << error.what() << "\n";
    if (task) task->Stop();
    releaseComponent();
    return kComponentFailed;
  }

  // The spool's failure is said as soon as it shows, whether lines come or
  // the input is quiet.
  struct SpoolWatcher {
    std::atomic<bool> on{true};
    std::thread thread;
    void Stop() {
      on = false;
      if (thread.joinable()) thread.join();
    }
    ~SpoolWatcher() { Stop(); }
  } spoolWatcher;
  spoolWatcher.thread = std::thread([&] {
    for (; spoolWatcher.on; std::this_thread::sleep_for(std::chrono::milliseconds(100))) WatchSpool();
  });

  m_started = std::chrono::steady_clock::now();
  std::uint32_t reported = 0;
  const auto handOver = [&](const std::string& line) {
    ++summary.linesRead;
    if (line.empty() || line.find_first_not_of(" \t\r") == std::string::npos) {
      --summary.linesRead;
      return;
    }
    std::string error;
    std::optional<HostEvent> event = HostEvent::Parse(line, error);
    if (!event) {
      ++summary.malformed;
      const std::string text = "line " + std::to_string(summary.linesRead) + ": " + error;
      tracer->Trace(300, text.data(), text.size());
      if (reported++ < 10) std::cerr << "edr-telemetry-host: malformed event, " << text << "\n";
      return;
    }
    bool drop = true;
    const oru::Result decided = provider->ShouldEventOrIoaBeDropped(
        consumerId, event->throttlingId, event->eventType.c_str(), event->text.c_str(), event->ioas, &drop);
    if (oru::Failed(decided) || drop) {
      ++summary.dropped;
    } else if (oru::Succeeded(provider->SendEvent(consumerId, event->text.c_str()))) {
      ++summary.handedOver;
    } else {
      ++summary.dropped;
    }
  };
  std::optional<FollowedFile::Position> followedTo;
  if (follow) {
    followedTo = Follow(*followed, checkpoint, SettleWindow(m_configuration.taskSettings), summary, handOver,
                        *tracer.Get());
  } else {
    InputLines input(inputFd, m_stopRequested);
    for (std::string line; input.Next(line);) {
      handOver(line);
      ShowProgress(summary, false);
    }
  }
  m_inputEnded = std::chrono::steady_clock::now();

  const std::uint32_t linger =
      m_options.linger ? *m_options.linger : 2 * m_configuration.taskSettings.maximumDataTransferTime + 1;
  for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(linger);
       !m_stopRequested && std::chrono::steady_clock::now() < until;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ShowProgress(summary, false);
  }
  // What is still queued goes to the spool; only then is every line read
  // secured, and the checkpoint may name the end of what was read.
  spoolWatcher.Stop();
  const oru::Result stopped = task->Stop();
  // Final now: Stop has waited for the task's client.
  const bool counted = m_readCounts(summary);
  WatchSpool();
  releaseComponent();
  if (followedTo && oru::Succeeded(stopped)) {
    try {
      checkpoint.Store(*followedTo);
    } catch (const FollowCheckpoint::Error& error) {
      std::cerr << "edr-telemetry-host: " << error.what() << "\n";
    }
  }

  for (const ConnectionSinks::Record& record : sinks->Records()) {
    if (record.kind == ConnectionSinks::Kind::kConnected) ++summary.connected;
    if (record.kind == ConnectionSinks::Kind::kConnectionError)
      ++summary.connectionErrors[RunSummary::ReasonName(record.reason)];
  }
  summary.leftInSpool = RunSummary::CountSpooled(m_configuration.dataFolder);
  if (followed) summary.unrecoveredTruncations = followed->UnrecoveredTruncations();
  ShowProgress(summary, true);
  summary.Print(std::cout);
  if (!counted) std::cerr << "edr-telemetry-host: the task gave no account of its events\n";
  if (summary.delivery.Lost() != 0) {
    std::cerr << "edr-telemetry-host: " << summary.delivery.Lost() << " events lost (see the summary)\n";
  } else if (summary.delivery.delivered == 0 && summary.leftInSpool != 0) {
    std::cerr << "edr-telemetry-host: nothing was delivered; " << summary.leftInSpool
              << " events wait in the spool\n";
  }
  if (counted && summary.Unaccounted() != 0) {
    // Rows sent whose deletion the disk refused are both delivered and in
    // the spool; anything else is a fault worth a report.
    std::cerr << "edr-telemetry-host: the account of events is off by " << summary.Unaccounted() << "\n";
  }
  if (!m_options.summaryJson.empty()) {
    try {
      summary.WriteJson(m_options.summaryJson);
    } catch (const std::exception& error) {
      std::cerr << "edr-telemetry-host: " << error.what() << "\n";
      return kBadInput;
    }
  }
  return ExitCode(summary);
}

int HostSession::ExitCode(const RunSummary& summary) {
  if (summary.delivery.Lost() != 0) return kEventsLost;
  if (summary.delivery.delivered == 0 && summary.leftInSpool != 0) return kNothingDelivered;
  return kDone;
}

void HostSession::WatchSpool() {
  if (m_spoolFailureReported || !m_readCounts) return;
  RunSummary counts;
  if (!m_readCounts(counts) || counts.delivery.spoolFailures == 0) return;
  m_spoolFailureReported = true;
  if (m_progress) std::fputc('\n', stderr);
  std::cerr << "edr-telemetry-host: the spool in " << (m_configuration.dataFolder / "queues").string()
            << " cannot be written or read (the trace says why): events wait in memory until an endpoint takes "
               "them, and those still waiting at exit are lost\n";
}

FollowedFile::Position HostSession::Follow(FollowedFile& followed, const FollowCheckpoint& checkpoint,
                                          std::chrono::steady_clock::duration settleWindow, const RunSummary& summary,
                                          const std::function<void(const std::string&)>& handOver, Tracer& tracer) {
  // A checkpoint per line would cost a disk flush per event: the place
  // reached is noted once a batch or whenever the file is quiet, and stored
  // once it has settled.
  constexpr std::uint64_t kLinesPerNote = 10000;
  constexpr auto kNoteInterval = std::chrono::milliseconds(200);
  SettlingPositions handedOver(settleWindow);
  FollowedFile::Position stored = followed.Consumed();
  std::uint64_t linesSinceNoted = 0;
  auto notedAt = std::chrono::steady_clock::now();
  std::uint64_t failures = 0;
  const auto note = [&] {
    // Consumed() is past the lines handed over and none other: Next is not
    // asked again before the last line was handed over, dropped or counted
    // malformed.
    const auto now = std::chrono::steady_clock::now();
    handedOver.Add(now, followed.Consumed());
    linesSinceNoted = 0;
    notedAt = now;
    const std::optional<FollowedFile::Position> settled = handedOver.Settled(now);
    if (!settled || *settled == stored) return;
    try {
      checkpoint.Store(*settled);
      stored = *settled;
    } catch (const FollowCheckpoint::Error& error) {
      // Following goes on: a restart would only hand over again what came
      // since the last checkpoint stored.
      const std::string text = error.what();
      tracer.Trace(300, text.data(), text.size());
      if (failures++ < 10) std::cerr << "edr-telemetry-host: " << text << "\n";
    }
  };
  std::uint64_t truncations = followed.UnrecoveredTruncations();
  for (std::string line;;) {
    const FollowedFile::Read read = followed.Next(line);
    if (read == FollowedFile::Read::kStopped) break;
    if (followed.UnrecoveredTruncations() != truncations) {
      truncations = followed.UnrecoveredTruncations();
      std::cerr << "edr-telemetry-host: " << m_options.follow.string()
                << " was truncated with no copy of it beside it: lines written to it after the last read and "
                   "before the truncation, if any, could not be read\n";
    }
    if (read == FollowedFile::Read::kLine) {
      handOver(line);
      ++linesSinceNoted;
    }
    if (read == FollowedFile::Read::kNothingYet || linesSinceNoted >= kLinesPerNote ||
        std::chrono::steady_clock::now() - notedAt >= kNoteInterval) {
      note();
    }
    ShowProgress(summary, false);
  }
  return followed.Consumed();
}

void HostSession::ShowProgress(const RunSummary& summary, bool final) {
  if (!m_progress) return;
  const auto now = std::chrono::steady_clock::now();
  if (!final && now - m_lastProgress < std::chrono::milliseconds(100)) return;
  m_lastProgress = now;
  // The rate of the input: it stands still while the host lingers.
  const auto end = m_inputEnded ? *m_inputEnded : now;
  const double seconds = std::chrono::duration<double>(end - m_started).count();
  const std::uint32_t connection = m_connection;
  const std::string state = connection == kNoConnectionEvent ? "no connection event yet"
                            : connection == kConnected
                                ? "connected"
                                : "connection error (" + RunSummary::ReasonName(connection) + ")";
  // Padded: a shorter line must cover the longer one it overwrites.
  std::fprintf(stderr, "\r%.0f events/s, read %llu, handed over %llu, dropped %llu, malformed %llu, %-40s%s",
               seconds > 0 ? static_cast<double>(summary.handedOver) / seconds : 0.0,
               static_cast<unsigned long long>(summary.linesRead), static_cast<unsigned long long>(summary.handedOver),
               static_cast<unsigned long long>(summary.dropped), static_cast<unsigned long long>(summary.malformed),
               state.c_str(), final ? "\n" : "");
}

}  // namespace reference_host
