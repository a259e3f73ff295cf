#include "decoders/tag_kinds.h"

#include <gtest/gtest.h>

namespace {

TEST(TagKinds, MapsExactlyTheKnownCommentNames) {
  const std::map<std::string, TagKind> expected = {
      {"TITLE", Title},
      {"ARTIST", Artist},
      {"ALBUM", Album},
      {"GENRE", Genre},
      {"DATE", Date},
      {"COMPOSER", Composer},
      {"PERFORMER", Performer},
      {"COPYRIGHT", Copyright},
      {"ENCODED_BY", EncodedBy},
      {"ORGANIZATION", Organization},
      {"CONDUCTOR", Conductor},
      {"ALBUMARTIST", AlbumArtist},
      {"ALBUM ARTIST", AlbumArtist},
      {"TRACKNUMBER", TrackNumber},
      {"TRACKTOTAL", TrackTotal},
      {"DISCNUMBER", DiscNumber},
      {"DISCTOTAL", DiscTotal},
  };
  EXPECT_EQ(tag_kinds, expected);
}

TEST(TagKinds, LeavesOutNamesTheEncoderSetsOrTheDecodersHandleThemselves) {
  for (const char* name :
       {"SOFTWARE", "LENGTH", "REPLAYGAIN_ALBUM_GAIN", "REPLAYGAIN_TRACK_GAIN",
        "REPLAYGAIN_REFERENCE_LOUDNESS", "METADATA_BLOCK_PICTURE", "ALBUM_ARTIST", "title"}) {
    EXPECT_EQ(tag_kinds.count(name), 0u) << name;
  }
}

}  // namespace
