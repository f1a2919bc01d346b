// The element walk of a Matroska file: the EBML header, the segment's
// information and track entries, and the frames of every cluster.
#include "import/matroska/matroska_import.h"

#include <cstdlib>
#include <cstring>

#include "codecs/mpeg_audio.h"
#include "import/matroska/matroska_internal.h"

namespace vantorel {

namespace {

constexpr uint64_t kDefaultTimestampScale = 1000000;

// Children of the segment: one of them ends a cluster of unknown size.
bool segment_child(uint32_t id) {
  switch (id) {
    case kSeekHead:
    case kInfo:
    case kTracks:
    case kCluster:
    case kCues:
    case kChapters:
    case kTags:
    case kAttachments:
    case kSegment:
    case kEbmlHeader: return true;
  }
  return false;
}

void release_track(MkvTrack* t) {
  if (t == nullptr) return;
  block_release(&t->codec_private);
  block_release(&t->comp_settings);
  block_release(&t->addition_record);
  t->frames.release();
  std::free(t);
}

ErrorCode read_info(MkvImport* imp, const EbmlElement* info) {
  ImportFile* file = imp->file;
  return mkv_walk(imp, info, [&](const EbmlElement* e) {
    if (e->id == kTimestampScale) {
      uint64_t scale = 0;
      VT_TRY(ebml_uint(file, e, &scale));
      if (scale == 0 || scale > 1000000000) return malformed(file, "Matroska TimestampScale out of range");
      imp->timestamp_scale = scale;
    } else if (e->id == kTitle) {
      VT_TRY(ebml_text(file, e, imp->title, sizeof imp->title));
    } else if (e->id == kDateUtc) {
      // A signed count of ns in as many bytes as the element has.
      uint64_t raw = 0;
      VT_TRY(ebml_uint(file, e, &raw));
      const uint32_t bits = static_cast<uint32_t>(e->size * 8);
      if (bits > 0 && bits < 64 && (raw >> (bits - 1)) != 0) raw |= ~uint64_t{0} << bits;
      imp->date_utc = static_cast<int64_t>(raw);
      imp->dated = e->size > 0;
    } else if (e->id == kDuration) {
      double duration = 0;
      VT_TRY(ebml_float(file, e, &duration));
      // Only a plausible duration can tell a cut file: NaN, negative or past
      // 2^53 ticks is not believed.
      imp->duration = duration > 0 && duration < 9007199254740992.0 ? duration : 0;
    }
    return ErrorCode::Ok;
  });
}

// The mastering display counts only when it names every chromaticity and
// the peak luminance; the minimum may be left out (0).
ErrorCode read_mastering(MkvImport* imp, const EbmlElement* mastering, MkvTrack* t) {
  uint32_t seen = 0;
  double values[10] = {};
  VT_TRY(mkv_walk(imp, mastering, [&](const EbmlElement* e) {
    if (e->id < kPrimaryRChromaticityX || e->id > kLuminanceMin) return ErrorCode::Ok;
    const uint32_t i = e->id - kPrimaryRChromaticityX;
    seen |= 1u << i;
    return ebml_float(imp->file, e, &values[i]);
  }));
  for (double v : values)
    if (!(v >= 0 && v < 1e7)) return ErrorCode::Ok;  // NaN, negative or absurd: not believed
  if ((seen & 0x1FF) != 0x1FF) return ErrorCode::Ok;
  for (uint32_t i = 0; i < 10; ++i) t->mastering[i] = values[i];
  t->mastering_given = true;
  return ErrorCode::Ok;
}

ErrorCode read_track_colour(MkvImport* imp, const EbmlElement* colour, MkvTrack* t) {
  return mkv_walk(imp, colour, [&](const EbmlElement* e) {
    switch (e->id) {
      case kPrimaries: t->colour_given = true; return ebml_uint(imp->file, e, &t->primaries);
      case kTransferCharacteristics: t->colour_given = true; return ebml_uint(imp->file, e, &t->transfer);
      case kMatrixCoefficients: t->colour_given = true; return ebml_uint(imp->file, e, &t->matrix);
      case kColourRange: t->colour_given = true; return ebml_uint(imp->file, e, &t->range);
      case kMaxCll: return ebml_uint(imp->file, e, &t->max_cll);
      case kMaxFall: return ebml_uint(imp->file, e, &t->max_fall);
      case kMasteringMetadata: return read_mastering(imp, e, t);
    }
    return ErrorCode::Ok;
  });
}

// A BlockAdditionMapping: only Dolby Vision's configuration record is kept,
// the first one given.
ErrorCode read_addition_mapping(MkvImport* imp, const EbmlElement* mapping, MkvTrack* t) {
  if (t->addition_type != 0) return ErrorCode::Ok;
  uint64_t type = 0;
  EbmlElement extra{};
  VT_TRY(mkv_walk(imp, mapping, [&](const EbmlElement* e) {
    if (e->id == kBlockAddIdType) return ebml_uint(imp->file, e, &type);
    if (e->id == kBlockAddIdExtraData) extra = *e;
    return ErrorCode::Ok;
  }));
  const bool dolby = type == FourCC::of("dvcC").to_u32() || type == FourCC::of("dvvC").to_u32();
  // The record is 24 bytes; anything far larger is no configuration record.
  if (!dolby || extra.id == 0 || extra.cut || extra.size < 5 || extra.size > 256) return ErrorCode::Ok;
  VT_TRY(file_seek(imp->file, extra.data));
  VT_TRY(block_read(imp->file, &t->addition_record, extra.size, "Matroska BlockAddIDExtraData too large"));
  t->addition_type = static_cast<uint32_t>(type);
  return ErrorCode::Ok;
}

ErrorCode read_track_video(MkvImport* imp, const EbmlElement* video, MkvTrack* t) {
  return mkv_walk(imp, video, [&](const EbmlElement* e) {
    if (e->id == kPixelWidth) return ebml_uint(imp->file, e, &t->width);
    if (e->id == kPixelHeight) return ebml_uint(imp->file, e, &t->height);
    if (e->id == kColour) return read_track_colour(imp, e, t);
    return ErrorCode::Ok;
  });
}

ErrorCode read_track_audio(MkvImport* imp, const EbmlElement* audio, MkvTrack* t) {
  return mkv_walk(imp, audio, [&](const EbmlElement* e) {
    if (e->id == kSamplingFrequency) return ebml_float(imp->file, e, &t->sampling_frequency);
    if (e->id == kChannels) return ebml_uint(imp->file, e, &t->channels);
    if (e->id == kBitDepth) return ebml_uint(imp->file, e, &t->bit_depth);
    return ErrorCode::Ok;
  });
}

ErrorCode read_content_encodings(MkvImport* imp, const EbmlElement* encodings, MkvTrack* t) {
  ImportFile* file = imp->file;
  return mkv_walk(imp, encodings, [&](const EbmlElement* encoding) {
    if (encoding->id != kContentEncoding) return ErrorCode::Ok;
    ++t->encodings;
    t->encoding_scope = 1;
    return mkv_walk(imp, encoding, [&](const EbmlElement* e) {
      switch (e->id) {
        case kContentEncodingScope: return ebml_uint(file, e, &t->encoding_scope);
        case kContentEncodingType: return ebml_uint(file, e, &t->encoding_type);
        case kContentEncryption: t->encoding_type = 1; return ErrorCode::Ok;
        case kContentCompression:
          return mkv_walk(imp, e, [&](const EbmlElement* c) {
            if (c->id == kContentCompAlgo) return ebml_uint(file, c, &t->comp_algo);
            if (c->id == kContentCompSettings && !c->cut)
              return block_read(file, &t->comp_settings, c->size, "Matroska ContentCompSettings too large");
            return ErrorCode::Ok;
          });
      }
      return ErrorCode::Ok;
    });
  });
}

ErrorCode read_track_entry(MkvImport* imp, const EbmlElement* entry, MkvTrack* t) {
  ImportFile* file = imp->file;
  t->enabled = 1;
  t->is_default = 1;
  t->sampling_frequency = 8000;
  t->channels = 1;
  t->primaries = t->transfer = t->matrix = 2;
  std::memcpy(t->language, "eng", 4);
  return mkv_walk(imp, entry, [&](const EbmlElement* e) {
    switch (e->id) {
      case kTrackNumber: return ebml_uint(file, e, &t->number);
      case kTrackType: return ebml_uint(file, e, &t->type);
      case kFlagEnabled: return ebml_uint(file, e, &t->enabled);
      case kFlagDefault: return ebml_uint(file, e, &t->is_default);
      case kFlagForced: return ebml_uint(file, e, &t->forced);
      case kDefaultDuration: return ebml_uint(file, e, &t->default_duration);
      case kCodecDelay: return ebml_uint(file, e, &t->codec_delay);
      case kSeekPreRoll: return ebml_uint(file, e, &t->seek_preroll);
      case kName: return ebml_text(file, e, t->name, sizeof t->name);
      case kLanguage: return ebml_text(file, e, t->language, sizeof t->language);
      case kLanguageBcp47: return ebml_text(file, e, t->language_bcp47, sizeof t->language_bcp47);
      case kCodecId: return ebml_text(file, e, t->codec_id, sizeof t->codec_id);
      case kCodecPrivate:
        if (e->cut) return ErrorCode::Ok;
        return block_read(file, &t->codec_private, e->size, "Matroska CodecPrivate too large");
      case kVideo: return read_track_video(imp, e, t);
      case kAudio: return read_track_audio(imp, e, t);
      case kContentEncodings: return read_content_encodings(imp, e, t);
      case kBlockAdditionMapping: return read_addition_mapping(imp, e, t);
    }
    return ErrorCode::Ok;
  });
}

ErrorCode read_tracks(MkvImport* imp, const EbmlElement* tracks) {
  if (imp->tracks_read) return ErrorCode::Ok;
  imp->tracks_read = 1;
  return mkv_walk(imp, tracks, [&](const EbmlElement* e) {
    if (e->id != kTrackEntry || imp->track_count >= kMatroskaMaxTracks) return ErrorCode::Ok;
    MkvTrack* t = alloc_record<MkvTrack>();
    if (t == nullptr) return ErrorCode::OutOfMemory;
    imp->tracks[imp->track_count++] = t;
    VT_TRY(read_track_entry(imp, e, t));
    // Two entries with one number cannot tell their blocks apart: the first keeps it.
    for (uint32_t i = 0; i + 1 < imp->track_count; ++i)
      if (imp->tracks[i]->number == t->number) t->number = 0;
    return ErrorCode::Ok;
  });
}

ErrorCode read_block_group(MkvImport* imp, const EbmlElement* group, int64_t cluster_time) {
  ImportFile* file = imp->file;
  EbmlElement block{};
  bool have_block = false;
  bool referenced = false;
  uint64_t duration = 0;
  int64_t padding = 0;
  VT_TRY(mkv_walk(imp, group, [&](const EbmlElement* e) {
    if (e->id == kBlock && !have_block) {
      block = *e;
      have_block = true;
    } else if (e->id == kReferenceBlock) {
      referenced = true;
    } else if (e->id == kBlockDuration) {
      return ebml_uint(file, e, &duration);
    } else if (e->id == kDiscardPadding) {
      // A signed integer in as many bytes as the element has.
      uint64_t raw = 0;
      VT_TRY(ebml_uint(file, e, &raw));
      const uint32_t bits = static_cast<uint32_t>(e->size * 8);
      if (bits > 0 && bits < 64 && (raw >> (bits - 1)) != 0) raw |= ~uint64_t{0} << bits;
      padding = static_cast<int64_t>(raw);
    }
    return ErrorCode::Ok;
  }));
  if (!have_block) return ErrorCode::Ok;
  MkvTrack* track = nullptr;
  VT_TRY(mkv_read_block(imp, &block, cluster_time, false, !referenced, duration, &track));
  if (padding > 0 && track != nullptr) {
    // The frame just added is the group's; only the track's last one counts.
    track->discard_padding = padding;
    track->discard_frame = track->frames.count;
  }
  return file_seek(file, group->end);
}

ErrorCode read_cluster(MkvImport* imp, EbmlElement* cluster) {
  ImportFile* file = imp->file;
  int64_t cluster_time = 0;
  const bool open = cluster->unknown_size || cluster->cut;
  VT_TRY(file_seek(file, cluster->data));
  while (!io_failed(file)) {
    EbmlElement e;
    bool got = false;
    VT_TRY(ebml_next(file, cluster->end, open, &e, &got));
    if (!got) break;
    if (cluster->unknown_size && segment_child(e.id)) {
      // The next element of the segment ends a cluster of unknown size.
      cluster->end = e.start;
      cluster->size = e.start - cluster->data;
      break;
    }
    if (e.id == kClusterTimestamp) {
      uint64_t t = 0;
      VT_TRY(ebml_uint(file, &e, &t));
      if (t > INT64_MAX / 2) return malformed(file, "Matroska cluster timestamp out of range");
      cluster_time = static_cast<int64_t>(t);
    } else if (e.id == kSimpleBlock) {
      VT_TRY(mkv_read_block(imp, &e, cluster_time, true, false));
    } else if (e.id == kBlockGroup) {
      VT_TRY(read_block_group(imp, &e, cluster_time));
    }
    if (e.cut) break;
    VT_TRY(file_seek(file, e.end));
  }
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

// Cue points say where clusters start; one past the end of the file says
// the file was cut after its cues were written.
ErrorCode read_cues(MkvImport* imp, const EbmlElement* cues) {
  ImportFile* file = imp->file;
  return mkv_walk(imp, cues, [&](const EbmlElement* point) {
    if (point->id != kCuePoint || imp->cues_past_end) return ErrorCode::Ok;
    return mkv_walk(imp, point, [&](const EbmlElement* positions) {
      if (positions->id != kCueTrackPositions) return ErrorCode::Ok;
      return mkv_walk(imp, positions, [&](const EbmlElement* e) {
        if (e->id != kCueClusterPosition) return ErrorCode::Ok;
        uint64_t position = 0;
        VT_TRY(ebml_uint(file, e, &position));
        if (position >= imp->file_size || imp->segment_data >= imp->file_size - position) imp->cues_past_end = 1;
        return ErrorCode::Ok;
      });
    });
  });
}

ErrorCode read_segment(MkvImport* imp, EbmlElement* segment) {
  ImportFile* file = imp->file;
  const bool open = segment->unknown_size || segment->cut;
  VT_TRY(file_seek(file, segment->data));
  while (!io_failed(file)) {
    EbmlElement e;
    bool got = false;
    VT_TRY(ebml_next(file, segment->end, open, &e, &got));
    if (!got) break;
    if (e.id == kInfo) {
      VT_TRY(read_info(imp, &e));
    } else if (e.id == kTracks) {
      VT_TRY(read_tracks(imp, &e));
    } else if (e.id == kCluster) {
      VT_TRY(read_cluster(imp, &e));
    } else if (e.id == kTags) {
      VT_TRY(mkv_read_tags(imp, &e));
    } else if (e.id == kChapters) {
      VT_TRY(mkv_read_chapters(imp, &e));
    } else if (e.id == kAttachments) {
      VT_TRY(mkv_read_attachments(imp, &e));
    } else if (e.id == kCues && !e.cut) {
      VT_TRY(read_cues(imp, &e));
    }
    if (e.cut) break;
    VT_TRY(file_seek(file, e.end));
  }
  return io_failed(file) ? ErrorCode::Io : ErrorCode::Ok;
}

// The EBML header at the current position; `*ours` when its DocType is one
// of the two this import reads (a header without one is Matroska's). A
// header that does not parse is Malformed, with the reason and offset.
ErrorCode read_ebml_header(ImportFile* file, EbmlElement* header, bool* ours) {
  *ours = false;
  bool got = false;
  VT_TRY(ebml_next(file, file_size(file), true, header, &got));
  if (!got || header->id != kEbmlHeader) {
    set_error_at(file, 0, "no EBML header at the start of the file");
    return ErrorCode::Malformed;
  }
  // Its children are told from the segment's only by its size.
  if (header->unknown_size) {
    set_error_at(file, header->start, "EBML header of unknown size");
    return ErrorCode::Malformed;
  }
  if (header->cut) {
    set_error_at(file, header->start, "EBML header cut by the end of the file");
    return ErrorCode::Malformed;
  }
  char doc_type[16] = "matroska";
  while (true) {
    EbmlElement e;
    VT_TRY(ebml_next(file, header->end, false, &e, &got));
    if (!got) break;
    if (e.id == kEbmlDocType) {
      VT_TRY(ebml_text(file, &e, doc_type, sizeof doc_type));
      break;
    }
    VT_TRY(file_seek(file, e.end));
  }
  *ours = std::strcmp(doc_type, "matroska") == 0 || std::strcmp(doc_type, "webm") == 0;
  return ErrorCode::Ok;
}

ErrorCode import_segments(MkvImport* imp) {
  ImportFile* file = imp->file;
  EbmlElement header;
  bool ours = false;
  VT_TRY(read_ebml_header(file, &header, &ours));
  if (!ours) return ErrorCode::Unsupported;
  VT_TRY(file_seek(file, header.end));
  if (imp->root->moov == nullptr) VT_TRY(add_movie_box(file, BoxTypeId::Moov));
  if (imp->root->moov->mvhd == nullptr) VT_TRY(add_movie_box(file, BoxTypeId::Mvhd));
  // Only the first segment is read: a further one is another presentation.
  while (!io_failed(file)) {
    EbmlElement e;
    bool got = false;
    VT_TRY(ebml_next(file, imp->file_size, true, &e, &got));
    if (!got) break;
    if (e.id == kSegment) {
      imp->segment_data = e.data;
      imp->segment_cut = e.cut ? 1 : 0;
      return read_segment(imp, &e);
    }
    if (e.cut) break;
    VT_TRY(file_seek(file, e.end));
  }
  if (io_failed(file)) return ErrorCode::Io;
  // Nothing but the header: a file cut before its Segment, or no media.
  set_error_at(file, header.end, "no Segment after the EBML header: the file is cut there or holds no media");
  return ErrorCode::Malformed;
}

// The latest time any frame ends, in TimestampScale units; -1 without frames.
double latest_frame_end(const MkvImport* imp) {
  double latest = -1;
  for (uint32_t i = 0; i < imp->track_count; ++i) {
    const MkvTrack* t = imp->tracks[i];
    const double step = static_cast<double>(t->default_duration) / static_cast<double>(imp->timestamp_scale);
    for (const MkvFrame& f : t->frames) {
      const double end = static_cast<double>(f.time) + (f.duration > 0 ? static_cast<double>(f.duration) : step);
      if (end > latest) latest = end;
    }
  }
  return latest;
}

// A file that declares more than it holds is cut, even where no block is:
// a Segment ending past the end of the file, cues pointing there, or
// frames ending more than a second short of Duration. The import notes it
// and the remux refuses it unless salvaging.
void note_declared_cut(MkvImport* imp) {
  ImportFile* file = imp->file;
  const double scale = static_cast<double>(imp->timestamp_scale);
  const double latest = latest_frame_end(imp);
  const double held_s = latest > 0 ? latest * scale / 1e9 : 0;
  const double declared_s = imp->duration * scale / 1e9;
  // Tracks end apart by a frame or two; a second is more than that.
  const bool short_of_duration = imp->duration > 0 && declared_s - held_s > 1.0;
  if (imp->duration > 0 && declared_s < 9e15) file->declared_end_ms = static_cast<uint64_t>(declared_s * 1000 + 0.5);
  if (!imp->segment_cut && !imp->cues_past_end && !short_of_duration) return;
  file->cut = 1;
  const char* why = imp->segment_cut    ? "its Segment runs past the end of the file"
                    : imp->cues_past_end ? "its Cues point past the end of the file"
                                         : "its frames end before its Duration";
  if (imp->duration > 0)
    import_note_add(file, "the file is truncated: %s; it holds %.3f s of the %.3f s it declares", why, held_s,
                    declared_s);
  else
    import_note_add(file, "the file is truncated: %s", why);
}

// A channel count no sample entry can hold is taken from the first frame
// where the codec's header gives it (MPEG audio); otherwise the track is
// left out.
constexpr uint64_t kMaxChannels = 64;

ErrorCode check_channels(MkvImport* imp) {
  for (uint32_t i = 0; i < imp->track_count; ++i) {
    MkvTrack* t = imp->tracks[i];
    if (t->type != kMkvAudio || t->channels <= kMaxChannels) continue;
    uint32_t from_frame = 0;
    if (std::strncmp(t->codec_id, "A_MPEG/L", 8) == 0 && t->frames.count > 0 && t->encodings == 0) {
      uint8_t head[4];
      const MkvFrame& f = t->frames[0];
      if (f.size >= sizeof head && f.offset < imp->file_size && imp->file_size - f.offset >= sizeof head) {
        VT_TRY(file_seek(imp->file, f.offset));
        VT_TRY(read_bytes(imp->file, head, sizeof head));
        from_frame = mpeg_audio_frame_channels(head, sizeof head);
      }
    }
    if (from_frame > 0) t->channels = from_frame;
    else t->left_out = "its channel count is out of range";
  }
  return ErrorCode::Ok;
}

}  // namespace

MkvTrack* mkv_track_by_number(MkvImport* imp, uint64_t number) {
  if (number == 0) return nullptr;
  for (uint32_t i = 0; i < imp->track_count; ++i)
    if (imp->tracks[i]->number == number) return imp->tracks[i];
  return nullptr;
}

bool matroska_probe(ImportFile* file) {
  // The magic first, so that a file of another kind leaves no reason behind.
  uint8_t magic[4] = {};
  bool yes = file_size(file) >= 4 && file_seek(file, 0) == ErrorCode::Ok && read_bytes(file, magic, 4) == ErrorCode::Ok &&
             load_u32be(magic) == kEbmlHeader && file_seek(file, 0) == ErrorCode::Ok;
  if (yes) {
    // Only another DocType makes it someone else's: a header that does not
    // parse is refused by the import with what is wrong in it.
    EbmlElement header;
    bool ours = false;
    yes = read_ebml_header(file, &header, &ours) != ErrorCode::Ok || ours;
  }
  file_seek(file, 0);
  return yes;
}

ErrorCode matroska_import(ImportFile* file, FileBoxes* root) {
  if (file == nullptr || root == nullptr || file->root != root) return ErrorCode::BadArgument;
  MkvImport* imp = alloc_record<MkvImport>();
  if (imp == nullptr) return ErrorCode::OutOfMemory;
  imp->file = file;
  imp->root = root;
  imp->file_size = file_size(file);
  imp->timestamp_scale = kDefaultTimestampScale;
  imp->max_frames = imp->file_size;
  ErrorCode e = file_seek(file, 0);
  if (e == ErrorCode::Ok) e = import_segments(imp);
  if (e == ErrorCode::Ok) e = check_channels(imp);
  if (e == ErrorCode::Ok) note_declared_cut(imp);
  if (e == ErrorCode::Ok) e = mkv_build_tracks(imp);
  if (e == ErrorCode::Ok) e = mkv_add_movie_tags(imp);
  if (e == ErrorCode::Ok) e = mkv_add_chapter_track(imp);
  for (uint32_t i = 0; i < imp->track_count; ++i) release_track(imp->tracks[i]);
  block_release(&imp->cover);
  std::free(imp);
  return e;
}

}  // namespace vantorel
