// A thread of its own for a dialog shown modally inside the test exe, so
// the test's thread can drive it with window messages and then join it.
#pragma once

#include <functional>
#include <thread>

namespace ui_test {

class UiThread {
 public:
  explicit UiThread(std::function<void()> body) : m_thread(std::move(body)) {}
  ~UiThread() { Join(); }
  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;

  void Join() {
    if (m_thread.joinable()) m_thread.join();
  }

 private:
  std::thread m_thread;
};

}  // namespace ui_test
