#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "component/oru/basic_object.h"
#include "component/oru/i_http_request_callback.h"
#include "component/oru/module_object_counter.h"

// A request callback for tests that records what it is told. What it
// records lives on after it: a test can look after the client has released
// the callback, and see that it was released.
class RecordingCallback final
    : public oru::BasicObject<RecordingCallback, oru::UncountedObject, oru::IHttpRequestCallback> {
 public:
  struct Record {
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::string body;
    int completions = 0;
    oru::Result result = oru::rc::NoError;
    std::uint16_t status = 0;
    bool released = false;

    bool WaitForCompletion(std::chrono::seconds timeout = std::chrono::seconds(10)) {
      std::unique_lock lock(mutex);
      return changed.wait_for(lock, timeout, [&] { return completions > 0; });
    }
    bool WaitForRelease(std::chrono::seconds timeout = std::chrono::seconds(10)) {
      std::unique_lock lock(mutex);
      return changed.wait_for(lock, timeout, [&] { return released; });
    }
  };

  RecordingCallback() : m_record(std::make_shared<Record>()) {}
  ~RecordingCallback() override {
    {
      std::lock_guard lock(m_record->mutex);
      m_record->released = true;
    }
    m_record->changed.notify_all();
  }

  const std::shared_ptr<Record>& Recorded() const { return m_record; }

  void ResponseData(std::span<const std::uint8_t> bytes) noexcept override {
    std::lock_guard lock(m_record->mutex);
    m_record->body.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  void RequestCompleted(oru::Result result, std::uint16_t status) noexcept override {
    {
      std::lock_guard lock(m_record->mutex);
      ++m_record->completions;
      m_record->result = result;
      m_record->status = status;
    }
    m_record->changed.notify_all();
  }

 private:
  const std::shared_ptr<Record> m_record;
};
