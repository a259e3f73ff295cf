#pragma once

#include <cstdio>

class Encoder;

enum class ScanResult { Done, Failed, NotHandled };

// Reads a FLAC file's metadata blocks directly, for the size of its output alone: the same
// calls into the encoder as FlacDecoder's read_tags makes, in the same order, except that
// pictures come with their length and no data (libFLAC would read every byte of a cover).
// NotHandled, with nothing passed on, for anything but a plain, well-formed layout: the
// caller then reads the file with libFLAC, whose verdict is the one that counts.
// The file is read with pread, so its FILE position stays where it was.
ScanResult scan_flac_metadata(std::FILE* file, Encoder& encoder);
