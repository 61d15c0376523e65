// The Windows half; probes_posix.cpp is the POSIX one.

#include "component/platform/probes.h"

#include <atomic>

#include "component/platform/reader_mutex_lock.h"
#include "component/platform/shared_mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/platform/writer_mutex_lock.h"
#include "windows_api.h"
// After <windows.h>, which it needs.
#include <evntprov.h>

namespace platform {
namespace {

// {A5D214F9-3C2E-42C3-A3C4-249A45E032DD}
constexpr GUID kProviderId = {0xA5D214F9, 0x3C2E, 0x42C3, {0xA3, 0xC4, 0x24, 0x9A, 0x45, 0xE0, 0x32, 0xDD}};

constexpr USHORT kQueueFullId = 1;
constexpr USHORT kPassBeginId = 5;
constexpr USHORT kPassEndId = 6;
constexpr UCHAR kLevelInformation = 4;  // TRACE_LEVEL_INFORMATION

// The functions of advapi32 by their declarations, found at run time: the
// module links nothing of advapi32 for them.
using EventRegisterFunction = decltype(&::EventRegister);
using EventWriteTransferFunction = decltype(&::EventWriteTransfer);
using EventUnregisterFunction = decltype(&::EventUnregister);

// The provider of the process, registered from the first Register to the
// last Unregister. Writers hold the mutex shared while they write, so that
// the handle is never unregistered under a write.
class Provider {
 public:
  constexpr Provider() = default;
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;

  void Register() noexcept EXCLUDES(m_mutex) {
    WriterMutexLock lock(&m_mutex);
    if (m_registrations++ != 0) return;
    if (!FindFunctions()) return;
    REGHANDLE handle = 0;
    if (m_register(&kProviderId, nullptr, nullptr, &handle) != ERROR_SUCCESS) return;
    m_handle = handle;
    m_registered.store(true, std::memory_order_release);
  }

  void Unregister() noexcept EXCLUDES(m_mutex) {
    WriterMutexLock lock(&m_mutex);
    if (m_registrations == 0) return;  // one too many: nothing to pair it with
    if (--m_registrations != 0 || m_handle == 0) return;
    m_registered.store(false, std::memory_order_relaxed);
    m_unregister(m_handle);
    m_handle = 0;
  }

  bool IsRegistered() const noexcept { return m_registered.load(std::memory_order_acquire); }

  void Write(USHORT id, std::uint64_t value) noexcept EXCLUDES(m_mutex) {
    // Without a registration, as most of the time, no lock is taken.
    if (!m_registered.load(std::memory_order_relaxed)) return;
    ReaderMutexLock lock(&m_mutex);
    if (m_handle == 0) return;
    const EVENT_DESCRIPTOR descriptor{.Id = id, .Version = 0, .Channel = 0, .Level = kLevelInformation,
                                      .Opcode = 0, .Task = 0, .Keyword = 0};
    EVENT_DATA_DESCRIPTOR field;
    ::EventDataDescCreate(&field, &value, sizeof value);
    m_write(m_handle, &descriptor, nullptr, nullptr, 1, &field);
  }

 private:
  // Once, at the first registration; advapi32 stays loaded for the process.
  bool FindFunctions() noexcept REQUIRES(m_mutex) {
    if (!m_looked) {
      m_looked = true;
      const HMODULE advapi32 = ::LoadLibraryW(L"advapi32.dll");
      if (advapi32) {
        m_register = windows::FunctionFrom<EventRegisterFunction>(::GetProcAddress(advapi32, "EventRegister"));
        m_write = windows::FunctionFrom<EventWriteTransferFunction>(::GetProcAddress(advapi32, "EventWriteTransfer"));
        m_unregister = windows::FunctionFrom<EventUnregisterFunction>(::GetProcAddress(advapi32, "EventUnregister"));
      }
    }
    return m_register && m_write && m_unregister;
  }

  SharedMutex m_mutex;
  std::uint32_t m_registrations GUARDED_BY(m_mutex) = 0;
  bool m_looked GUARDED_BY(m_mutex) = false;
  EventRegisterFunction m_register GUARDED_BY(m_mutex) = nullptr;
  EventWriteTransferFunction m_write GUARDED_BY(m_mutex) = nullptr;
  EventUnregisterFunction m_unregister GUARDED_BY(m_mutex) = nullptr;
  REGHANDLE m_handle GUARDED_BY(m_mutex) = 0;
  // Whether m_handle is set, for a writer's first look without the lock.
  std::atomic<bool> m_registered{false};
};

// Constant-initialised and never destroyed: a probe written by a thread
// during the process's exit still finds it whole.
constinit Provider g_provider;

}  // namespace

void Probes::Register() noexcept { g_provider.Register(); }

void Probes::Unregister() noexcept { g_provider.Unregister(); }

bool Probes::IsRegistered() noexcept { return g_provider.IsRegistered(); }

void Probes::QueueFull(std::uint64_t eventsCounted) noexcept { g_provider.Write(kQueueFullId, eventsCounted); }

void Probes::PassBegin(const void* client) noexcept {
  g_provider.Write(kPassBeginId, reinterpret_cast<std::uintptr_t>(client));
}

void Probes::PassEnd(const void* client) noexcept {
  g_provider.Write(kPassEndId, reinterpret_cast<std::uintptr_t>(client));
}

}  // namespace platform
