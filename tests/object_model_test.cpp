#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "component/oru/basic_object.h"
#include "component/oru/class_table.h"
#include "component/oru/module_object_counter.h"
#include "host/service_locator.h"
#include "host/tracer.h"

namespace {

namespace rc = oru::rc;

class ITaskLike : public oru::IObject {
 public:
  static constexpr oru::InterfaceId kIid = 0xA47BF9AF;
  virtual int Start() = 0;

 protected:
  ~ITaskLike() = default;
};

class ISettingsLike : public oru::IObject {
 public:
  static constexpr oru::InterfaceId kIid = 0x51FA111C;
  virtual int SetSettings() = 0;

 protected:
  ~ISettingsLike() = default;
};

std::atomic<int> g_destroyed{0};

class TaskLike final : public oru::Object<TaskLike, ITaskLike, ISettingsLike> {
 public:
  explicit TaskLike(bool fail = false) {
    if (fail) throw std::runtime_error("constructor failed");
  }
  ~TaskLike() override { ++g_destroyed; }
  int Start() override { return 1; }
  int SetSettings() override { return 2; }
};

TEST(ObjectModel, InterfaceTableAndReferenceCounts) {
  const std::uint32_t before = oru::ModuleObjectCounter::Count();
  const int destroyedBefore = g_destroyed;
  TaskLike* task = TaskLike::Create().Detach();
  EXPECT_EQ(oru::ModuleObjectCounter::Count(), before + 1);

  void* out = nullptr;
  ASSERT_EQ(task->QueryInterface(0, &out), rc::NoError);
  EXPECT_EQ(out, static_cast<ITaskLike*>(task));
  ASSERT_EQ(task->QueryInterface(ITaskLike::kIid, &out), rc::NoError);
  EXPECT_EQ(static_cast<ITaskLike*>(out)->Start(), 1);
  ASSERT_EQ(task->QueryInterface(ISettingsLike::kIid, &out), rc::NoError);
  EXPECT_EQ(out, static_cast<ISettingsLike*>(task));
  EXPECT_EQ(static_cast<ISettingsLike*>(out)->SetSettings(), 2);
  // Three successful queries added three references to the creator's one.
  EXPECT_EQ(task->AddRef(), 5u);

  void* untouched = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(task->QueryInterface(0x12345678, &untouched), rc::InterfaceNotSupported);
  EXPECT_EQ(untouched, reinterpret_cast<void*>(0x1));
  EXPECT_EQ(task->QueryInterface(ITaskLike::kIid, nullptr), rc::InvalidArgument);
  EXPECT_EQ(task->AddRef(), 6u);  // neither failure added a reference

  // Releasing through the second interface reaches the same count.
  auto* settings = static_cast<ISettingsLike*>(task);
  for (std::uint32_t expected = 5; expected > 0; --expected) {
    EXPECT_EQ(settings->Release(), expected);
  }
  EXPECT_EQ(g_destroyed, destroyedBefore);
  EXPECT_EQ(settings->Release(), 0u);
  EXPECT_EQ(g_destroyed, destroyedBefore + 1);
  EXPECT_EQ(oru::ModuleObjectCounter::Count(), before);
}

TEST(ObjectModel, FailedConstructionLeavesTheModuleCountAsItWas) {
  const std::uint32_t before = oru::ModuleObjectCounter::Count();
  EXPECT_THROW(TaskLike::Create(true), std::runtime_error);
  EXPECT_EQ(oru::ModuleObjectCounter::Count(), before);
}

TEST(ObjectModel, CanUnloadFollowsLiveObjects) {
  ASSERT_EQ(oru::ModuleObjectCounter::Count(), 0u) << "an earlier test leaked an object";
  EXPECT_EQ(oru::ClassTable::CanUnloadModule(), 0);
  {
    const auto task = TaskLike::Create();
    EXPECT_EQ(oru::ClassTable::CanUnloadModule(), 1);
  }
  EXPECT_EQ(oru::ClassTable::CanUnloadModule(), 0);
  // Host-side objects do not keep the module loaded.
  const auto tracer = reference_host::Tracer::Create();
  EXPECT_EQ(oru::ClassTable::CanUnloadModule(), 0);
}

TEST(ObjectModel, ConcurrentAddRefAndReleaseKeepTheCountExact) {
  const int destroyedBefore = g_destroyed;
  TaskLike* task = TaskLike::Create().Detach();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([task] {
      for (int i = 0; i < 20000; ++i) {
        task->AddRef();
        task->Release();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(g_destroyed, destroyedBefore);
  EXPECT_EQ(task->Release(), 0u);
  EXPECT_EQ(g_destroyed, destroyedBefore + 1);
}

TEST(ClassTable, RowsInOrderAndUnknownIdsAnswerClassNotFound) {
  const auto rows = oru::ClassTable::Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].classId, 0x9F3C653Cu);
  EXPECT_EQ(rows[1].classId, 0xD7A2C492u);
  EXPECT_EQ(rows[2].classId, 0xFD144E30u);

  const auto locator = reference_host::ServiceLocator::Create();
  oru::IObject* sentinel = reinterpret_cast<oru::IObject*>(0x10);
  oru::IObject* out = sentinel;
  EXPECT_EQ(oru::ClassTable::CreateObject(5, locator.Get(), &out), rc::ClassNotFound);
  EXPECT_EQ(oru::ClassTable::CreateObject(0xBAD1BAD1, locator.Get(), &out), rc::ClassNotFound);
  EXPECT_EQ(out, sentinel);
  EXPECT_EQ(oru::ClassTable::CreateObject(0x9F3C653C, locator.Get(), nullptr), rc::InvalidArgument);
}

}  // namespace
