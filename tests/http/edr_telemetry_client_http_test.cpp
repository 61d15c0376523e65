#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "component/oru/i_http_client_factory.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/source/client/create_edr_telemetry_client.h"
#include "host/client_certificate_decryptor.h"
#include "host/http/http_client_factory.h"
#include "host/service_locator.h"
#include "host/syslog_message_suffix.h"
#include "host/tracer.h"
#include "loopback_http_server.h"
#include "temp_directory.h"

namespace {

using namespace std::chrono_literals;
using namespace sendara::edr_telemetry;
using Request = LoopbackHttpServer::Request;
using Response = LoopbackHttpServer::Response;

// The client over HTTP, through the host's libcurl client.
class EdrTelemetryClientHttpTest : public ::testing::Test {
 protected:
  EdrTelemetryClientHttpTest() {
    m_locator->Register(m_tracer);
    m_locator->Register(reference_host::ClientCertificateDecryptor::Create());
    m_locator->Register(reference_host::SyslogMessageSuffix::Create());
    m_locator->Register<oru::IHttpClientFactory>(oru::RefPtr<oru::IHttpClientFactory>(m_httpClients.Get()));
  }

  oru::RefPtr<IEdrTelemetryClient> StartedClient(const std::string& url, std::uint32_t timeout) {
    EdrTelemetryClientSettings settings;
    settings.endpoints = {{EdrTelemetryProtocol::HTTP, url}};
    settings.persistentDataPath = m_dir.Path().u16string();
    settings.telemetryTransferSettings.maximumDataTransferTime = 60000;
    settings.telemetryTransferSettings.maximumNumberOfEventsInPackage = 5;
    settings.timeoutConnection = timeout;
    settings.timeoutRequest = timeout;
    m_settings = settings;
    auto client = CreateEdrTelemetryClient(settings, m_locator.Get(), nullptr);
    EXPECT_EQ(client->Start(), oru::rc::NoError);
    // The first pass found nothing to send: from here on, only a full
    // package wakes the sender.
    EXPECT_TRUE(m_tracer->WaitFor("Process again after sleep for 60000", 5s));
    return client;
  }
  static void Send(IEdrTelemetryClient& client, int count) {
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(client.SendTelemetry(u"{\"n\":" + sendara::base::ToUtf16(std::to_string(i)) + u"}"),
                oru::rc::NoError);
    }
  }

  TempDirectory m_dir;
  EdrTelemetryClientSettings m_settings;
  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create(700);
  oru::RefPtr<reference_host::HttpClientFactory> m_httpClients = reference_host::HttpClientFactory::Create();
  oru::RefPtr<reference_host::ServiceLocator> m_locator = reference_host::ServiceLocator::Create();
};

// A new package size applies to the next package, without a restart.
TEST_F(EdrTelemetryClientHttpTest, PackageSizeChangesWithoutARestart) {
  LoopbackHttpServer server([](const Request&) { return Response::With(204); });
  auto client = StartedClient(server.Url("/siem"), 5000);

  Send(*client, 5);
  ASSERT_TRUE(server.WaitForRequests(1));
  EXPECT_EQ(server.Requests()[0].body, "{\"n\":0}\n{\"n\":1}\n{\"n\":2}\n{\"n\":3}\n{\"n\":4}\n");

  m_settings.telemetryTransferSettings.maximumNumberOfEventsInPackage = 3;
  ASSERT_EQ(client->SetSettings(m_settings), oru::rc::NoError);
  Send(*client, 3);
  ASSERT_TRUE(server.WaitForRequests(2));
  EXPECT_EQ(server.Requests()[1].body, "{\"n\":0}\n{\"n\":1}\n{\"n\":2}\n");
  EXPECT_EQ(m_tracer->Count("wait worker..."), 0u);
}

// A POST the server never answers does not hold up a stop: the request's
// time-out is a minute away.
TEST_F(EdrTelemetryClientHttpTest, StopDuringAHeldPost) {
  LoopbackHttpServer server([](const Request&) {
    Response response;
    response.hold = true;
    return response;
  });
  auto client = StartedClient(server.Url("/siem"), 60000);
  Send(*client, 5);
  ASSERT_TRUE(server.WaitForRequests(1));

  const auto start = std::chrono::steady_clock::now();
  client = nullptr;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

}  // namespace
