#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "component/oru/class_table.h"
#include "component/oru/i_http_client_factory.h"
#include "component/oru/i_task.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_manager.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_provider.h"
#include "component/sendara/edr_telemetry/source/task/i_edr_telemetry_client_service_factory.h"
#include "component/sendara/edr_telemetry/source/task/i_edr_telemetry_task_settings.h"
#include "component_objects.h"
#include "host/client_certificate_decryptor.h"
#include "host/connection_sinks.h"
#include "host/data_folder_service.h"
#include "host/http/http_client_factory.h"
#include "host/service_locator.h"
#include "host/syslog_message_suffix.h"
#include "host/tracer.h"
#include "loopback_http_server.h"
#include "temp_directory.h"

namespace {

using namespace std::chrono_literals;
using namespace sendara::edr_telemetry;
using namespace sendara::edr_telemetry::task;
using Request = LoopbackHttpServer::Request;
using Response = LoopbackHttpServer::Response;

constexpr std::uint64_t kConsumerId = 0x70001;
constexpr std::uint32_t kDataFolder = 7;

// An HTTP endpoint's path reaches the request line and the host's connected
// sink: the task, its client and the host's libcurl client, as a host runs
// them.
TEST(EdrTelemetryTaskHttpTest, EndpointPathReachesTheServer) {
  LoopbackHttpServer server([](const Request&) { return Response::With(204); });
  TempDirectory dir;
  auto tracer = reference_host::Tracer::Create(700);
  auto sinks = reference_host::ConnectionSinks::Create();
  auto dataFolders = reference_host::DataFolderService::Create();
  dataFolders->SetFolder(kDataFolder, dir.Path());
  auto locator = reference_host::ServiceLocator::Create();
  locator->Register(tracer);
  locator->Register(reference_host::ClientCertificateDecryptor::Create());
  locator->Register(reference_host::SyslogMessageSuffix::Create());
  locator->Register(dataFolders);
  locator->Register<oru::IHttpClientFactory>(
      oru::RefPtr<oru::IHttpClientFactory>(reference_host::HttpClientFactory::Create().Get()));
  locator->RegisterAs<oru::IConnectedSink, oru::IConnectionErrorSink, oru::IIncorrectSettingsSink>(sinks);
  auto manager = CreateObject(oru::ClassTable::kSiemTelemetryConsumersManager, locator.Get());
  locator->Register(Query<ISiemTelemetryConsumersManager>(manager.Get()));
  locator->Register(Query<IEdrTelemetryClientServiceFactory>(
      CreateObject(oru::ClassTable::kEdrTelemetryClientServiceFactory, locator.Get()).Get()));
  auto task = CreateObject(oru::ClassTable::kEdrTelemetryTask, locator.Get());

  EdrTelemetryTaskSettings settings;
  settings.endpoints = {{"http://127.0.0.1", server.Port(), 4, "/ingest?channel=edr"}};
  settings.consumerId = kConsumerId;
  settings.dataFolderId = kDataFolder;
  settings.maximumDataTransferTime = 1;
  settings.maximumNumberOfEventsInPackage = 1;
  settings.includeRules = uR"({"inclusiveRules":[{"id":1}]})";
  ASSERT_EQ(Query<IEdrTelemetryTaskSettings>(task.Get())->SetSettings(&settings), oru::rc::NoError);
  ASSERT_EQ(Query<oru::ITask>(task.Get())->Start(), oru::rc::NoError);

  const auto provider = Query<ISiemTelemetryConsumersProvider>(manager.Get());
  provider->SetAllEventTypesDefaultSettings({{u"Process", true}});
  const std::u16string event = uR"({"eventType":"Process","n":1})";
  std::vector<Ioa> ioas;
  bool drop = true;
  ASSERT_EQ(provider->ShouldEventOrIoaBeDropped(kConsumerId, 1, u"Process", event.c_str(), ioas, &drop),
            oru::rc::NoError);
  ASSERT_FALSE(drop);
  ASSERT_EQ(provider->SendEvent(kConsumerId, event.c_str()), oru::rc::NoError);

  ASSERT_TRUE(server.WaitForRequests(1));
  const Request request = server.Requests()[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/ingest?channel=edr");
  EXPECT_EQ(request.body, "{\"eventType\":\"Process\",\"n\":1}\n");
  ASSERT_TRUE(sinks->WaitFor(1, 10s));
  EXPECT_EQ(sinks->Records()[0].serverAddress, server.Url("/ingest?channel=edr"));

  ASSERT_EQ(Query<oru::ITask>(task.Get())->Stop(), oru::rc::NoError);
  task = nullptr;
  locator->Unregister(ISiemTelemetryConsumersManager::kIid);
  locator->Unregister(IEdrTelemetryClientServiceFactory::kIid);
}

}  // namespace
