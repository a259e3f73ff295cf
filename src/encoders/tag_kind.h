#pragma once

// Meanings of tags exchanged between the decoders and the encoder.
enum TagKind : int {
  Title = 0,
  Artist = 1,
  Album = 2,
  Genre = 3,
  Date = 4,
  Composer = 5,
  Performer = 6,
  Copyright = 7,
  EncodedBy = 8,
  Organization = 9,
  Conductor = 10,
  AlbumArtist = 11,
  TrackNumber = 12,
  TrackTotal = 13,
  DiscNumber = 14,
  DiscTotal = 15,
  Software = 16,
  Length = 17,
  // Only an album image's sheet gives one (REM COMMENT).
  CommentText = 18,
};
