// The kernel handle owner: each handle is closed once, and never one it handed over.
#include <windows.h>

#include <gtest/gtest.h>

#include <utility>

#include "common/unique_handle.h"

namespace {

bool isOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != 0;
}

HANDLE newEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

TEST(UniqueHandle, ClosesWhatItOwnsOnceAndNotWhatItReleased) {
  HANDLE first = newEvent(), second = newEvent();
  ASSERT_TRUE(first != nullptr && second != nullptr);
  {
    common::UniqueHandle a(first);
    common::UniqueHandle b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.get(), first);
    b.reset(second);
    EXPECT_FALSE(isOpen(first));
    EXPECT_EQ(b.release(), second);
    EXPECT_FALSE(b);
  }
  EXPECT_TRUE(isOpen(second));

  common::UniqueHandle c(second);
  c = common::UniqueHandle();
  EXPECT_FALSE(isOpen(second));
}

}  // namespace
