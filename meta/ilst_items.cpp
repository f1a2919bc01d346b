#include "meta/ilst_items.h"

#include <cstring>

namespace vantorel {

const char kFreeformMean[] = "com.apple.iTunes";

namespace {

// The escapes are split so that the letters after 0xA9 are not read as hex digits.
constexpr KnownItem kItems[] = {
    {FourCC::of("\xA9" "nam"), "title", kItemText, 0},
    {FourCC::of("\xA9" "ART"), "artist", kItemText, 0},
    {FourCC::of("aART"), "album_artist", kItemText, 0},
    {FourCC::of("\xA9" "alb"), "album", kItemText, 0},
    {FourCC::of("\xA9" "wrt"), "composer", kItemText, 0},
    {FourCC::of("\xA9" "day"), "year", kItemText, 0},
    {FourCC::of("\xA9" "cmt"), "comment", kItemText, 0},
    {FourCC::of("\xA9" "gen"), "genre", kItemText, 0},
    {FourCC::of("gnre"), "genre_id", kItemGenreId, 2},
    {FourCC::of("trkn"), "track", kItemPair, 8},
    {FourCC::of("disk"), "disc", kItemPair, 6},
    {FourCC::of("tmpo"), "tempo", kItemInteger, 2},
    {FourCC::of("cpil"), "compilation", kItemInteger, 1},
    {FourCC::of("pgap"), "gapless", kItemInteger, 1},
    {FourCC::of("\xA9" "grp"), "grouping", kItemText, 0},
    {FourCC::of("\xA9" "lyr"), "lyrics", kItemText, 0},
    {FourCC::of("\xA9" "too"), "encoder", kItemText, 0},
    {FourCC::of("\xA9" "enc"), "encoded_by", kItemText, 0},
    {FourCC::of("cprt"), "copyright", kItemText, 0},
    {FourCC::of("desc"), "description", kItemText, 0},
    {FourCC::of("ldes"), "long_description", kItemText, 0},
    {FourCC::of("sonm"), "sort_title", kItemText, 0},
    {FourCC::of("soar"), "sort_artist", kItemText, 0},
    {FourCC::of("soaa"), "sort_album_artist", kItemText, 0},
    {FourCC::of("soal"), "sort_album", kItemText, 0},
    {FourCC::of("soco"), "sort_composer", kItemText, 0},
    {FourCC::of("sosn"), "sort_show", kItemText, 0},
    {FourCC::of("tvsh"), "show", kItemText, 0},
    {FourCC::of("tven"), "episode_id", kItemText, 0},
    {FourCC::of("tvnn"), "network", kItemText, 0},
    {FourCC::of("tvsn"), "season_number", kItemInteger, 4},
    {FourCC::of("tves"), "episode_sort", kItemInteger, 4},
    {FourCC::of("stik"), "media_type", kItemInteger, 1},
    {FourCC::of("rtng"), "rating", kItemInteger, 1},
    {FourCC::of("hdvd"), "hd_video", kItemInteger, 1},
    {FourCC::of("purd"), "purchase_date", kItemText, 0},
    {FourCC::of("keyw"), "keywords", kItemText, 0},
    {FourCC::of("catg"), "category", kItemText, 0},
    {FourCC::of("\xA9" "wrk"), "work", kItemText, 0},
    {FourCC::of("\xA9" "mvn"), "movement", kItemText, 0},
    {FourCC::of("covr"), "cover", kItemImage, 0},
};

}  // namespace

bool equal_ignoring_case(const char* a, const char* b) {
  for (;; ++a, ++b) {
    auto ca = static_cast<unsigned char>(*a);
    auto cb = static_cast<unsigned char>(*b);
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca + 32);
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb + 32);
    if (ca != cb) return false;
    if (ca == 0) return true;
  }
}

const KnownItem* known_item(FourCC item) {
  for (const KnownItem& k : kItems)
    if (k.item == item) return &k;
  return nullptr;
}

const KnownItem* known_item_named(const char* name) {
  if (name == nullptr) return nullptr;
  if (equal_ignoring_case(name, "tool")) return known_item(FourCC::of("\xA9" "too"));
  for (const KnownItem& k : kItems)
    if (equal_ignoring_case(k.name, name)) return &k;
  return nullptr;
}

bool item_type_name(FourCC item, char* out, size_t capacity) {
  if (out == nullptr || capacity < 10) return false;
  size_t n = 0;
  for (char ch : item.c) {
    auto c = static_cast<unsigned char>(ch);
    if (c == 0xA9) {
      out[n++] = static_cast<char>(0xC2);
      out[n++] = static_cast<char>(0xA9);
    } else if (c >= 0x20 && c < 0x7F) {
      out[n++] = static_cast<char>(c);
    } else {
      return false;
    }
  }
  out[n] = '\0';
  return true;
}

uint32_t default_data_type(FourCC item, bool text, const uint8_t* value, uint32_t size) {
  if (text) return kDataUtf8;
  const KnownItem* k = known_item(item);
  if (k != nullptr && k->kind == kItemImage && value != nullptr) {
    if (size >= 8 && std::memcmp(value, "\x89PNG", 4) == 0) return kDataPng;
    if (size >= 2 && std::memcmp(value, "BM", 2) == 0) return kDataBmp;
    return kDataJpeg;
  }
  if (k != nullptr && k->kind == kItemInteger) return kDataSigned;
  return kDataImplicit;
}

}  // namespace vantorel
