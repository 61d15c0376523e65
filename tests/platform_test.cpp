#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "component/platform/dynamic_library.h"
#include "component/platform/environment.h"
#include "component/platform/event.h"
#include "component/platform/file_reader.h"
#include "component/platform/this_thread.h"
#include "component/platform/thread.h"
#include "temp_directory.h"

namespace {

using platform::Event;
using namespace std::chrono_literals;

TEST(Event, AutoResetLetsOneWaitThroughPerSet) {
  Event event(Event::ResetMode::kAuto);
  EXPECT_EQ(event.Wait(0), Event::kTimedOut);
  event.Set();
  event.Set();  // a second Set on a signalled event is not counted
  EXPECT_EQ(event.Wait(0), Event::kSignalled);
  EXPECT_EQ(event.Wait(10), Event::kTimedOut);
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
  Event event(Event::ResetMode::kManual, true);
  EXPECT_EQ(event.Wait(0), Event::kSignalled);
  EXPECT_EQ(event.Wait(Event::kInfinite), Event::kSignalled);
  event.Reset();
  EXPECT_EQ(event.Wait(0), Event::kTimedOut);
}

TEST(Event, SetFromAnotherThreadWakesAnInfiniteWait) {
  Event event(Event::ResetMode::kAuto);
  std::thread setter([&] {
    std::this_thread::sleep_for(20ms);
    event.Set();
  });
  EXPECT_EQ(event.Wait(Event::kInfinite), Event::kSignalled);
  setter.join();
}

TEST(Event, TimedWaitLastsAtLeastItsTimeout) {
  Event event(Event::ResetMode::kAuto);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(event.Wait(30), Event::kTimedOut);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST(Thread, IdIsTheKernelIdOfTheNewThread) {
  std::atomic<std::uint32_t> seen{0};
  platform::Thread thread([&] { seen = platform::CurrentThreadId(); });
  const std::uint32_t id = thread.Id();
  thread.Join();
  EXPECT_EQ(seen.load(), id);
  EXPECT_NE(id, platform::CurrentThreadId());
}

// A thread that destroys its own Thread object goes on detached, and counts
// as live until it has ended: the module is not unloaded under it.
TEST(Thread, DestroyedFromItselfGoesOnDetachedAndCountsUntilItEnds) {
  ASSERT_EQ(platform::Thread::LiveCount(), 0u);
  auto* holder = new std::unique_ptr<platform::Thread>();
  Event ready(Event::ResetMode::kManual), detached(Event::ResetMode::kManual), finish(Event::ResetMode::kManual);
  *holder = std::make_unique<platform::Thread>([&, holder] {
    ready.Wait(Event::kInfinite);
    delete holder;  // destroys the Thread object on its own thread
    detached.Set();
    finish.Wait(Event::kInfinite);
  });
  ready.Set();
  ASSERT_EQ(detached.Wait(5000), Event::kSignalled);
  EXPECT_EQ(platform::Thread::LiveCount(), 1u);
  finish.Set();
  std::uint32_t live = 1;
  for (int i = 0; i < 500 && (live = platform::Thread::LiveCount()) != 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(live, 0u);
}

TEST(FileReader, ReadsWholeFilesAndRefusesLargeOnes) {
  const TempDirectory dir;
  const auto path = dir.Path() / "tlsbridge.config";
  {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 10000; ++i) out.put(static_cast<char>(i & 0xFF));
  }
  const auto whole = platform::FileReader::Read(path, 10000);
  ASSERT_EQ(whole.result, oru::rc::NoError);
  ASSERT_EQ(whole.bytes.size(), 10000u);
  EXPECT_EQ(whole.bytes[9999], 9999 & 0xFF);

  const auto tooBig = platform::FileReader::Read(path, 9999);
  EXPECT_EQ(tooBig.result, oru::rc::FileIsTooBig);
  EXPECT_TRUE(tooBig.bytes.empty());

  EXPECT_EQ(platform::FileReader::Read(dir.Path() / "missing", 10).result, oru::rc::FileNotFound);
}

TEST(DynamicLibrary, LoadsByPathFindsSymbolsAndNamesItsOwnFile) {
  platform::DynamicLibrary library;
  std::string error;
  EXPECT_FALSE(library.Load("/nonexistent/libnothing.so", error));
  EXPECT_FALSE(error.empty());

  ASSERT_TRUE(library.Load(EDR_TELEMETRY_MODULE_PATH, error)) << error;
  EXPECT_NE(library.FindSymbol("oruCanUnloadModule"), nullptr);
  EXPECT_EQ(library.FindSymbol("no_such_symbol"), nullptr);
  const auto path = platform::DynamicLibrary::PathContaining(library.FindSymbol("oruCanUnloadModule"));
  EXPECT_EQ(std::filesystem::canonical(path), std::filesystem::canonical(EDR_TELEMETRY_MODULE_PATH));
}

TEST(Environment, ReadsSetAndMissingVariables) {
  ::setenv("EDR_TELEMETRY_TEST_VARIABLE", "value", 1);
  EXPECT_EQ(platform::GetEnvironmentVariable("EDR_TELEMETRY_TEST_VARIABLE"), "value");
  ::unsetenv("EDR_TELEMETRY_TEST_VARIABLE");
  EXPECT_FALSE(platform::GetEnvironmentVariable("EDR_TELEMETRY_TEST_VARIABLE").has_value());
}

}  // namespace
