#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "component/platform/dynamic_library.h"
#include "component/platform/environment.h"
#include "component/platform/event.h"
#include "component/platform/file_lock.h"
#include "component/platform/file_reader.h"
#include "component/platform/probes.h"
#include "component/platform/this_thread.h"
#include "component/platform/thread.h"
#include "temp_directory.h"

#if defined(_WIN32)
// For SetEnvironmentVariableA alone: the C runtime's _putenv cannot set a
// variable to nothing. After environment.h on purpose, whose function has
// the name of one of its macros.
#include "windows_headers.h"
#endif

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

TEST(Event, AutoResetReleasesOneOfTwoWaitersPerSet) {
  Event event(Event::ResetMode::kAuto), through(Event::ResetMode::kAuto);
  const auto waiter = [&] {
    EXPECT_EQ(event.Wait(Event::kInfinite), Event::kSignalled);
    through.Set();
  };
  std::thread first(waiter), second(waiter);
  event.Set();
  EXPECT_EQ(through.Wait(5000), Event::kSignalled);
  event.Set();
  EXPECT_EQ(through.Wait(5000), Event::kSignalled);
  first.join();
  second.join();
  // Each Set went to one waiter: none is left over.
  EXPECT_EQ(event.Wait(0), Event::kTimedOut);
}

TEST(Event, ManualResetReleasesEveryWaiter) {
  Event event(Event::ResetMode::kManual);
  const auto waiter = [&] { EXPECT_EQ(event.Wait(Event::kInfinite), Event::kSignalled); };
  std::thread first(waiter), second(waiter);
  event.Set();
  first.join();
  second.join();
  EXPECT_EQ(event.Wait(0), Event::kSignalled);
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

// Another open of the file in this very process is refused too, as another
// process is, until the holder lets go.
TEST(FileLock, RefusesASecondHolderUntilTheFirstLetsGo) {
  using platform::FileLock;
  const TempDirectory dir;
  const auto path = dir.Path() / "telemetry.lock";
  std::unique_ptr<FileLock> first, second;
  std::error_code error;
  ASSERT_EQ(FileLock::Acquire(path, first, error), FileLock::Outcome::kLocked) << error.message();
  EXPECT_EQ(FileLock::Acquire(path, second, error), FileLock::Outcome::kHeldElsewhere);
  EXPECT_EQ(second, nullptr);
  first.reset();
  EXPECT_EQ(FileLock::Acquire(path, second, error), FileLock::Outcome::kLocked) << error.message();

  EXPECT_EQ(FileLock::Acquire(dir.Path() / "missing" / "telemetry.lock", first, error), FileLock::Outcome::kFailed);
  EXPECT_TRUE(error);
}

void FunctionOfTheProgram() {}

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

  EXPECT_EQ(platform::DynamicLibrary::PathContaining(reinterpret_cast<const void*>(&FunctionOfTheProgram)).stem(),
            "unit_tests");
}

// Sets the variable of the process's environment, or removes it for null.
void SetVariable(const char* name, const char* value) {
#if defined(_WIN32)
  ::SetEnvironmentVariableA(name, value);
#else
  if (value) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
#endif
}

TEST(Environment, ReadsSetEmptyAndMissingVariables) {
  SetVariable("EDR_TELEMETRY_TEST_VARIABLE", "value");
  EXPECT_EQ(platform::GetEnvironmentVariable("EDR_TELEMETRY_TEST_VARIABLE"), "value");
  SetVariable("EDR_TELEMETRY_TEST_VARIABLE", "");
  EXPECT_EQ(platform::GetEnvironmentVariable("EDR_TELEMETRY_TEST_VARIABLE"), "");
  SetVariable("EDR_TELEMETRY_TEST_VARIABLE", nullptr);
  EXPECT_FALSE(platform::GetEnvironmentVariable("EDR_TELEMETRY_TEST_VARIABLE").has_value());
}

// The provider is registered from the first Register to the last
// Unregister, whichever threads call them, and probes written at any time
// are harmless.
TEST(Probes, RegisteredFromTheFirstRegisterToTheLastUnregister) {
  using platform::Probes;
#if !defined(_WIN32)
  GTEST_SKIP() << "USDT probes need no registration";
#endif
  ASSERT_FALSE(Probes::IsRegistered()) << "a registration was left by an earlier test";
  Probes::Register();
  Probes::Register();
  Probes::Unregister();
  EXPECT_TRUE(Probes::IsRegistered());
  Probes::Unregister();
  EXPECT_FALSE(Probes::IsRegistered());
  Probes::Unregister();  // one too many: not counted against the next Register
  Probes::Register();
  EXPECT_TRUE(Probes::IsRegistered());
  Probes::Unregister();

  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 1000; ++i) {
        if (t % 2 == 0) {
          Probes::Register();
          Probes::QueueFull(static_cast<std::uint64_t>(i));
          Probes::Unregister();
        } else {
          Probes::PassBegin(&i);
          Probes::PassEnd(&i);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(Probes::IsRegistered());
}

}  // namespace
