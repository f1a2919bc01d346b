#include "app/file_info.h"

#include "app/colour_text.h"
#include "app/json_writer.h"
#include "app/platform.h"

#include <cstring>

#include "mediafile/mediafile.h"
#include "remux/remux.h"

namespace vantorel::app {

namespace {

// A sample-entry code whose first two bytes are zero carries a WAVE format
// tag in the other two (AVI and ASF audio).
bool is_format_tag(FourCC f) { return !f.is_zero() && f.c[0] == 0 && f.c[1] == 0; }
uint32_t format_tag_of(FourCC f) { return f.to_u32() & 0xFFFF; }

// A packed language decodes to letters from '`' (0) up: 0 is the Macintosh
// code for English, and QuickTime's 0x7FFF means unspecified.
void fix_language(char* language) {
  if (std::strcmp(language, "```") == 0) std::memcpy(language, "eng", 4);
  if (std::strcmp(language, "\x7F\x7F\x7F") == 0) std::memcpy(language, "und", 4);
}

void describe_track(FileDescription* d, uint32_t track_id, TrackDescription* t) {
  MediaFile* file = d->file;
  t->track_id = track_id;
  TrackDetails& details = t->details;
  ErrorCode e = track_details(file, track_id, &details);
  t->handler = details.handler_type;
  TrackInfo info;
  t->failure = track_info(file, t->track_id, &info);
  if (t->failure != ErrorCode::Ok) return;
  if (e != ErrorCode::Ok) {
    t->failure = e;
    return;
  }
  t->has_picture = details.has_picture;
  t->is_sound = details.is_sound;
  t->fourcc = info.fourcc;
  t->codec = details.codec_name;
  track_entry_boxes(file, t->track_id, t->entry_boxes, TrackDescription::kMaxEntryBoxes, &t->entry_box_count);
  if (t->has_picture) {
    t->width = info.width;
    t->height = info.height;
  } else if (t->is_sound) {
    t->sample_rate = info.sample_rate;
    t->sample_bits = info.sample_bits;
    t->channels = track_decoded_channels(file, &info);
  }
  t->timescale = info.timescale;
  t->media_duration = info.media_duration;
  t->played_duration = details.played_duration;
  t->start_delay = info.start_delay;
  t->rotation = details.rotation;
  std::memcpy(t->language, info.language, sizeof t->language);
  t->language[3] = '\0';
  fix_language(t->language);
  track_display_name(file, t->track_id, t->name, sizeof t->name);

  if (d->open_mode == kOpenRead) {
    t->counts_known = 1;
    t->sample_count = info.sample_count;
    // PCM stored as chunks counts its samples in frames: its duration.
    if (details.counts_frames && info.media_duration <= UINT32_MAX)
      t->sample_count = static_cast<uint32_t>(info.media_duration);
    t->avg_bitrate = details.avg_bitrate;
    t->max_bitrate = details.max_bitrate;
    uint32_t reason = 0;
    bool as_stored = false;
    if (remux_track_verdict(file, t->track_id, &reason, &as_stored) == ErrorCode::Ok) {
      t->verdict_known = 1;
      t->carried = reason == 0 ? 1 : 0;
      t->as_stored = as_stored ? 1 : 0;
      if (reason != 0) t->left_out_because = drop_reason_text(reason);
    }
    remux_track_shortfall(file, t->track_id, &t->shortfall);
  } else {
    // Only inspect mode reads this file, and the remux reads no file that way.
    t->verdict_known = 1;
    t->carried = 0;
    t->left_out_because = "the remux does not read this kind of file";
  }
}

struct UserTextGathering {
  FileDescription* d;
  ErrorCode failure;
};

bool add_user_text(const UserDataText& text, void* user) {
  auto* g = static_cast<UserTextGathering*>(user);
  g->failure = g->d->user_texts.append(text);
  return g->failure == ErrorCode::Ok;
}

ErrorCode gather(FileDescription* d) {
  MovieInfo movie;
  VT_TRY(movie_info(d->file, &movie));
  d->flavour = movie.flavour;
  if (file_brands(d->file, &d->brands) == ErrorCode::Ok) d->ftyp = &d->brands;
  d->movie_timescale = movie.timescale;
  d->movie_duration = movie.duration;
  // Every track, also those the library cannot summarise.
  for (uint32_t i = 0; i < movie.track_count; ++i) {
    TrackDescription t{};
    describe_track(d, movie_track_id(d->file, i), &t);
    VT_TRY(d->tracks.append(t));
  }
  for (uint32_t i = 0; i < movie_chapter_count(d->file); ++i) {
    ChapterMark chapter;
    VT_TRY(movie_chapter(d->file, i, &chapter));
    VT_TRY(d->chapters.append(chapter));
  }
  UserTextGathering g{d, ErrorCode::Ok};
  VT_TRY(movie_user_texts(d->file, add_user_text, &g));
  return g.failure;
}

// "track 1 (vide) lacks its last 752 of 1500 samples (30.080 s): the file is
// cut short"; false for a whole track.
bool shortfall_note(const TrackDescription& t, char (&text)[160]) {
  const TrackShortfall& s = t.shortfall;
  if (s.missing == 0) return false;
  char handler[5] = {};
  for (int i = 0; i < 4; ++i) {
    auto c = static_cast<unsigned char>(t.handler.c[i]);
    handler[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  }
  std::snprintf(text, sizeof text, "track %u (%s) lacks its last %u of %u sample%s (%llu.%03llu s): the file is cut short",
                t.track_id, handler, s.missing, s.total, s.total == 1 ? "" : "s",
                static_cast<unsigned long long>(s.missing_ms / 1000), static_cast<unsigned long long>(s.missing_ms % 1000));
  return true;
}

// ---- Text -------------------------------------------------------------------------

// Bytes from the file as they are, except control characters, which could
// steer the terminal.
void print_clean(std::FILE* out, const char* data, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c < 0x20 || c == 0x7F) {
      console_printf(out, "\\x%02X", c);
    } else {
      console_putc(c, out);
    }
  }
}


void print_seconds_text(std::FILE* out, uint64_t ticks, uint32_t scale) {
  char seconds[32];
  console_printf(out, "%llu", static_cast<unsigned long long>(ticks));
  if (format_seconds(ticks, scale, seconds)) console_printf(out, " (%s s)", seconds);
}

void print_track_text(std::FILE* out, const FileDescription* d, const TrackDescription& t) {
  console_printf(out, "Track %u: handler ", t.track_id);
  print_code(out, t.handler);
  if (t.failure != ErrorCode::Ok) {
    console_printf(out, ", cannot be described: %s\n", error_name(t.failure));
    return;
  }
  console_puts(", format ", out);
  print_code(out, t.fourcc);
  if (t.codec != nullptr) console_printf(out, " (%s)", t.codec);
  if (t.entry_box_count > 0) {
    console_puts(", entry boxes", out);
    for (uint32_t i = 0; i < t.entry_box_count && i < TrackDescription::kMaxEntryBoxes; ++i) {
      console_putc(' ', out);
      print_code(out, t.entry_boxes[i]);
    }
    if (t.entry_box_count > TrackDescription::kMaxEntryBoxes) console_puts(" ...", out);
  }
  if (t.has_picture) console_printf(out, ", %ux%u", t.width, t.height);
  if (t.rotation != 0) console_printf(out, ", rotation %d degrees", t.rotation);
  print_colour_text(out, t.details);
  if (t.is_sound)
    console_printf(out, ", %u Hz, %u channel%s, %u bit%s", t.sample_rate, t.channels, t.channels == 1 ? "" : "s",
                   t.sample_bits, t.sample_bits == 1 ? "" : "s");
  console_printf(out, ", time scale %u, duration ", t.timescale);
  print_seconds_text(out, t.media_duration, t.timescale);
  console_puts(", played ", out);
  print_seconds_text(out, t.played_duration, d->movie_timescale);
  if (t.counts_known) {
    console_printf(out, ", %u sample%s, %u bit/s average, %u bit/s maximum", t.sample_count,
                   t.sample_count == 1 ? "" : "s", t.avg_bitrate, t.max_bitrate);
  } else {
    console_puts(", sample count and bit rates unknown", out);
  }
  console_puts(", start delay ", out);
  print_seconds_text(out, t.start_delay, d->movie_timescale);
  console_puts(", language ", out);
  print_clean(out, t.language, std::strlen(t.language));
  if (t.name[0] != '\0') {
    console_puts(", name \"", out);
    print_clean(out, t.name, std::strlen(t.name));
    console_putc('"', out);
  }
  if (!t.verdict_known) {
    console_puts(": remux unknown\n", out);
  } else if (t.carried) {
    console_puts(t.as_stored ? ": carried as stored\n" : ": carried\n", out);
  } else {
    console_printf(out, ": left out, %s\n", t.left_out_because != nullptr ? t.left_out_because : "unknown reason");
  }
}

void print_tag_text(std::FILE* out, MediaFile* file, uint32_t index) {
  TagFacts tag;
  if (movie_tag(file, index, &tag) != ErrorCode::Ok) return;
  console_puts("  ", out);
  print_clean(out, tag.full_name, std::strlen(tag.full_name));
  console_puts(":", out);
  for (uint32_t v = 0; v < tag.value_count; ++v) {
    console_puts(v == 0 ? " " : " | ", out);
    TagValueText value;
    if (movie_tag_value(file, index, v, &value) != ErrorCode::Ok) continue;
    if (value.text != nullptr) {
      print_clean(out, value.text, value.length);
    } else {
      console_printf(out, "%s, %u bytes", value.kind, value.bytes);
    }
  }
  console_putc('\n', out);
}

// ---- JSON -------------------------------------------------------------------------

// Ticks and, beside them under `seconds_key`, the same in seconds.
void json_duration(JsonWriter* w, const char* key, const char* seconds_key, uint64_t ticks, uint32_t scale) {
  json_u64(w, key, ticks);
  char seconds[32];
  if (format_seconds(ticks, scale, seconds)) {
    json_key(w, seconds_key);
    json_item(w);
    console_puts(seconds, w->out);
  } else {
    json_null(w, seconds_key);
  }
}

void print_track_json(JsonWriter* w, const FileDescription* d, const TrackDescription& t) {
  json_open(w, '{');
  json_u64(w, "id", t.track_id);
  json_code(w, "handler", t.handler);
  if (t.failure != ErrorCode::Ok) {
    json_text(w, "error", error_name(t.failure));
    json_close(w, '}');
    return;
  }
  json_code(w, "format", t.fourcc);
  if (t.codec != nullptr) {
    json_text(w, "codec", t.codec);
  } else {
    json_null(w, "codec");
  }
  json_key(w, "entry_boxes");
  json_open(w, '[');
  for (uint32_t i = 0; i < t.entry_box_count && i < TrackDescription::kMaxEntryBoxes; ++i)
    json_string(w, nullptr, t.entry_boxes[i].c, 4);
  json_close(w, ']');
  if (is_format_tag(t.fourcc)) json_u64(w, "format_tag", format_tag_of(t.fourcc));
  if (t.has_picture) {
    json_u64(w, "width", t.width);
    json_u64(w, "height", t.height);
    json_i64(w, "rotation", t.rotation);
    print_colour_json(w, t.details);
  }
  if (t.is_sound) {
    json_u64(w, "sample_rate", t.sample_rate);
    json_u64(w, "channels", t.channels);
    json_u64(w, "sample_bits", t.sample_bits);
  }
  json_u64(w, "time_scale", t.timescale);
  json_duration(w, "duration", "duration_seconds", t.media_duration, t.timescale);
  json_duration(w, "played_duration", "played_duration_seconds", t.played_duration, d->movie_timescale);
  if (t.counts_known) {
    json_u64(w, "sample_count", t.sample_count);
    json_u64(w, "average_bit_rate", t.avg_bitrate);
    json_u64(w, "maximum_bit_rate", t.max_bitrate);
  } else {
    json_null(w, "sample_count");
    json_null(w, "average_bit_rate");
    json_null(w, "maximum_bit_rate");
  }
  json_duration(w, "start_delay", "start_delay_seconds", t.start_delay, d->movie_timescale);
  json_string(w, "language", t.language, std::strlen(t.language));
  if (t.name[0] != '\0') json_text(w, "name", t.name);
  if (t.verdict_known) {
    json_bool(w, "carried", t.carried != 0);
    json_bool(w, "carried_as_stored", t.as_stored != 0);
  } else {
    json_null(w, "carried");
  }
  if (t.verdict_known && !t.carried)
    json_text(w, "left_out_because", t.left_out_because != nullptr ? t.left_out_because : "unknown reason");
  json_close(w, '}');
}

void print_tag_json(JsonWriter* w, MediaFile* file, uint32_t index) {
  TagFacts tag;
  if (movie_tag(file, index, &tag) != ErrorCode::Ok) return;
  json_open(w, '{');
  json_text(w, "name", tag.name);
  if (tag.item[0] != '\0') json_text(w, "item", tag.item);
  if (tag.key != nullptr) json_text(w, "key", tag.key);
  if (tag.mean != nullptr) json_text(w, "mean", tag.mean);
  json_key(w, "values");
  json_open(w, '[');
  for (uint32_t v = 0; v < tag.value_count; ++v) {
    TagValueText value;
    if (movie_tag_value(file, index, v, &value) != ErrorCode::Ok) continue;
    if (std::strcmp(value.kind, "text") == 0) {
      json_string(w, nullptr, value.text, value.length);
      continue;
    }
    json_open(w, '{');
    json_text(w, "type", value.kind);
    json_u64(w, "raw_bytes", value.bytes);
    if (value.text != nullptr) json_string(w, "text", value.text, value.length);
    json_close(w, '}');
  }
  json_close(w, ']');
  json_close(w, '}');
}

}  // namespace

// A code as its four characters, a byte that does not print as \xNN.
void print_code(std::FILE* out, FourCC f) {
  if (f.is_zero()) {
    console_puts("none", out);
    return;
  }
  for (char c : f.c) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b >= 0x7F || b == '\\') {
      console_printf(out, "\\x%02X", b);
    } else {
      console_putc(b, out);
    }
  }
  if (is_format_tag(f)) console_printf(out, " (format tag 0x%04X)", format_tag_of(f));
}

bool format_seconds(uint64_t ticks, uint32_t scale, char (&text)[32]) {
  text[0] = '\0';
  if (scale == 0) return false;
  uint64_t whole = ticks / scale;
  // The remainder is below 2^32, so a million times it stays within 64 bits;
  // rounded to the nearest microsecond, a remainder that rounds up to a
  // whole second carries into it.
  uint64_t micro = (ticks % scale * 1000000 + scale / 2) / scale;
  if (micro == 1000000) {
    ++whole;
    micro = 0;
  }
  std::snprintf(text, sizeof text, "%llu.%06llu", static_cast<unsigned long long>(whole),
                static_cast<unsigned long long>(micro));
  return true;
}


ErrorCode describe_file(const void* name, const char* path, const IoRoutines* routines, void* user,
                        ErrorDetail* detail, FileDescription* out, uint32_t program_number) {
  if (out != nullptr) *out = FileDescription{};
  if (name == nullptr || routines == nullptr || out == nullptr) return ErrorCode::BadArgument;
  OpenParams params{};
  params.routines = *routines;
  params.path = name;
  params.user = user;
  params.failure_detail = detail;
  params.program_number = program_number;
  uint32_t mode = kOpenRead;
  ErrorCode e = media_open(&out->file, &params, mode);
  if (e == ErrorCode::Unsupported) {
    // Some formats (ASF) are described from their headers only.
    if (detail != nullptr) *detail = ErrorDetail{};
    mode = kOpenInspect;
    e = media_open(&out->file, &params, mode);
  }
  if (e != ErrorCode::Ok) {
    out->file = nullptr;
    return e;
  }
  out->path = path;
  out->open_mode = mode;
  e = gather(out);
  if (e != ErrorCode::Ok) {
    // Where in the file it failed ("no movie header"), as for an open.
    media_failure_detail(out->file, detail);
    file_description_release(out);
  }
  return e;
}

void file_description_release(FileDescription* description) {
  if (description == nullptr) return;
  if (description->file != nullptr) media_close(description->file);
  description->tracks.release();
  description->chapters.release();
  description->user_texts.release();
  *description = FileDescription{};
}

void print_description_text(std::FILE* out, const FileDescription* d) {
  if (out == nullptr || d == nullptr) return;
  console_puts("File: ", out);
  if (d->path != nullptr) print_clean(out, d->path, std::strlen(d->path));
  console_printf(out, "\nFormat: %s", media_format_title(d->flavour));
  if (d->open_mode == kOpenInspect) console_puts(" (headers only)", out);
  if (d->ftyp != nullptr) {
    console_puts(", major brand ", out);
    print_code(out, d->ftyp->major_brand);
    console_printf(out, " (minor version %u), compatible brands", d->ftyp->minor_version);
    if (d->ftyp->brand_count == 0) console_puts(" none", out);
    for (uint32_t i = 0; i < d->ftyp->brand_count; ++i) {
      console_putc(' ', out);
      print_code(out, d->ftyp->compatible_brands[i]);
    }
  }
  console_printf(out, "\nMovie: time scale %u, duration ", d->movie_timescale);
  print_seconds_text(out, d->movie_duration, d->movie_timescale);
  console_printf(out, ", %u track%s\n", d->tracks.count, d->tracks.count == 1 ? "" : "s");
  for (const TrackDescription& t : d->tracks) print_track_text(out, d, t);
  for (uint32_t i = 0; const char* note = import_note(d->file, i); ++i) console_printf(out, "Note: %s\n", note);
  for (const TrackDescription& t : d->tracks) {
    char note[160];
    if (shortfall_note(t, note)) console_printf(out, "Note: %s\n", note);
  }
  console_printf(out, "Chapters: %u\n", d->chapters.count);
  for (const ChapterMark& c : d->chapters) {
    char seconds[32];
    format_seconds(c.start_time, 10000000, seconds);
    console_printf(out, "  %s s  ", seconds);
    print_clean(out, c.title, strnlen(c.title, sizeof c.title));
    console_putc('\n', out);
  }
  uint32_t tag_count = movie_tag_count(d->file);
  console_printf(out, "Tags: %u\n", tag_count);
  for (uint32_t i = 0; i < tag_count; ++i) print_tag_text(out, d->file, i);
  if (d->user_texts.count > 0) console_printf(out, "User data texts: %u\n", d->user_texts.count);
  for (const UserDataText& u : d->user_texts) {
    console_printf(out, "  %s: ", u.type_name[0] != '\0' ? u.type_name : "?");
    print_clean(out, u.text, u.length);
    console_putc('\n', out);
  }
}

void print_description_json(std::FILE* out, const FileDescription* d) {
  if (out == nullptr || d == nullptr) return;
  JsonWriter w{};
  w.out = out;
  json_open(&w, '{');
  if (d->path != nullptr) json_text(&w, "file", d->path);
  json_text(&w, "flavour", media_format_name(d->flavour));
  json_bool(&w, "headers_only", d->open_mode == kOpenInspect);
  if (d->ftyp != nullptr) {
    json_code(&w, "major_brand", d->ftyp->major_brand);
    json_u64(&w, "minor_version", d->ftyp->minor_version);
    json_key(&w, "compatible_brands");
    json_open(&w, '[');
    for (uint32_t i = 0; i < d->ftyp->brand_count; ++i) json_string(&w, nullptr, d->ftyp->compatible_brands[i].c, 4);
    json_close(&w, ']');
  } else {
    json_null(&w, "major_brand");
    json_null(&w, "minor_version");
    json_null(&w, "compatible_brands");
  }
  json_key(&w, "movie");
  json_open(&w, '{');
  json_u64(&w, "time_scale", d->movie_timescale);
  json_duration(&w, "duration", "duration_seconds", d->movie_duration, d->movie_timescale);
  json_close(&w, '}');
  json_key(&w, "tracks");
  json_open(&w, '[');
  for (const TrackDescription& t : d->tracks) print_track_json(&w, d, t);
  json_close(&w, ']');
  json_key(&w, "chapters");
  json_open(&w, '[');
  for (const ChapterMark& c : d->chapters) {
    json_open(&w, '{');
    json_duration(&w, "start", "start_seconds", c.start_time, 10000000);
    json_string(&w, "title", c.title, strnlen(c.title, sizeof c.title));
    json_close(&w, '}');
  }
  json_close(&w, ']');
  json_key(&w, "tags");
  json_open(&w, '[');
  for (uint32_t i = 0, n = movie_tag_count(d->file); i < n; ++i) print_tag_json(&w, d->file, i);
  json_close(&w, ']');
  json_key(&w, "user_data_texts");
  json_open(&w, '[');
  for (const UserDataText& u : d->user_texts) {
    json_open(&w, '{');
    if (u.type_name[0] != '\0') json_text(&w, "type", u.type_name);
    json_string(&w, "text", u.text, u.length);
    json_close(&w, '}');
  }
  json_close(&w, ']');
  // What an import left out, and why.
  json_key(&w, "notes");
  json_open(&w, '[');
  for (uint32_t i = 0; const char* note = import_note(d->file, i); ++i) json_text(&w, nullptr, note);
  for (const TrackDescription& t : d->tracks) {
    char note[160];
    if (shortfall_note(t, note)) json_text(&w, nullptr, note);
  }
  json_close(&w, ']');
  json_close(&w, '}');
  console_putc('\n', out);
}

}  // namespace vantorel::app
