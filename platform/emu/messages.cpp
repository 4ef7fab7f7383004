// Emulated windows and the thread's message queue: SendMessageA calls a
// window's procedure at once, PostMessageA queues, PeekMessageA takes the
// first message that matches its filter.
#include <deque>
#include <map>

#include "platform/emu/machine.h"

namespace emu {
namespace {

std::map<uintptr_t, std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>> windows;
uintptr_t nextWindow = 0x1000;
std::deque<MSG> queue;
std::vector<MSG> dispatched;
std::function<void(int)> peekHook;
int peekCalls;

void ResetMessages() {
  windows.clear();
  nextWindow = 0x1000;
  queue.clear();
  dispatched.clear();
  peekHook = nullptr;
  peekCalls = 0;
}
ResetHook messagesHook(ResetMessages);

bool Matches(const MSG& m, HWND window, UINT first, UINT last) {
  if (window && m.hwnd != window) return false;
  if (first == 0 && last == 0) return true;
  return m.message >= first && m.message <= last;
}

}  // namespace

HWND CreateWindow(std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> procedure) {
  uintptr_t id = nextWindow;
  nextWindow += 4;
  windows[id] = std::move(procedure);
  return reinterpret_cast<HWND>(id);
}

void DestroyWindow(HWND window) { windows.erase(reinterpret_cast<uintptr_t>(window)); }

void OnPeekMessage(std::function<void(int)> hook) { peekHook = std::move(hook); }

size_t PendingMessages() { return queue.size(); }

const std::vector<MSG>& DispatchedMessages() { return dispatched; }

}  // namespace emu

using namespace emu;

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT first, UINT last, UINT remove) {
  CountCall("PeekMessageA");
  if (peekHook) {
    auto hook = peekHook;  // the hook may replace itself
    hook(peekCalls);
  }
  ++peekCalls;
  for (auto it = queue.begin(); it != queue.end(); ++it) {
    if (!Matches(*it, window, first, last)) continue;
    *msg = *it;
    msg->time = GetTickCount();
    if (remove & PM_REMOVE) queue.erase(it);
    return TRUE;
  }
  return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG*) {
  CountCall("TranslateMessage");
  return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
  CountCall("DispatchMessageA");
  dispatched.push_back(*msg);
  auto it = windows.find(reinterpret_cast<uintptr_t>(msg->hwnd));
  if (it == windows.end()) return 0;
  auto procedure = it->second;  // the procedure may destroy its window
  return procedure(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CountCall("SendMessageA");
  auto it = windows.find(reinterpret_cast<uintptr_t>(window));
  if (it == windows.end()) return 0;
  auto procedure = it->second;
  return procedure(window, message, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CountCall("PostMessageA");
  if (window && !windows.count(reinterpret_cast<uintptr_t>(window))) {
    SetLastError(1400);  // ERROR_INVALID_WINDOW_HANDLE
    return FALSE;
  }
  queue.push_back(MSG{window, message, wParam, lParam, 0, {0, 0}});
  return TRUE;
}

void WINAPI PostQuitMessage(int exitCode) {
  queue.push_back(MSG{nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0, 0, {0, 0}});
}
