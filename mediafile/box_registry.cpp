// The registry of every box kind: one row per kind, grouped into the child
// list of each container, and the two indexes from BoxTypeId to record. This
// is the one file that knows every box family; the families know only the
// tree engine.
#include <cstddef>

#include "mediafile/box_registry.h"

#include "boxes/box_tree.h"
#include "boxes/dref.h"
#include "boxes/elst.h"
#include "boxes/hdlr.h"
#include "boxes/iods.h"
#include "boxes/mdhd.h"
#include "boxes/media_headers.h"
#include "boxes/moov.h"
#include "boxes/mvex.h"
#include "boxes/mvhd.h"
#include "boxes/prof.h"
#include "boxes/strx.h"
#include "boxes/tdrm.h"
#include "boxes/tkhd.h"
#include "boxes/tref.h"
#include "boxes/usmt.h"
#include "meta/chapters.h"
#include "headerforms/cmov.h"
#include "boxes/mdat.h"
#include "meta/metadata_boxes.h"
#include "headerforms/moof.h"
#include "sampletables/ctts.h"
#include "boxes/ftyp.h"
#include "sampletables/sample_groups.h"
#include "sampletables/stbl.h"
#include "sampletables/stco.h"
#include "sampletables/stsc.h"
#include "sampletables/stsd.h"
#include "sampletables/stss.h"
#include "sampletables/stsz.h"
#include "sampletables/stts.h"

namespace vantorel {

const uint8_t kUsmtUuid[16] = {0x55, 0x53, 0x4D, 0x54, 0x21, 0xD2, 0x4F, 0xCE,
                               0xBB, 0x88, 0x69, 0x5C, 0xFA, 0xC9, 0xC7, 0x40};
const uint8_t kProfUuid[16] = {0x50, 0x52, 0x4F, 0x46, 0x21, 0xD2, 0x4F, 0xCE,
                               0xBB, 0x88, 0x69, 0x5C, 0xFA, 0xC9, 0xC7, 0x40};
const uint8_t kStrxUuid[16] = {0x73, 0x74, 0x72, 0x78, 0xF9, 0x3F, 0x1E, 0x4D,
                               0xBB, 0xBA, 0x75, 0x08, 0xC3, 0x82, 0xA2, 0xCA};

namespace {

// ---- Parent accessors -------------------------------------------------------

FileBoxes* root_of(void* c) { return static_cast<FileBoxes*>(c); }
TrackBoxes* track_of(void* c) { return static_cast<TrackBoxes*>(c); }
MoovRecord* moov_of(void* c) { return c != nullptr ? root_of(c)->moov : nullptr; }
MinfRecord* minf_of(void* c) {
  TrackBoxes* t = track_of(c);
  return t != nullptr && t->mdia != nullptr ? t->mdia->minf : nullptr;
}

void* top_parent(void* c) { return c; }
void* moov_parent(void* c) { return moov_of(c); }
void* udta_parent(void* c) {
  MoovRecord* m = moov_of(c);
  return m != nullptr ? m->udta : nullptr;
}
void* movie_usmt_parent(void* c) {
  MoovRecord* m = moov_of(c);
  return m != nullptr ? m->usmt : nullptr;
}
void* trak_parent(void* c) { return c; }
void* track_usmt_parent(void* c) { return c != nullptr ? track_of(c)->usmt : nullptr; }
void* edts_parent(void* c) { return c != nullptr ? track_of(c)->edts : nullptr; }
void* mdia_parent(void* c) { return c != nullptr ? track_of(c)->mdia : nullptr; }
void* minf_parent(void* c) { return minf_of(c); }
void* dinf_parent(void* c) {
  MinfRecord* m = minf_of(c);
  return m != nullptr ? m->dinf : nullptr;
}
void* stbl_parent(void* c) {
  MinfRecord* m = minf_of(c);
  return m != nullptr ? m->stbl : nullptr;
}

// ---- Containers: the generic routines bound to their list --------------------

template <const ChildList* L>
ErrorCode container_read(BoxFile* f, const BoxHeader* h, void* c) {
  return read_children(f, h, c, L, nullptr);
}
template <const ChildList* L>
ErrorCode container_write(BoxFile* f, void* c) {
  return write_children(f, c, L);
}
template <const ChildList* L>
uint64_t container_size(BoxFile* f, void* c) {
  return children_size(f, c, L);
}
template <const ChildList* L>
void container_release(BoxFile* f, void* c) {
  remove_all_children(f, c, L);
}

// ---- Families above the tree: their routines see their own part of the file --

// Every file the registry serves is a media file, so the metadata part is there.
template <ErrorCode (*F)(MetaFile*, const BoxHeader*, void*)>
ErrorCode meta_read(BoxFile* f, const BoxHeader* h, void* c) {
  return F(static_cast<MetaFile*>(f), h, c);
}
template <ErrorCode (*F)(MetaFile*, void*)>
ErrorCode meta_write(BoxFile* f, void* c) {
  return F(static_cast<MetaFile*>(f), c);
}
template <uint64_t (*F)(MetaFile*, void*)>
uint64_t meta_size(BoxFile* f, void* c) {
  return F(static_cast<MetaFile*>(f), c);
}
template <bool (*F)(MetaFile*, void*)>
bool meta_present(BoxFile* f, void* c) {
  return F(static_cast<MetaFile*>(f), c);
}

// ---- Rows ------------------------------------------------------------------------

constexpr BoxDescriptor row(const char* type, BoxTypeId id, uint32_t record_size, size_t slot, BoxInitOp init,
                            BoxReleaseOp release, BoxReadOp read, BoxWriteOp write, BoxSizeOp size) {
  BoxDescriptor d{};
  d.type = FourCC::of(type);
  d.id = id;
  d.record_size = record_size;
  d.slot = slot;
  d.init = init;
  d.release = release;
  d.read = read;
  d.write = write;
  d.size = size;
  return d;
}

constexpr BoxDescriptor uuid_row(const uint8_t (&extended)[16], BoxDescriptor d) {
  for (int i = 0; i < 16; ++i) d.extended_type[i] = extended[i];
  return d;
}

template <const ChildList* L>
constexpr BoxDescriptor container_row(const char* type, BoxTypeId id, uint32_t record_size, size_t slot) {
  return row(type, id, record_size, slot, nullptr, container_release<L>, container_read<L>, container_write<L>,
             container_size<L>);
}

// A row without a record: its read stores what it finds elsewhere.
constexpr BoxDescriptor reader_row(const char* type, BoxTypeId id, BoxReadOp read) {
  return row(type, id, 0, kNoSlot, nullptr, nullptr, read, nullptr, nullptr);
}

const BoxDescriptor kTopRows[] = {
    row("ftyp", BoxTypeId::Ftyp, sizeof(FileTypeRecord), offsetof(FileBoxes, ftyp), nullptr, ftyp_release, ftyp_read,
        nullptr, ftyp_size),
    uuid_row(kProfUuid, row("uuid", BoxTypeId::Prof, sizeof(ProfRecord), offsetof(FileBoxes, prof), nullptr,
                            prof_release, prof_read, prof_write, prof_size)),
    row("moov", BoxTypeId::Moov, sizeof(MoovRecord), offsetof(FileBoxes, moov), nullptr, moov_release, moov_read,
        moov_write, moov_size),
    reader_row("mdat", BoxTypeId::Mdat, mdat_read),
    reader_row("moof", BoxTypeId::Moof, meta_read<moof_read>),
};

const BoxDescriptor kMoovRows[] = {
    row("mvhd", BoxTypeId::Mvhd, sizeof(MvhdRecord), offsetof(MoovRecord, mvhd), mvhd_init, nullptr, mvhd_read,
        mvhd_write, mvhd_size),
    // Never written, so never counted: an 'iods' read from a file must not
    // make the movie box larger than what is written.
    row("iods", BoxTypeId::Iods, sizeof(IodsRecord), offsetof(MoovRecord, iods), iods_init, iods_release, iods_read,
        nullptr, nullptr),
    reader_row("cmov", BoxTypeId::Cmov, meta_read<cmov_read>),
    // Read for its tags and carried whole, after the tracks.
    reader_row("meta", BoxTypeId::MovieMeta, meta_read<movie_meta_read>),
    row("mvex", BoxTypeId::Mvex, sizeof(MvexRecord), offsetof(MoovRecord, mvex), nullptr, mvex_release, mvex_read,
        nullptr, nullptr),
    // Written by the movie box itself, after the tracks.
    row("udta", BoxTypeId::Udta, sizeof(UdtaRecord), offsetof(MoovRecord, udta), nullptr, udta_release, udta_read,
        nullptr, udta_size),
    // Written by the movie box itself, after the tracks.
    uuid_row(kUsmtUuid, row("uuid", BoxTypeId::Usmt, sizeof(UsmtRecord), offsetof(MoovRecord, usmt), nullptr,
                            container_release<&kMovieUsmtList>, container_read<&kMovieUsmtList>, nullptr,
                            container_size<&kMovieUsmtList>)),
};


const BoxDescriptor kMovieUsmtRows[] = {
    row("MTDF", BoxTypeId::Mtdf, sizeof(MtdfRecord), offsetof(UsmtRecord, mtdf), nullptr, mtdf_movie_release,
        mtdf_movie_read, mtdf_movie_write, mtdf_movie_size),
    row("MTDT", BoxTypeId::Mtdt, sizeof(MtdtRecord), offsetof(UsmtRecord, mtdt), nullptr, mtdt_movie_release,
        mtdt_movie_read, mtdt_movie_write, mtdt_movie_size),
};

const BoxDescriptor kUdtaRows[] = {
    reader_row("tags", BoxTypeId::Tags, meta_read<tags_box_read>),
    reader_row("meta", BoxTypeId::Meta, meta_read<meta_box_read>),
    row("tdrm", BoxTypeId::Tdrm, sizeof(TdrmRecord), offsetof(UdtaRecord, tdrm), tdrm_init, nullptr, tdrm_read,
        tdrm_write, tdrm_size),
    uuid_row(kStrxUuid, row("uuid", BoxTypeId::Strx, sizeof(StrxRecord), offsetof(UdtaRecord, strx), strx_init,
                            nullptr, strx_read, strx_write, strx_size)),
    // Last, as it always was: the chapter list kept in the metadata part.
    [] {
      BoxDescriptor d = row("chpl", BoxTypeId::Chpl, 0, kNoSlot, nullptr, nullptr, meta_read<chpl_read>,
                            meta_write<chpl_write>, meta_size<chpl_size>);
      d.present = meta_present<chpl_present>;
      return d;
    }(),
};

const BoxDescriptor kTrakRows[] = {
    row("tkhd", BoxTypeId::Tkhd, sizeof(TkhdRecord), offsetof(TrackBoxes, tkhd), tkhd_init, nullptr, tkhd_read,
        tkhd_write, tkhd_size),
    row("tref", BoxTypeId::Tref, sizeof(TrefRecord), offsetof(TrackBoxes, tref), nullptr, tref_release, tref_read,
        tref_write, tref_size),
    container_row<&kEdtsList>("edts", BoxTypeId::Edts, sizeof(EdtsRecord), offsetof(TrackBoxes, edts)),
    container_row<&kMdiaList>("mdia", BoxTypeId::Mdia, sizeof(MdiaRecord), offsetof(TrackBoxes, mdia)),
    uuid_row(kUsmtUuid, container_row<&kTrackUsmtList>("uuid", BoxTypeId::Usmt, sizeof(UsmtRecord),
                                                       offsetof(TrackBoxes, usmt))),
};

const BoxDescriptor kTrackUsmtRows[] = {
    row("MTDF", BoxTypeId::Mtdf, sizeof(MtdfRecord), offsetof(UsmtRecord, mtdf), nullptr, mtdf_track_release,
        mtdf_track_read, mtdf_track_write, mtdf_track_size),
    row("MTDT", BoxTypeId::Mtdt, sizeof(MtdtRecord), offsetof(UsmtRecord, mtdt), nullptr, mtdt_track_release,
        mtdt_track_read, mtdt_track_write, mtdt_track_size),
};

const BoxDescriptor kEdtsRows[] = {
    row("elst", BoxTypeId::Elst, sizeof(ElstRecord), offsetof(EdtsRecord, elst), nullptr, elst_release, elst_read,
        elst_write, elst_size),
};

const BoxDescriptor kMdiaRows[] = {
    row("mdhd", BoxTypeId::Mdhd, sizeof(MdhdRecord), offsetof(MdiaRecord, mdhd), mdhd_init, nullptr, mdhd_read,
        mdhd_write, mdhd_size),
    row("hdlr", BoxTypeId::Hdlr, sizeof(HdlrRecord), offsetof(MdiaRecord, hdlr), nullptr, hdlr_release, hdlr_read,
        hdlr_write, hdlr_size),
    container_row<&kMinfList>("minf", BoxTypeId::Minf, sizeof(MinfRecord), offsetof(MdiaRecord, minf)),
};

const BoxDescriptor kMinfRows[] = {
    row("vmhd", BoxTypeId::Vmhd, sizeof(VmhdRecord), offsetof(MinfRecord, vmhd), vmhd_init, nullptr, vmhd_read,
        vmhd_write, vmhd_size),
    row("smhd", BoxTypeId::Smhd, sizeof(SmhdRecord), offsetof(MinfRecord, smhd), nullptr, nullptr, smhd_read,
        smhd_write, smhd_size),
    row("hmhd", BoxTypeId::Hmhd, sizeof(HmhdRecord), offsetof(MinfRecord, hmhd), nullptr, nullptr, hmhd_read,
        hmhd_write, hmhd_size),
    row("nmhd", BoxTypeId::Nmhd, sizeof(NmhdRecord), offsetof(MinfRecord, nmhd), nullptr, nullptr, nmhd_read,
        nmhd_write, nmhd_size),
    row("gmhd", BoxTypeId::Gmhd, sizeof(RawBoxRecord), offsetof(MinfRecord, gmhd), nullptr, gmhd_release, gmhd_read,
        gmhd_write, gmhd_size),
    row("sthd", BoxTypeId::Sthd, sizeof(RawBoxRecord), offsetof(MinfRecord, sthd), nullptr, sthd_release, sthd_read,
        sthd_write, sthd_size),
    container_row<&kDinfList>("dinf", BoxTypeId::Dinf, sizeof(DinfRecord), offsetof(MinfRecord, dinf)),
    row("stbl", BoxTypeId::Stbl, sizeof(StblRecord), offsetof(MinfRecord, stbl), nullptr, stbl_release, stbl_read,
        stbl_write, stbl_size),
};

// 'stz2' and 'co64' share the slots of 'stsz' and 'stco' (the first box met
// wins) and are written back through those rows; their release is the same
// so that removing them by their own id frees the arrays too.
const BoxDescriptor kStblRows[] = {
    row("stsd", BoxTypeId::Stsd, sizeof(SampleDescriptionTable), offsetof(StblRecord, stsd), nullptr, stsd_release,
        stsd_read, stsd_write, stsd_size),
    row("stts", BoxTypeId::Stts, sizeof(TimeToSampleTable), offsetof(StblRecord, stts), nullptr, stts_release,
        stts_read, stts_write, stts_size),
    row("ctts", BoxTypeId::Ctts, sizeof(CompositionOffsetTable), offsetof(StblRecord, ctts), nullptr, ctts_release,
        ctts_read, ctts_write, ctts_size),
    row("stsc", BoxTypeId::Stsc, sizeof(SampleToChunkTable), offsetof(StblRecord, stsc), nullptr, stsc_release,
        stsc_read, stsc_write, stsc_size),
    row("stsz", BoxTypeId::Stsz, sizeof(SampleSizeTable), offsetof(StblRecord, sample_sizes), nullptr, stsz_release,
        stsz_read, stsz_write, stsz_size),
    row("stz2", BoxTypeId::Stz2, sizeof(SampleSizeTable), offsetof(StblRecord, sample_sizes), nullptr, stsz_release,
        stz2_read, nullptr, nullptr),
    row("stco", BoxTypeId::Stco, sizeof(ChunkOffsetTable), offsetof(StblRecord, chunk_offsets), nullptr,
        stco_release, stco_read, nullptr, stco_size),
    row("co64", BoxTypeId::Co64, sizeof(ChunkOffsetTable), offsetof(StblRecord, chunk_offsets), nullptr,
        stco_release, co64_read, nullptr, nullptr),
    row("stss", BoxTypeId::Stss, sizeof(SyncSampleTable), offsetof(StblRecord, stss), nullptr, stss_release,
        stss_read, nullptr, stss_size),
    // Written by the sample table box itself, after the tables.
    reader_row("sgpd", BoxTypeId::Sgpd, sgpd_read),
    reader_row("sbgp", BoxTypeId::Sbgp, sbgp_read),
    reader_row("sdtp", BoxTypeId::Sdtp, sdtp_read),
    reader_row("subs", BoxTypeId::Subs, subs_read),
};

const BoxDescriptor kDinfRows[] = {
    row("dref", BoxTypeId::Dref, sizeof(DrefRecord), offsetof(DinfRecord, dref), nullptr, dref_release, dref_read,
        dref_write, dref_size),
};

template <size_t N>
constexpr ChildList list(ParentAccessor parent, const BoxDescriptor (&rows)[N]) {
  return ChildList{parent, static_cast<uint32_t>(N), rows};
}

// ---- Indexes ------------------------------------------------------------------------

using Accessor = void* (*)(void* context);

struct IndexGroup {
  const Accessor* accessors;
  uint32_t count;
  uint32_t base;
};

// Movie index, applied to the root.
void* ix_ftyp(void* c) { return root_of(c)->ftyp; }
void* ix_moov(void* c) { return root_of(c)->moov; }
void* ix_prof(void* c) { return root_of(c)->prof; }
void* ix_iods(void* c) { return moov_of(c) != nullptr ? moov_of(c)->iods : nullptr; }
void* ix_mvhd(void* c) { return moov_of(c) != nullptr ? moov_of(c)->mvhd : nullptr; }
void* ix_mvex(void* c) { return moov_of(c) != nullptr ? moov_of(c)->mvex : nullptr; }
void* ix_udta(void* c) { return udta_parent(c); }
void* ix_movie_usmt(void* c) { return movie_usmt_parent(c); }
void* ix_movie_mtdf(void* c) {
  auto* u = static_cast<UsmtRecord*>(movie_usmt_parent(c));
  return u != nullptr ? u->mtdf : nullptr;
}
void* ix_movie_mtdt(void* c) {
  auto* u = static_cast<UsmtRecord*>(movie_usmt_parent(c));
  return u != nullptr ? u->mtdt : nullptr;
}
void* ix_tdrm(void* c) {
  auto* u = static_cast<UdtaRecord*>(udta_parent(c));
  return u != nullptr ? u->tdrm : nullptr;
}
void* ix_strx(void* c) {
  auto* u = static_cast<UdtaRecord*>(udta_parent(c));
  return u != nullptr ? u->strx : nullptr;
}

const Accessor kMovie1[8] = {ix_ftyp, ix_moov, nullptr, nullptr, nullptr, nullptr, nullptr, ix_prof};
const Accessor kMovie128[11] = {nullptr, ix_iods, ix_mvhd, nullptr, ix_mvex, nullptr,
                                nullptr, nullptr, nullptr, ix_udta, ix_movie_usmt};
const Accessor kMovie256[16] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,       nullptr,
                                nullptr, ix_movie_mtdf, ix_movie_mtdt, nullptr, nullptr, nullptr, ix_tdrm, ix_strx};
const IndexGroup kMovieIndex[] = {{kMovie1, 8, 1}, {kMovie128, 11, 128}, {kMovie256, 16, 256}};

// Track index, applied to a TrackBoxes.
void* ix_track_usmt(void* c) { return track_of(c)->usmt; }
void* ix_tkhd(void* c) { return track_of(c)->tkhd; }
void* ix_tref(void* c) { return track_of(c)->tref; }
void* ix_edts(void* c) { return track_of(c)->edts; }
void* ix_mdia(void* c) { return track_of(c)->mdia; }
void* ix_track_mtdf(void* c) { return track_of(c)->usmt != nullptr ? track_of(c)->usmt->mtdf : nullptr; }
void* ix_track_mtdt(void* c) { return track_of(c)->usmt != nullptr ? track_of(c)->usmt->mtdt : nullptr; }
void* ix_elst(void* c) { return track_of(c)->edts != nullptr ? track_of(c)->edts->elst : nullptr; }
void* ix_mdhd(void* c) { return track_of(c)->mdia != nullptr ? track_of(c)->mdia->mdhd : nullptr; }
void* ix_hdlr(void* c) { return track_of(c)->mdia != nullptr ? track_of(c)->mdia->hdlr : nullptr; }
void* ix_minf(void* c) { return minf_of(c); }
void* ix_vmhd(void* c) { return minf_of(c) != nullptr ? minf_of(c)->vmhd : nullptr; }
void* ix_smhd(void* c) { return minf_of(c) != nullptr ? minf_of(c)->smhd : nullptr; }
void* ix_hmhd(void* c) { return minf_of(c) != nullptr ? minf_of(c)->hmhd : nullptr; }
void* ix_nmhd(void* c) { return minf_of(c) != nullptr ? minf_of(c)->nmhd : nullptr; }
void* ix_gmhd(void* c) { return minf_of(c) != nullptr ? minf_of(c)->gmhd : nullptr; }
void* ix_sthd(void* c) { return minf_of(c) != nullptr ? minf_of(c)->sthd : nullptr; }
void* ix_dinf(void* c) { return dinf_parent(c); }
void* ix_stbl(void* c) { return stbl_parent(c); }
void* ix_dref(void* c) {
  auto* d = static_cast<DinfRecord*>(dinf_parent(c));
  return d != nullptr ? d->dref : nullptr;
}
StblRecord* stbl_of(void* c) { return static_cast<StblRecord*>(stbl_parent(c)); }
void* ix_stsd(void* c) { return stbl_of(c) != nullptr ? stbl_of(c)->stsd : nullptr; }
void* ix_stts(void* c) { return stbl_of(c) != nullptr ? stbl_of(c)->stts : nullptr; }
void* ix_ctts(void* c) { return stbl_of(c) != nullptr ? stbl_of(c)->ctts : nullptr; }
void* ix_stsc(void* c) { return stbl_of(c) != nullptr ? stbl_of(c)->stsc : nullptr; }
void* ix_sizes(void* c) { return stbl_of(c) != nullptr ? stbl_of(c)->sample_sizes : nullptr; }
void* ix_offsets(void* c) { return stbl_of(c) != nullptr ? stbl_of(c)->chunk_offsets : nullptr; }
void* ix_stss(void* c) { return stbl_of(c) != nullptr ? stbl_of(c)->stss : nullptr; }

const Accessor kTrack128[11] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr, ix_track_usmt};
const Accessor kTrack256[16] = {ix_tkhd, ix_tref,  ix_edts,       ix_mdia,       nullptr, nullptr, nullptr, nullptr,
                                nullptr, ix_track_mtdf, ix_track_mtdt, nullptr, nullptr, nullptr, nullptr, nullptr};
const Accessor kTrack512[4] = {ix_elst, ix_mdhd, ix_hdlr, ix_minf};
const Accessor kTrack1024[13] = {ix_vmhd, ix_smhd, ix_hmhd, ix_nmhd, ix_gmhd, ix_sthd, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, ix_dinf, ix_stbl};
const Accessor kTrack2048[14] = {ix_dref, ix_stsd, ix_stts,    ix_ctts, ix_stsc, ix_sizes, nullptr,
                                 ix_offsets, nullptr, ix_stss, nullptr, nullptr, nullptr, nullptr};
const IndexGroup kTrackIndex[] = {
    {kTrack128, 11, 128}, {kTrack256, 16, 256}, {kTrack512, 4, 512}, {kTrack1024, 13, 1024}, {kTrack2048, 14, 2048}};

template <size_t N>
void* look_up(const IndexGroup (&index)[N], void* context, BoxTypeId id) {
  auto value = static_cast<uint32_t>(id);
  for (size_t g = N; g-- > 0;) {
    if (index[g].base > value) continue;
    uint32_t offset = value - index[g].base;
    if (offset >= index[g].count || index[g].accessors[offset] == nullptr) return nullptr;
    return index[g].accessors[offset](context);
  }
  return nullptr;
}

}  // namespace

constinit const ChildList kTopList = list(top_parent, kTopRows);
constinit const ChildList kMoovList = list(moov_parent, kMoovRows);
constinit const ChildList kUdtaList = list(udta_parent, kUdtaRows);
constinit const ChildList kMovieUsmtList = list(movie_usmt_parent, kMovieUsmtRows);
constinit const ChildList kTrakList = list(trak_parent, kTrakRows);
constinit const ChildList kTrackUsmtList = list(track_usmt_parent, kTrackUsmtRows);
constinit const ChildList kEdtsList = list(edts_parent, kEdtsRows);
constinit const ChildList kMdiaList = list(mdia_parent, kMdiaRows);
constinit const ChildList kMinfList = list(minf_parent, kMinfRows);
constinit const ChildList kDinfList = list(dinf_parent, kDinfRows);
constinit const ChildList kStblList = list(stbl_parent, kStblRows);

const BoxRegistry kRegistry = {{&kTopList, &kMoovList, &kUdtaList, &kMovieUsmtList, &kTrakList, &kTrackUsmtList,
                                 &kEdtsList, &kMdiaList, &kMinfList, &kDinfList, &kStblList}};

const BoxRegistry* box_registry() { return &kRegistry; }

void* find_box(FileBoxes* root, BoxTypeId id) {
  if (root == nullptr) return nullptr;
  return look_up(kMovieIndex, root, id);
}

void* find_box(TrackBoxes* track, BoxTypeId id) {
  if (track == nullptr) return nullptr;
  return look_up(kTrackIndex, track, id);
}

}  // namespace vantorel
