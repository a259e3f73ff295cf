#include "encoders/id3_frame_ids.h"

#include "encoders/tag_kind.h"

const std::map<int, std::string> id3_frame_ids = {
    {Title, "TIT2"},     {Artist, "TPE1"},       {Album, "TALB"},     {Genre, "TCON"},
    {Date, "TDRC"},      {Composer, "TCOM"},     {Performer, "TOPE"}, {Copyright, "TCOP"},
    {EncodedBy, "TENC"}, {Organization, "TPUB"}, {Conductor, "TPE3"}, {AlbumArtist, "TPE2"},
    {Software, "TSSE"},  {Length, "TLEN"},
};
