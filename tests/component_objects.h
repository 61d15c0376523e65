#pragma once

// The component's objects as a test host makes them, in process: by class
// id from the class table, and their interfaces by id. A failure fails the
// test that asked.

#include <cstdint>

#include <gtest/gtest.h>

#include "component/oru/class_table.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/ref_ptr.h"
#include "component/oru/result_code.h"

template <class I>
oru::RefPtr<I> Query(oru::IObject* object) {
  void* found = nullptr;
  EXPECT_EQ(object->QueryInterface(I::kIid, &found), oru::rc::NoError);
  return oru::RefPtr<I>::Adopt(static_cast<I*>(found));
}

inline oru::RefPtr<oru::IObject> CreateObject(std::uint32_t classId, oru::IServiceLocator* locator) {
  oru::IObject* object = nullptr;
  EXPECT_EQ(oru::ClassTable::CreateObject(classId, locator, &object), oru::rc::NoError);
  return oru::RefPtr<oru::IObject>::Adopt(object);
}
