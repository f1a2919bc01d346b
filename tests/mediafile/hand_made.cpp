#include <array>

#include "mediafile/hand_made.h"

namespace vantorel::test {

namespace {

Bytes matrix() {
  return cat({u32(0x00010000), u32(0), u32(0), u32(0), u32(0x00010000), u32(0), u32(0), u32(0), u32(0x40000000)});
}

Bytes stsd_for(const std::string& handler) {
  if (handler == "vide") {
    Bytes visual = cat({zeros(6), u16(1), zeros(16), u16(64), u16(48), u32(0x00480000), u32(0x00480000), u32(0),
                        u16(1), zeros(32), u16(24), u16(0xFFFF)});
    return full_box("stsd", 0, 0, cat({u32(1), box("mp4v", visual)}));
  }
  if (handler == "soun") {
    Bytes sound = cat({zeros(6), u16(1), zeros(8), u16(2), u16(16), u16(0), u16(0), u32(44100u << 16)});
    return full_box("stsd", 0, 0, cat({u32(1), box("mp4a", sound)}));
  }
  return full_box("stsd", 0, 0, cat({u32(1), box("tx3g", zeros(8))}));
}

Bytes trak(const HandTrack& t, const std::vector<uint64_t>& chunk_offsets, uint32_t per_chunk_default) {
  Bytes stts;
  for (auto [n, d] : t.stts) stts = cat({stts, u32(n), u32(d)});
  Bytes stsz;
  for (uint32_t s : t.sizes) stsz = cat({stsz, u32(s)});
  Bytes stco;
  for (uint64_t o : chunk_offsets) stco = cat({stco, u32(static_cast<uint32_t>(o))});
  Bytes stsc;
  uint32_t stsc_count = 0;
  if (t.stsc.empty()) {
    stsc = cat({u32(1), u32(per_chunk_default), u32(1)});
    stsc_count = 1;
  } else {
    for (const auto& e : t.stsc) stsc = cat({stsc, u32(e[0]), u32(e[1]), u32(e[2])});
    stsc_count = static_cast<uint32_t>(t.stsc.size());
  }
  Bytes stsd = stsd_for(t.handler);
  if (!t.entries.empty()) {
    Bytes all;
    for (const Bytes& e : t.entries) all = cat({all, e});
    stsd = full_box("stsd", 0, 0, cat({u32(static_cast<uint32_t>(t.entries.size())), all}));
  }
  Bytes tables = cat({stsd, full_box("stts", 0, 0, cat({u32(static_cast<uint32_t>(t.stts.size())), stts})),
                      full_box("stsc", 0, 0, cat({u32(stsc_count), stsc})),
                      full_box("stsz", 0, 0, cat({u32(0), u32(static_cast<uint32_t>(t.sizes.size())), stsz})),
                      full_box("stco", 0, 0, cat({u32(static_cast<uint32_t>(chunk_offsets.size())), stco}))});
  if (!t.ctts.empty()) {
    Bytes ctts;
    for (auto [n, o] : t.ctts) ctts = cat({ctts, u32(n), u32(static_cast<uint32_t>(o))});
    tables = cat({tables, full_box("ctts", 0, 0, cat({u32(static_cast<uint32_t>(t.ctts.size())), ctts}))});
  }
  if (!t.stss.empty()) {
    Bytes stss;
    for (uint32_t s : t.stss) stss = cat({stss, u32(s)});
    tables = cat({tables, full_box("stss", 0, 0, cat({u32(static_cast<uint32_t>(t.stss.size())), stss}))});
  }
  Bytes media_header = t.handler == "vide"   ? full_box("vmhd", 0, 1, zeros(8))
                       : t.handler == "soun" ? full_box("smhd", 0, 0, zeros(4))
                                             : full_box("nmhd", 0, 0, {});
  Bytes minf = box("minf", cat({media_header,
                                box("dinf", full_box("dref", 0, 0, cat({u32(1), full_box("url ", 0, 1, {})}))),
                                box("stbl", tables)}));
  Bytes mdia = box("mdia", cat({full_box("mdhd", 0, 0, cat({u32(0), u32(0), u32(t.timescale), u32(0), u16(0x55C4), u16(0)})),
                                full_box("hdlr", 0, 0, cat({u32(0), text(t.handler), zeros(12), cstr("handler")})),
                                minf}));
  Bytes tkhd = full_box("tkhd", 0, 7,
                        cat({u32(0), u32(0), u32(t.track_id), u32(0), u32(0), zeros(8), u16(0), u16(0), u16(0), u16(0),
                             matrix(), u32(64u << 16), u32(48u << 16)}));
  Bytes edts;
  if (!t.edits.empty()) {
    Bytes entries;
    for (auto [d, m] : t.edits) entries = cat({entries, u32(static_cast<uint32_t>(d)), u32(static_cast<uint32_t>(m)), u16(1), u16(0)});
    edts = box("edts", full_box("elst", 0, 0, cat({u32(static_cast<uint32_t>(t.edits.size())), entries})));
  }
  Bytes tref;
  if (!t.tref_type.empty()) {
    Bytes ids;
    for (uint32_t id : t.tref_ids) ids = cat({ids, u32(id)});
    tref = box("tref", box(t.tref_type, ids));
  }
  return box("trak", cat({tkhd, tref, edts, mdia}));
}

}  // namespace

Bytes hand_made_file(const std::vector<HandTrack>& tracks, const std::string& major_brand) {
  Bytes ftyp = box("ftyp", cat({text(major_brand), u32(0), text("isom")}));
  // Lay the data out first: each track's samples, chunk by chunk.
  struct Layout {
    std::vector<uint64_t> offsets;
    uint32_t per_chunk;
  };
  std::vector<Layout> layouts;
  Bytes data;
  for (const HandTrack& t : tracks) {
    Layout l;
    l.per_chunk = t.stsc.empty() ? 1 : t.stsc[0][1];
    uint32_t per_chunk = l.per_chunk == 0 ? 1 : l.per_chunk;
    for (size_t i = 0; i < t.sizes.size(); ++i) {
      if (i % per_chunk == 0) l.offsets.push_back(data.size());
      data.insert(data.end(), t.sizes[i], static_cast<uint8_t>(i + 1));
    }
    if (t.drop_last_chunk_offset && !l.offsets.empty()) l.offsets.pop_back();
    layouts.push_back(l);
  }
  // Two passes: the movie box's size fixes where the media data starts.
  Bytes moov;
  for (int pass = 0; pass < 2; ++pass) {
    uint64_t data_start = ftyp.size() + moov.size() + 8;
    Bytes traks;
    for (size_t i = 0; i < tracks.size(); ++i) {
      std::vector<uint64_t> offsets = layouts[i].offsets;
      for (uint64_t& o : offsets) o += data_start;
      traks = cat({traks, trak(tracks[i], offsets, layouts[i].per_chunk)});
    }
    Bytes mvhd = full_box("mvhd", 0, 0,
                          cat({u32(0), u32(0), u32(600), u32(0), u32(0x00010000), u16(0x0100), zeros(10), matrix(),
                               zeros(24), u32(static_cast<uint32_t>(tracks.size() + 1))}));
    moov = box("moov", cat({mvhd, traks}));
  }
  return cat({ftyp, moov, box("mdat", data)});
}

}  // namespace vantorel::test
