// Program streams into tracks: one pass over the packs hands each packet
// of a carried stream to the access-unit layer the transport streams use
// (DVD LPCM is counted here, in frames); the tracks are then made as a
// transport stream's are, and their samples are gathered from the packets,
// walking from a unit's packet to the next ones of its stream.
#include "import/mpegps/ps_import.h"

#include <cstdlib>
#include <cstring>

#include "import/mpegps/ps_packs.h"
#include "import/mpegts/ts_import.h"
#include "io/byte_io.h"

namespace vantorel {

namespace {

constexpr uint32_t kMaxStreams = 64;
// An item and the start code after it, which tells that its length was right.
constexpr uint32_t kItemView = kPsMaxItem + 4;

struct Lpcm {
  uint8_t bits;  // 16, 20 or 24 as stored
  uint8_t channels;
  uint32_t rate;
};

// The stream an id names: null for what is not media (padding, the DVD
// navigation packets of private stream 2).
const TsStreamClass* class_of(uint16_t key, bool mpeg2) {
  const uint8_t id = static_cast<uint8_t>(key >> 8), sub = static_cast<uint8_t>(key);
  if (id >= 0xE0 && id <= 0xEF) return ts_stream_class(mpeg2 ? TsKind::Mpeg2Video : TsKind::Mpeg1Video);
  if (id >= 0xC0 && id <= 0xDF) return ts_stream_class(TsKind::MpegAudio);
  if (id != kPsPrivate1) return nullptr;
  if (sub >= 0x80 && sub <= 0x87) return ts_stream_class(TsKind::Ac3);
  if (sub >= 0x88 && sub <= 0x8F) return ts_stream_class(TsKind::Dts);
  if (sub >= 0xA0 && sub <= 0xA7) return ts_stream_class(TsKind::DvdLpcm);
  if (sub >= 0x20 && sub <= 0x3F) return ts_stream_class(TsKind::DvdSubpicture);
  return ts_stream_class(TsKind::Unknown);
}

// LPCM's format byte: quantisation, rate, channels. False for reserved values.
bool lpcm_format(uint8_t b, Lpcm* out) {
  constexpr uint8_t kBits[] = {16, 20, 24, 0};
  constexpr uint32_t kRates[] = {48000, 96000, 44100, 32000};
  *out = Lpcm{kBits[b >> 6], static_cast<uint8_t>((b & 0x07) + 1), kRates[(b >> 4) & 3]};
  return out->bits != 0;
}

// The samples are a byte stream that packets cut anywhere. 20- and 24-bit
// ones come in blocks (see ps_lpcm_to_in24); a group is the fewest whole
// blocks that are whole frames: its frames, and its bytes as stored and as
// the sample holds them.
uint32_t lpcm_block(const Lpcm& l) { return l.channels == 1 ? 2 : 4; }
uint32_t lpcm_group_frames(const Lpcm& l) {
  if (l.bits == 16) return 1;
  uint32_t frames = 1;
  while (frames * l.channels % lpcm_block(l) != 0) ++frames;
  return frames;
}
uint32_t lpcm_group_in(const Lpcm& l) { return lpcm_group_frames(l) * l.channels * l.bits / 8; }
uint32_t lpcm_group_out(const Lpcm& l) { return lpcm_group_frames(l) * l.channels * (l.bits == 16 ? 2 : 3); }

// ---- Reading samples back --------------------------------------------------

struct Reader {
  TsWindow window;
  FileIo* window_file;
  GrowArray<uint8_t> raw;
  Lpcm lpcm[kMaxStreams];
  uint16_t keys[kMaxStreams];
  uint32_t count;
};

void reader_release(void* state) {
  auto* r = static_cast<Reader*>(state);
  if (r == nullptr) return;
  ts_window_release(&r->window);
  r->raw.release();
  std::free(r);
}

// The item at `at`: `*p` the bytes from it (up to kItemView), `*got` their count.
ErrorCode view(Reader* r, uint64_t at, const uint8_t** p, uint32_t* got) {
  const uint64_t left = r->window.file_size > at ? r->window.file_size - at : 0;
  return ts_window_get(&r->window, at, left < kItemView ? static_cast<uint32_t>(left) : kItemView, p, got);
}

// Copies `length` payload bytes of stream `key` from `skip` into the
// packet at `at`, on through the stream's next packets.
ErrorCode gather(Reader* r, uint16_t key, uint64_t at, uint32_t skip, uint32_t length, uint8_t* out) {
  bool first = true;
  while (length > 0) {
    const uint8_t* p = nullptr;
    uint32_t got = 0;
    VT_TRY(view(r, at, &p, &got));
    if (got == 0) return ErrorCode::Truncated;
    PsPacket pk;
    const PsItem item = ps_parse(p, got, &pk);
    if (item == PsItem::NeedMore) return ErrorCode::Truncated;
    if (item == PsItem::Garbage) {
      // The first packet is where the index found it; after it, garbage is
      // passed over as the index passed over it.
      if (first) return ErrorCode::Malformed;
      const uint32_t next = ps_next_item(p, got, 1);
      at += next < got ? next : (got > 3 ? got - 3 : got);
      continue;
    }
    if (item == PsItem::Packet && pk.key == key) {
      if (skip > pk.payload_length) return ErrorCode::Malformed;
      const uint32_t take = pk.payload_length - skip < length ? pk.payload_length - skip : length;
      std::memcpy(out, p + pk.payload_at + skip, take);
      out += take;
      length -= take;
      skip = 0;
    } else if (first) {
      return ErrorCode::Malformed;
    }
    first = false;
    at += pk.length;
  }
  return ErrorCode::Ok;
}

ErrorCode reader_expand(void* state, FileIo* file, uint16_t key, const EsLocator& where, uint8_t* out) {
  auto* r = static_cast<Reader*>(state);
  VT_TRY(ts_window_follow(&r->window, &r->window_file, file));
  // Others move the file's position between samples.
  r->window.io_position = UINT64_MAX;
  const Lpcm* lpcm = nullptr;
  for (uint32_t i = 0; i < r->count; ++i)
    if (r->keys[i] == key && r->lpcm[i].bits > 16) lpcm = &r->lpcm[i];
  if (lpcm == nullptr) return gather(r, key, where.pes_offset, where.skip, where.length, out);
  const uint32_t groups = where.length / lpcm_group_out(*lpcm);
  const uint32_t in = groups * lpcm_group_in(*lpcm);
  VT_TRY(r->raw.reserve(in > 0 ? in : 1));
  VT_TRY(gather(r, key, where.pes_offset, where.skip, in, r->raw.items));
  ps_lpcm_to_in24(r->raw.items, groups * lpcm_group_frames(*lpcm) * lpcm->channels, lpcm->channels, lpcm->bits, out);
  return ErrorCode::Ok;
}

// ---- The pass over the packs -----------------------------------------------

struct Faults {
  uint64_t garbage;
  uint64_t garbage_at;
  uint32_t overruns;  // packets whose length runs past where the next item starts
  uint64_t overrun_at;
  uint32_t bad_lpcm;
  bool cut;
  uint64_t cut_at;
};

// Where a stream's last packet left a group unfinished.
struct LpcmTail {
  uint64_t offset;  // that packet
  uint32_t skip;    // where in its payload the group begins
  uint32_t bytes;   // of the group there
};

struct Scan {
  ImportFile* file;
  LpcmTail tails[kMaxStreams];
  TsIndex* index;
  TsAccessPass* pass;
  TsWindow window;
  uint64_t size;
  bool mpeg2;
  Faults faults;
  uint32_t units[kMaxStreams];
  Reader* reader;
};

// The record of stream `key` (made when first seen); UINT32_MAX when no
// more fit.
ErrorCode stream_of(Scan* sc, uint16_t key, const TsStreamClass* cls, uint32_t* out) {
  TsIndex* x = sc->index;
  *out = UINT32_MAX;
  for (uint32_t i = 0; i < x->pids.count; ++i)
    if (x->pids[i].pid == key) *out = i;
  if (*out != UINT32_MAX || x->pids.count >= kMaxStreams) return ErrorCode::Ok;
  TsPid pid{};
  pid.pid = key;
  pid.role = kTsRoleStream;
  VT_TRY(x->pids.append_doubling(pid, 8));
  TsStream s{};
  s.program = 0;
  s.pid_index = x->pids.count - 1;
  s.order = x->streams.count;
  s.pid = key;
  s.stream_type = static_cast<uint8_t>(key >> 8);
  s.cls = cls;
  s.removed_at = kTsStillListed;
  VT_TRY(x->streams.append_doubling(s, 8));
  ++x->programs.items[0].streams;
  sc->reader->keys[sc->reader->count++] = key;
  *out = s.pid_index;
  return ErrorCode::Ok;
}

ErrorCode feed_lpcm(Scan* sc, uint32_t pid_index, const uint8_t* item, const PsPacket& pk, PesRecord* r,
                    uint32_t available) {
  TsStreamAccess* s = nullptr;
  VT_TRY(ts_access_pcm_stream(sc->pass, pid_index, TsKind::DvdLpcm, &s));
  if (s == nullptr || s->failure != nullptr) return ErrorCode::Ok;
  // The format byte lies in the sub-stream's own header, just before the samples.
  Lpcm l{};
  if (pk.payload_at < 2 || !lpcm_format(item[pk.payload_at - 2], &l)) {
    ++sc->faults.bad_lpcm;
    return ErrorCode::Ok;
  }
  Lpcm& kept = sc->reader->lpcm[pid_index];
  if (kept.bits == 0) {
    kept = l;
    s->rate = l.rate;
    s->pcm_channels = l.channels;
    s->pcm_bits = l.bits == 16 ? 16 : 24;
  } else if (kept.bits != l.bits || kept.channels != l.channels || kept.rate != l.rate) {
    s->failure = "its LPCM format changes within the stream";
    return ErrorCode::Ok;
  }
  // The unit is the groups that end in this packet: one begun in the
  // packet before comes first.
  const uint32_t bytes = available - pk.payload_at;
  LpcmTail& tail = sc->tails[pid_index];
  EsLocator where{r->offset, 0, 0};
  if (tail.bytes > 0) where = EsLocator{tail.offset, tail.skip, 0};
  const uint32_t in = lpcm_group_in(l);
  const uint32_t groups = (tail.bytes + bytes) / in;
  const uint32_t left = (tail.bytes + bytes) % in;
  if (groups == 0) {
    if (tail.bytes == 0) tail = LpcmTail{r->offset, 0, 0};
    tail.bytes += bytes;
    return ErrorCode::Ok;
  }
  tail = LpcmTail{r->offset, bytes - left, left};
  where.length = groups * lpcm_group_out(l);
  r->length = where.length;
  return ts_access_add_pcm(sc->pass, s, *r, where, groups * lpcm_group_frames(l), where.length);
}

// One packet, `available` of its bytes in the file (fewer than its length
// when the file ends in it); `flags` kPes* bits of what went wrong.
ErrorCode feed(Scan* sc, uint64_t at, const uint8_t* item, const PsPacket& pk, uint32_t available, uint16_t flags) {
  const TsStreamClass* cls = class_of(pk.key, sc->mpeg2);
  if (cls == nullptr) return ErrorCode::Ok;
  uint32_t pid_index = 0;
  VT_TRY(stream_of(sc, pk.key, cls, &pid_index));
  if (pid_index == UINT32_MAX || cls->disposition != TsDisposition::Carried) return ErrorCode::Ok;
  PesRecord r{};
  r.offset = at;
  r.stream_id = static_cast<uint8_t>(pk.key >> 8);
  r.flags = flags;
  pes_record_set_times(&r, pk.header);
  const bool whole = (flags & kPesBroken) == 0 && available > pk.payload_at;
  if (cls->kind == TsKind::DvdLpcm) {
    if (whole) return feed_lpcm(sc, pid_index, item, pk, &r, available);
    sc->tails[pid_index] = LpcmTail{};  // a group begun before it is not whole
    return ErrorCode::Ok;
  }
  r.length = whole ? available - pk.payload_at : 0;
  TsUnitEvent event{sc->index, pid_index, sc->units[pid_index]++, &r, whole ? item + pk.payload_at : nullptr, nullptr};
  return ts_access_on_unit(sc->pass, &event);
}

ErrorCode scan(Scan* sc) {
  uint64_t at = 0;
  while (at < sc->size) {
    const uint64_t left = sc->size - at;
    const uint8_t* p = nullptr;
    uint32_t got = 0;
    VT_TRY(ts_window_get(&sc->window, at, left < kItemView ? static_cast<uint32_t>(left) : kItemView, &p, &got));
    if (got == 0) return ErrorCode::Io;
    PsPacket pk;
    const PsItem item = ps_parse(p, got, &pk);
    if (item == PsItem::Garbage) {
      const uint32_t next = ps_next_item(p, got, 1);
      const uint32_t skip = next < got ? next : (got == left ? got : got - 3);
      if (sc->faults.garbage == 0) sc->faults.garbage_at = at;
      sc->faults.garbage += skip;
      at += skip;
      continue;
    }
    if (item == PsItem::NeedMore) {
      // The file ends inside it: what a packet holds up to there still counts.
      sc->faults.cut = true;
      sc->faults.cut_at = at;
      PsPacket head;
      if (got == left && ps_parse(p, got, &head, true) == PsItem::Packet)
        VT_TRY(feed(sc, at, p, head, got, kPesCutAtEnd));
      break;
    }
    if (item == PsItem::Pack) sc->mpeg2 = pk.mpeg2;
    if (item != PsItem::Packet) {
      at += pk.length;
      continue;
    }
    // The next item starts where the length says, and no pack starts
    // inside the packet; or the length is wrong: the packet's stream loses
    // what it broke and the search goes on inside it.
    const bool ends = got == pk.length || (got >= pk.length + 4 && p[pk.length] == 0 && p[pk.length + 1] == 0 &&
                                           p[pk.length + 2] == 1 && p[pk.length + 3] >= 0xB9);
    const uint32_t pack = ps_find_pack(p, pk.length, pk.payload_at);
    if (!ends || pack < pk.length) {
      if (sc->faults.overruns++ == 0) sc->faults.overrun_at = at;
      VT_TRY(feed(sc, at, p, pk, pk.length, kPesBroken));
      at += pack < pk.length ? pack : 4;
      continue;
    }
    VT_TRY(feed(sc, at, p, pk, pk.length, 0));
    at += pk.length;
  }
  return ErrorCode::Ok;
}

void note_faults(ImportFile* file, const Faults& f) {
  if (f.garbage > 0)
    import_note_add(file, "%llu bytes that are no program stream packs were passed over (the first at byte %llu)",
                    static_cast<unsigned long long>(f.garbage), static_cast<unsigned long long>(f.garbage_at));
  if (f.overruns > 0)
    import_note_add(file,
                    "a packet at byte %llu runs past the start of the next pack (%u in all): the access units it "
                    "broke are dropped",
                    static_cast<unsigned long long>(f.overrun_at), f.overruns);
  if (f.cut)
    import_note_add(file, "the file ends inside the item at byte %llu: the access unit it cut is dropped",
                    static_cast<unsigned long long>(f.cut_at));
  if (f.bad_lpcm > 0) import_note_add(file, "%u LPCM packets with a reserved format were passed over", f.bad_lpcm);
}

}  // namespace

void ps_lpcm_to_in24(const uint8_t* in, uint32_t samples, uint32_t channels, uint32_t bits, uint8_t* out) {
  const uint32_t block = channels == 1 ? 2 : 4;
  const uint32_t low_bytes = bits == 24 ? block : block / 2;
  for (uint32_t at = 0; at + block <= samples; at += block, in += 2 * block + low_bytes) {
    const uint8_t* low = in + 2 * block;
    for (uint32_t k = 0; k < block; ++k, out += 3) {
      out[0] = in[2 * k];
      out[1] = in[2 * k + 1];
      if (bits == 24) out[2] = low[k];
      else out[2] = static_cast<uint8_t>(k % 2 == 0 ? low[k / 2] & 0xF0 : low[k / 2] << 4);
    }
  }
}

bool ps_probe(ImportFile* file) {
  uint8_t head[14];
  const uint64_t size = file_size(file);
  bool found = false;
  if (size >= sizeof head && file_seek(file, 0) == ErrorCode::Ok && read_bytes(file, head, sizeof head) == ErrorCode::Ok) {
    PsPacket pk;
    found = ps_parse(head, sizeof head, &pk) == PsItem::Pack;
  }
  file_seek(file, 0);
  return found;
}

ErrorCode ps_import(ImportFile* file, FileBoxes* root) {
  auto* sc = alloc_record<Scan>();
  auto* index = alloc_record<TsIndex>();
  auto* pass = alloc_record<TsAccessPass>();
  auto* reader = alloc_record<Reader>();
  ErrorCode e = sc != nullptr && index != nullptr && pass != nullptr && reader != nullptr ? ErrorCode::Ok
                                                                                           : ErrorCode::OutOfMemory;
  if (e == ErrorCode::Ok) {
    sc->file = file;
    sc->index = index;
    sc->pass = pass;
    sc->reader = reader;
    sc->size = file_size(file);
    index->program_stream = true;
    index->file_size = sc->size;
    pass->max_units = UINT32_MAX;
    pass->split_pictures = true;
    TsProgram program{};
    program.program_number = 1;
    program.has_pmt = true;
    e = index->programs.append_doubling(program, 1);
  }
  if (e == ErrorCode::Ok) e = ts_window_open(&sc->window, file, 1u << 20, 0);
  if (e == ErrorCode::Ok) e = scan(sc);
  if (e == ErrorCode::Ok) e = ts_access_finish(pass, index);
  if (e == ErrorCode::Ok) {
    note_faults(file, sc->faults);
    EsSource source{reader_expand, reader_release, reader};
    reader = nullptr;  // the source's now
    e = ts_import_tracks(file, root, index, pass, &source);
  }
  if (sc != nullptr) ts_window_release(&sc->window);
  reader_release(reader);
  if (pass != nullptr) ts_access_release(pass);
  if (index != nullptr) ts_index_release(index);
  std::free(pass);
  std::free(index);
  std::free(sc);
  return e;
}

}  // namespace vantorel
