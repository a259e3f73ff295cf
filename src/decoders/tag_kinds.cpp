#include "decoders/tag_kinds.h"

const std::map<std::string, TagKind> tag_kinds = {
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
