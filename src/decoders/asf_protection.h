#pragma once

// Whether the ASF file at path carries a content encryption object in its header: a DRM
// protected WMA, whose audio no decoder can read. False for anything else, a file that
// cannot be read included.
bool asf_is_protected(const char* path);
