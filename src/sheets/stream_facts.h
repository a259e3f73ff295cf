#pragma once

#include <cstdint>
#include <string>

// The length and rate of an audio file's stream as its decoder announces them, read from
// its metadata alone. false where no decoder opens it.
bool read_stream_facts(const std::string& path, uint64_t& total_samples, unsigned& sample_rate);
