#pragma once

#include <string>

// Raised whenever olvex would write different bytes for the same input and settings,
// so that sizes and outputs kept on disk by an older build are no longer found.
inline constexpr int kOutputRevision = 3;

// Everything besides the source that decides an output's bytes and size, as compact
// text: the settings that shape it, the revision above and the codec library versions.
// Read from the global settings, so call it once start-up has finished.
std::string output_fingerprint();
