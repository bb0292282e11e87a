// GoogleTest's internal Notification helper, built on a Windows event.
// GoogleTest's own one needs std::mutex, which MinGW's win32 thread model
// lacks in GCC 12; it is force-included into GoogleTest and the tests (see
// CMakeLists.txt) together with GTEST_HAS_NOTIFICATION_=1. GoogleTest uses
// the helper only for its threads, which these tests never start.
#pragma once

#include <windows.h>

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Notification() { CloseHandle(event_); }
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { SetEvent(event_); }
  void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

 private:
  HANDLE event_;
};

}  // namespace internal
}  // namespace testing
