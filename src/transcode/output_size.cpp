#include "transcode/output_size.h"

#include <cerrno>

#include "app/settings.h"
#include "decoders/decoder.h"
#include "encoders/mp3_size_probe.h"
#include "sheets/track_decoder.h"
#include "sheets/track_source.h"
#include "transcode/tag_stage.h"

namespace {

bool fail_with_eio() {
  errno = EIO;
  return false;
}

}  // namespace

bool measure_output_size(const std::string& source_path, uint64_t& size) {
  std::unique_ptr<Mp3SizeProbe> probe = make_size_probe(settings.desttype);
  if (!probe) return fail_with_eio();
  const std::string file = source_file(source_path);
  const size_t dot = file.rfind('.');
  if (dot == std::string::npos) return fail_with_eio();
  std::string extension = file.substr(dot + 1);
  std::unique_ptr<Decoder> decoder =
      open_decoder_for_source(make_decoder_for_source(source_path, extension), source_path, file);
  if (!decoder) return fail_with_eio();

  decoder->measure_only();
  int64_t inputs_mtime = 0;
  if (!fix_tags_and_size(*decoder, *probe, source_path, inputs_mtime)) return fail_with_eio();
  size = probe->output_size();
  return true;
}
