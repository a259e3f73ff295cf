#pragma once

// The channel count in the STREAMINFO of the FLAC file open at fd (an ID3v2 tag before
// it is skipped, as libFLAC skips it); 0 when the file begins as FLAC does but its
// STREAMINFO cannot be read, -1 when it does not. Reads with pread, so the file offset is
// left alone.
int flac_channels(int fd);
