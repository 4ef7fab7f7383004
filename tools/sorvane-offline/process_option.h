// sorvane-offline's --process PID=PATH[:unkillable][:service=NAME]: running
// processes of the emulated machine for the memory scan.
#pragma once

#include <string>
#include <vector>

struct ProcessOption {
  unsigned id = 0;
  std::string image;    // Windows path of the image file
  bool unkillable = false;
  std::string service;  // the service the process runs, or empty
};

// Parses the value of one --process; false with a message in *error.
bool ParseProcessOption(const std::string& text, ProcessOption* process, std::string* error);

// Adds the processes (and their services) to the emulated machine.
void AddEmulatedProcesses(const std::vector<ProcessOption>& processes);
