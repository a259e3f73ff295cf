#pragma once

#include <string_view>

// The option help that follows the usage line.
extern const std::string_view option_help;

// Help for the options beyond the classic set, printed after option_help
// and its empty line.
extern const std::string_view extended_option_help;

// The usage line for program_name, then the option help and the extended help, on standard output.
void print_usage(const char* program_name);
