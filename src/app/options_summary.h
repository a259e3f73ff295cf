#pragma once

#include <ostream>

// "OLVEX options:" and one labelled line per setting, for the start-up log.
// No newline after the last line.
void write_options_summary(std::ostream& out);
