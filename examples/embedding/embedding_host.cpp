// A minimal host of the edr_telemetry module, built against the installed
// headers only. It loads the module, gives it the services it asks for,
// sends a handful of events to a syslog TCP endpoint and unloads the module
// once nothing of it is alive.
//
//   embedding_host HOST PORT DATA_FOLDER [MODULE]
//
// MODULE defaults to the module of the installation this was built against.

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "component/oru/class_ids.h"
#include "component/oru/i_client_certificate_decryptor.h"
#include "component/oru/i_connected_sink.h"
#include "component/oru/i_data_folder_service.h"
#include "component/oru/i_response_server_event_handler.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/i_syslog_message_suffix.h"
#include "component/oru/i_task.h"
#include "component/oru/i_tracer.h"
#include "component/oru/module_entry_points.h"
#include "component/oru/ref_ptr.h"
#include "component/oru/result_code.h"
#include "component/oru/service_ids.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/i_siem_telemetry_consumers_provider.h"
#include "component/sendara/edr_telemetry/source/task/i_edr_telemetry_task_settings.h"

namespace {

namespace edr = sendara::edr_telemetry;

// Reference counting and QueryInterface for an object of one interface.
// The count starts at 1: the creator's reference.
template <class Interface>
class HostObject : public Interface {
 public:
  std::uint32_t AddRef() noexcept override { return ++m_references; }
  std::uint32_t Release() noexcept override {
    const std::uint32_t left = --m_references;
    if (left == 0) delete this;
    return left;
  }
  oru::Result QueryInterface(oru::InterfaceId iid, void** object) noexcept override {
    if (!object) return oru::rc::InvalidArgument;
    if (iid != oru::IObject::kIid && iid != Interface::kIid) return oru::rc::InterfaceNotSupported;
    AddRef();
    *object = static_cast<Interface*>(this);
    return oru::rc::NoError;
  }

 protected:
  virtual ~HostObject() = default;

 private:
  std::atomic<std::uint32_t> m_references{1};
};

// The module traces through the host; this host writes errors and retried
// failures (levels up to 500) to standard error.
class Tracer final : public HostObject<oru::ITracer> {
 public:
  bool IsLevelEnabled(std::int32_t level) override { return level <= 500; }
  void Trace(std::int32_t level, const char* text, std::size_t size) override {
    std::fprintf(stderr, "[%d] %.*s\n", level, static_cast<int>(size), text);
  }
};

// Where the module keeps its spool: one folder, whatever the id.
class DataFolders final : public HostObject<oru::IDataFolderService> {
 public:
  explicit DataFolders(std::filesystem::path folder) : m_folder(std::move(folder)) {}
  oru::Result GetDataFolderPath(std::uint32_t, std::u16string& path) noexcept override {
    try {
      path = m_folder.u16string();
      return oru::rc::NoError;
    } catch (...) {
      return oru::rc::OutOfMemory;
    }
  }

 private:
  const std::filesystem::path m_folder;
};

// This host has no response server: the task, told not to wait for one,
// only subscribes and unsubscribes.
class ResponseServer final : public HostObject<oru::IResponseServerEventSubscription> {
 public:
  oru::Result Subscribe(oru::IResponseServerEventHandler* handler) noexcept override {
    if (!handler) return oru::rc::InvalidArgument;
    handler->AddRef();
    std::lock_guard lock(m_mutex);
    m_handlers.push_back(handler);
    return oru::rc::NoError;
  }
  oru::Result Unsubscribe(oru::IResponseServerEventHandler* handler) noexcept override {
    {
      std::lock_guard lock(m_mutex);
      const auto it = std::find(m_handlers.begin(), m_handlers.end(), handler);
      if (it == m_handlers.end()) return oru::rc::NotFound;
      m_handlers.erase(it);
    }
    // Released outside the lock: the last reference runs the module's code.
    handler->Release();
    return oru::rc::NoError;
  }
  // Nothing is ever notified, so there is nothing to wait for.
  oru::Result UnsubscribeAndWait(oru::IResponseServerEventHandler* handler) noexcept override {
    return Unsubscribe(handler);
  }

 private:
  std::mutex m_mutex;
  std::vector<oru::IResponseServerEventHandler*> m_handlers;
};

// Nothing appended to the syslog messages.
class SyslogSuffix final : public HostObject<oru::ISyslogMessageSuffix> {
 public:
  oru::Result GetSuffix(std::string& suffix) noexcept override {
    suffix.clear();
    return oru::rc::NoError;
  }
};

// Only TLS endpoints with a client certificate ask for it. A real host
// decrypts the stored secret with its own key; this one has none to decrypt.
class Decryptor final : public HostObject<oru::IClientCertificateDecryptor> {
 public:
  oru::Result Decrypt(std::span<const std::uint8_t>, std::vector<std::uint8_t>&) override {
    return oru::rc::NotImplemented;
  }
};

// Told each time an endpoint took a package.
class ConnectedSink final : public HostObject<oru::IConnectedSink> {
 public:
  oru::Result Connected(std::string_view, const std::optional<std::string>&) noexcept override {
    {
      std::lock_guard lock(m_mutex);
      ++m_packages;
    }
    m_changed.notify_all();
    return oru::rc::NoError;
  }
  bool WaitForPackage(std::chrono::seconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_packages > 0; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_packages = 0;
};

// The services by interface id. The module asks with service key 0.
class ServiceLocator final : public HostObject<oru::IServiceLocator> {
 public:
  void Register(oru::InterfaceId iid, oru::IObject* service) {
    std::lock_guard lock(m_mutex);
    m_services[iid] = oru::RefPtr<oru::IObject>(service);
  }
  void Unregister(oru::InterfaceId iid) {
    oru::RefPtr<oru::IObject> service;  // released outside the lock
    std::lock_guard lock(m_mutex);
    if (const auto it = m_services.find(iid); it != m_services.end()) {
      service = std::move(it->second);
      m_services.erase(it);
    }
  }
  oru::Result GetInterface(oru::InterfaceId iid, std::uint32_t serviceKey, void** object) override {
    if (!object) return oru::rc::InvalidArgument;
    std::lock_guard lock(m_mutex);
    const auto it = m_services.find(iid);
    if (serviceKey != 0 || it == m_services.end()) return oru::rc::NotFound;
    return it->second->QueryInterface(iid, object);
  }

 private:
  std::mutex m_mutex;
  std::map<oru::InterfaceId, oru::RefPtr<oru::IObject>> m_services;
};

template <class Interface>
oru::RefPtr<Interface> Query(oru::IObject* object) {
  oru::RefPtr<Interface> found = oru::QueryInterfaceAs<Interface>(object);
  if (!found) throw std::runtime_error("the module's object lacks interface " + std::to_string(Interface::kIid));
  return found;
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "embedding_host: %s\n", what.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: embedding_host HOST PORT DATA_FOLDER [MODULE]\n");
    return 2;
  }
  const std::string modulePath = argc == 5 ? argv[4] : EDR_TELEMETRY_MODULE;

  // Two entry points; everything else of the module is reached through
  // the objects they create.
  void* module = ::dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) return Fail(std::string("can't load the module: ") + ::dlerror());
  const auto createObject =
      reinterpret_cast<oru::CreateObjectFunction>(::dlsym(module, oru::kCreateObjectEntryPoint));
  const auto canUnload =
      reinterpret_cast<oru::CanUnloadModuleFunction>(::dlsym(module, oru::kCanUnloadModuleEntryPoint));
  if (!createObject || !canUnload) return Fail(modulePath + " is not the edr_telemetry module");
  const auto create = [&](std::uint32_t classId, oru::IServiceLocator* locator) {
    oru::IObject* object = nullptr;
    const oru::Result result = createObject(classId, locator, &object);
    if (oru::Failed(result)) throw std::runtime_error("oruCreateObject failed: " + std::to_string(result));
    return oru::RefPtr<oru::IObject>::Adopt(object);
  };

  // The host's services, each handed over with the reference it was made with.
  const auto locator = oru::RefPtr<ServiceLocator>::Adopt(new ServiceLocator);
  const auto connected = oru::RefPtr<ConnectedSink>::Adopt(new ConnectedSink);
  locator->Register(oru::ITracer::kIid, oru::RefPtr<Tracer>::Adopt(new Tracer).Get());
  locator->Register(oru::IDataFolderService::kIid, oru::RefPtr<DataFolders>::Adopt(new DataFolders(argv[3])).Get());
  locator->Register(oru::IResponseServerEventSubscription::kIid,
                    oru::RefPtr<ResponseServer>::Adopt(new ResponseServer).Get());
  locator->Register(oru::ISyslogMessageSuffix::kIid, oru::RefPtr<SyslogSuffix>::Adopt(new SyslogSuffix).Get());
  locator->Register(oru::IClientCertificateDecryptor::kIid, oru::RefPtr<Decryptor>::Adopt(new Decryptor).Get());
  locator->Register(oru::IConnectedSink::kIid, connected.Get());

  constexpr std::uint64_t kConsumerId = 0x10001;  // integration 1
  int exitCode = 0;
  try {
    // The consumers manager and the client factory are the module's own
    // objects, which the task finds among the host's services.
    const oru::RefPtr<oru::IObject> manager = create(oru::class_ids::kSiemTelemetryConsumersManager, locator.Get());
    const auto provider = Query<edr::ISiemTelemetryConsumersProvider>(manager.Get());
    locator->Register(oru::service_ids::kConsumersManager, manager.Get());
    locator->Register(oru::service_ids::kClientServiceFactory,
                      create(oru::class_ids::kEdrTelemetryClientServiceFactory, locator.Get()).Get());

    const oru::RefPtr<oru::IObject> taskObject = create(oru::class_ids::kEdrTelemetryTask, locator.Get());
    edr::task::EdrTelemetryTaskSettings settings;
    settings.endpoints.push_back({argv[1], std::stoi(argv[2]), 0});  // protocol 0: syslog over TCP
    settings.consumerId = kConsumerId;
    settings.maximumDataTransferTime = 1;
    settings.includeRules = u"{\"inclusiveRules\":[{\"id\":1,\"enable\":true,\"name\":\"all\"}]}";
    if (const oru::Result set = Query<edr::task::IEdrTelemetryTaskSettings>(taskObject.Get())->SetSettings(&settings);
        oru::Failed(set)) {
      throw std::runtime_error("the settings were refused: " + std::to_string(set));
    }
    const auto task = Query<oru::ITask>(taskObject.Get());
    if (oru::Failed(task->Start())) throw std::runtime_error("the task did not start");
    provider->SetAllEventTypesDefaultSettings({{u"ProcessCreate", true}});

    int handedOver = 0;
    for (std::uint32_t i = 0; i < 5; ++i) {
      const std::string text = "{\"eventType\":\"ProcessCreate\",\"throttlingId\":" + std::to_string(i) +
                               ",\"process\":{\"name\":\"example.exe\",\"pid\":" + std::to_string(4000 + i) + "}}";
      const std::u16string event(text.begin(), text.end());  // ASCII
      std::vector<edr::Ioa> ioas;
      bool drop = true;
      if (oru::Succeeded(provider->ShouldEventOrIoaBeDropped(kConsumerId, i, u"ProcessCreate", event.c_str(), ioas,
                                                             &drop)) &&
          !drop && oru::Succeeded(provider->SendEvent(kConsumerId, event.c_str()))) {
        ++handedOver;
      }
    }
    // A package goes out within the transfer time; what is still queued
    // when the task stops is spooled and sent by the next run.
    const bool sent = connected->WaitForPackage(std::chrono::seconds(10));
    std::printf("handed over %d events; %s\n", handedOver, sent ? "an endpoint took them" : "none was sent yet");
    if (!sent) exitCode = 1;
    task->Stop();
  } catch (const std::exception& error) {
    exitCode = Fail(error.what());
  }

  // The locator holds the module's objects, which hold the locator: the
  // cycle is broken before the last references go.
  locator->Unregister(oru::service_ids::kConsumersManager);
  locator->Unregister(oru::service_ids::kClientServiceFactory);
  for (int i = 0; i < 100 && canUnload() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (canUnload() != 0) return Fail("objects of the module are still alive; it stays loaded");
  ::dlclose(module);
  std::printf("module unloaded\n");
  return exitCode;
}
