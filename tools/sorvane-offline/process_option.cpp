// Parsing of --process and the emulated processes and services it adds.
#include "tools/sorvane-offline/process_option.h"

#include <cctype>
#include <cstdlib>

#include "platform/emu/machine.h"

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool ParseProcessOption(const std::string& text, ProcessOption* process, std::string* error) {
  auto fail = [&](const std::string& why) {
    *error = "bad --process '" + text + "': " + why;
    return false;
  };
  size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return fail("expected PID=PATH");
  std::string id = text.substr(0, eq);
  for (char c : id) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return fail("the PID is not a number");
  }
  unsigned long value = std::strtoul(id.c_str(), nullptr, 10);
  if (id.size() > 10 || value == 0 || value > 0xFFFFFFFFul) return fail("the PID must be 1 to 4294967295");
  process->id = static_cast<unsigned>(value);

  std::string rest = text.substr(eq + 1);
  for (;;) {
    size_t service = rest.rfind(":service=");
    if (EndsWith(rest, ":unkillable")) {
      process->unkillable = true;
      rest.erase(rest.size() - std::string(":unkillable").size());
    } else if (service != std::string::npos && service > 1) {
      std::string name = rest.substr(service + std::string(":service=").size());
      if (name.empty() || name.find_first_of(":\\/") != std::string::npos) {
        return fail("a service name has no ':', '\\' or '/'");
      }
      process->service = name;
      rest.erase(service);
    } else {
      break;
    }
  }
  if (rest.size() < 4 || !std::isalpha(static_cast<unsigned char>(rest[0])) || rest[1] != ':' ||
      rest[2] != '\\' || rest.find(':', 2) != std::string::npos) {
    return fail("expected a Windows path such as C:\\WINDOWS\\evil.exe");
  }
  process->image = rest;
  return true;
}

void AddEmulatedProcesses(const std::vector<ProcessOption>& processes) {
  for (const auto& p : processes) {
    emu::ProcessOptions options;
    options.canTerminate = !p.unkillable;
    emu::AddProcessWithId(p.id, p.image, options);
    if (!p.service.empty()) {
      emu::ServiceOptions service;
      service.processId = p.id;
      emu::AddService(p.service, service);
    }
  }
}
