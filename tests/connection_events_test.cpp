#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "component/oru/class_table.h"
#include "component/oru/module_object_counter.h"
#include "component/sendara/edr_telemetry/source/task/connection_callback_event_publisher.h"
#include "component/sendara/edr_telemetry/source/task/connection_event_forwarder.h"
#include "component/sendara/edr_telemetry/source/task/i_edr_telemetry_client_service_factory.h"
#include "host/connection_sinks.h"
#include "host/service_locator.h"
#include "host/tracer.h"

namespace {

using namespace sendara::edr_telemetry;
using namespace sendara::edr_telemetry::task;
using reference_host::ConnectionSinks;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Field;
using ::testing::FieldsAre;
using ::testing::IsEmpty;
using Kind = ConnectionSinks::Kind;
using Line = reference_host::Tracer::Line;

ConnectionErrorInfo Error(std::uint32_t reason, std::string serverAddress) {
  ConnectionErrorInfo info;
  info.reason = reason;
  info.serverAddress = std::move(serverAddress);
  return info;
}

auto TracedLine(std::int32_t level, const std::string& text) {
  return Contains(AllOf(Field(&Line::level, level), Field(&Line::text, text)));
}

class ConnectionEventsTest : public ::testing::Test {
 protected:
  ConnectionEventsTest() { m_locator->Register(m_tracer); }

  void RegisterSinks() {
    m_locator->RegisterAs<oru::IConnectedSink, oru::IConnectionErrorSink, oru::IIncorrectSettingsSink>(m_sinks);
  }
  // With the sinks registered at this point.
  std::shared_ptr<ConnectionEventForwarder> ForwarderWithPublisher() {
    auto forwarder = std::make_shared<ConnectionEventForwarder>(m_tracer);
    forwarder->SetPublisher(std::make_shared<ConnectionCallbackEventPublisher>(m_tracer, m_locator.Get()));
    return forwarder;
  }

  const oru::RefPtr<reference_host::ServiceLocator> m_locator = reference_host::ServiceLocator::Create();
  const oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create();
  const oru::RefPtr<ConnectionSinks> m_sinks = ConnectionSinks::Create();
};

TEST_F(ConnectionEventsTest, HostGetsItsReasonCodesTheAddressAndTheForwardersTunnel) {
  RegisterSinks();
  const auto forwarder = ForwarderWithPublisher();
  forwarder->SetTunnel("proxy:3128");
  for (const std::uint32_t reason : {1u, 2u, 0u, 3u, 4u, 77u}) {
    forwarder->ConnectionError(Error(reason, "https://siem:" + std::to_string(reason)));
  }
  forwarder->Connected("siem:514", "sender's tunnel");
  forwarder->SetTunnel(std::nullopt);
  forwarder->Connected("siem:515", "");
  forwarder->IncorrectSettingsApplying();

  const std::optional<std::string> proxy = "proxy:3128";
  EXPECT_THAT(m_sinks->Records(),
              ElementsAre(FieldsAre(Kind::kConnectionError, 2, "https://siem:1", proxy),
                          FieldsAre(Kind::kConnectionError, 1, "https://siem:2", proxy),
                          FieldsAre(Kind::kConnectionError, 0, "https://siem:0", proxy),
                          FieldsAre(Kind::kConnectionError, 0, "https://siem:3", proxy),
                          FieldsAre(Kind::kConnectionError, 0, "https://siem:4", proxy),
                          FieldsAre(Kind::kConnectionError, 0, "https://siem:77", proxy),
                          FieldsAre(Kind::kConnected, 0, "siem:514", proxy),
                          FieldsAre(Kind::kConnected, 0, "siem:515", std::nullopt),
                          FieldsAre(Kind::kIncorrectSettings, 1, "", std::nullopt)));

  const std::string publisher = "[sendara::edr_telemetry::task::ConnectionCallbackEventPublisher::";
  const auto lines = m_tracer->Lines();
  EXPECT_THAT(lines, TracedLine(700, publisher + "Connected] server address = siem:515; tunnel = {nullopt}"));
  EXPECT_THAT(lines, TracedLine(500, publisher +
                                         "ConnectionError] reason = eInvalidClientCertificate; "
                                         "server address = https://siem:1; tunnel = proxy:3128"));
  EXPECT_THAT(lines, TracedLine(500, publisher + "ConnectionError] reason = ; server address = https://siem:77; "
                                                 "tunnel = proxy:3128"));
  EXPECT_THAT(lines, TracedLine(500, publisher + "IncorrectSettingsApplying] reason = ClientCertificateDecryptFailed"));

  // A sink's failure is only traced.
  m_sinks->SetObserver([](const ConnectionSinks::Record&) { throw std::runtime_error("sink fails"); });
  forwarder->IncorrectSettingsApplying();
  EXPECT_THAT(m_tracer->Lines(),
              TracedLine(500, publisher + "IncorrectSettingsApplying] sink failed: result = 0x80000040"));
}

TEST_F(ConnectionEventsTest, WithoutSinksNothingIsTracedOrCalled) {
  const auto forwarder = ForwarderWithPublisher();
  forwarder->Connected("siem:514", "");
  forwarder->ConnectionError(Error(1, "siem:514"));
  forwarder->IncorrectSettingsApplying();
  EXPECT_THAT(m_tracer->Lines(), IsEmpty());
  EXPECT_THAT(m_sinks->Records(), IsEmpty());
}

TEST_F(ConnectionEventsTest, ForwarderDropsEventsWithoutPublisherAndSurvivesASinkThatCallsBack) {
  RegisterSinks();
  const auto idle = std::make_shared<ConnectionEventForwarder>(m_tracer);
  idle->Connected("siem:514", "");
  EXPECT_THAT(m_sinks->Records(), IsEmpty());

  // The forwarder holds the only reference to its publisher.
  const auto forwarder = ForwarderWithPublisher();
  forwarder->SetTunnel("proxy:1");
  // As the task would when the host stops it from inside the sink.
  m_sinks->SetObserver([raw = forwarder.get()](const ConnectionSinks::Record&) {
    raw->SetTunnel("proxy:2");
    raw->ResetPublisher();
  });
  const auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  // Detached: under a deadlock the test fails instead of hanging the run.
  std::thread([forwarder, done] {
    forwarder->Connected("siem:514", "");
    done->set_value();
  }).detach();
  ASSERT_EQ(finished.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "sink call-back deadlocked";

  forwarder->ConnectionError(Error(0, "siem:514"));
  const auto records = m_sinks->Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].tunnel, "proxy:1");
}

TEST_F(ConnectionEventsTest, ClassTableCreatesTheClientServiceFactory) {
  const std::uint32_t before = oru::ModuleObjectCounter::Count();
  oru::IObject* object = nullptr;
  EXPECT_EQ(oru::ClassTable::CreateObject(0xFD144E30, reference_host::ServiceLocator::Create().Get(), &object),
            oru::rc::NotFound)
      << "the tracer is required";
  EXPECT_EQ(object, nullptr);

  ASSERT_EQ(oru::ClassTable::CreateObject(0xFD144E30, m_locator.Get(), &object), oru::rc::NoError);
  auto owned = oru::RefPtr<oru::IObject>::Adopt(object);
  EXPECT_EQ(oru::ModuleObjectCounter::Count(), before + 1);
  void* answered = nullptr;
  ASSERT_EQ(object->QueryInterface(0xBEAA897C, &answered), oru::rc::NoError);
  auto factory = oru::RefPtr<IEdrTelemetryClientServiceFactory>::Adopt(
      static_cast<IEdrTelemetryClientServiceFactory*>(answered));
  EXPECT_EQ(factory->CreateEdrTelemetryClient({}, nullptr, nullptr), oru::rc::InvalidArgument);
  EXPECT_THAT(m_tracer->Lines(), IsEmpty());

  factory.Reset();
  owned.Reset();
  EXPECT_EQ(oru::ModuleObjectCounter::Count(), before);
}

}  // namespace
