#pragma once

#include <string>
#include <vector>

// The outcome of running a program to its end.
struct ProgramRun {
  int exit_status = -1;  // -1 when it was killed or did not start
  bool timed_out = false;
  std::string out;
  std::string err;
};

// Runs program with args (argv[0] is program itself), capturing standard
// output and standard error; kills it after timeout_seconds.
ProgramRun run_program(const std::string& program, const std::vector<std::string>& args,
                       int timeout_seconds = 30);
