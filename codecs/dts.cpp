#include "codecs/dts.h"

#include "codecs/bit_reader.h"
#include "io/byte_io.h"

namespace vantorel {

namespace {

constexpr uint32_t kCoreRates[16] = {0, 8000, 16000, 32000, 0, 0, 11025, 22050, 44100, 0, 0, 12000, 24000, 48000, 0, 0};
// kbit/s by RATE; 0 for open, variable and lossless.
constexpr uint32_t kCoreBitRates[32] = {32,  56,  64,  96,  112, 128, 192, 224,  256,  320,  384,
                                        448, 512, 576, 640, 768, 960, 1024, 1152, 1280, 1344, 1408,
                                        1411, 1472, 1536, 0, 0, 0, 0, 0, 0, 0};
// The channels of each AMODE as 'ddts' ChannelLayout bits: C 0x1, L/R 0x2,
// Ls/Rs 0x4, Cs 0x10; 1+1 and stereo variants count as a left/right pair.
constexpr uint16_t kAmodeLayout[10] = {0x0001, 0x0002, 0x0002, 0x0002, 0x0002, 0x0003, 0x0012, 0x0013, 0x0006, 0x0007};

}  // namespace

bool dts_parse_core(const uint8_t* f, uint32_t size, DtsCoreHeader* out) {
  if (f == nullptr || out == nullptr || size < 15 || load_u32be(f) != 0x7FFE8001) return false;
  BitReader r;
  bits_init(&r, f + 4, size - 4, false);
  uint32_t ftype, shrt, cpf, nblks, fsize, amode, sfreq, rate, flags, ext_id, ext, aspf, lff, hflag, v;
  bool ok = bits_read(&r, 1, &ftype) == ErrorCode::Ok && bits_read(&r, 5, &shrt) == ErrorCode::Ok &&
            bits_read(&r, 1, &cpf) == ErrorCode::Ok && bits_read(&r, 7, &nblks) == ErrorCode::Ok &&
            bits_read(&r, 14, &fsize) == ErrorCode::Ok && bits_read(&r, 6, &amode) == ErrorCode::Ok &&
            bits_read(&r, 4, &sfreq) == ErrorCode::Ok && bits_read(&r, 5, &rate) == ErrorCode::Ok &&
            bits_read(&r, 5, &flags) == ErrorCode::Ok &&  // fixed bit, DYNF, TIMEF, AUXF, HDCD
            bits_read(&r, 3, &ext_id) == ErrorCode::Ok && bits_read(&r, 1, &ext) == ErrorCode::Ok &&
            bits_read(&r, 1, &aspf) == ErrorCode::Ok && bits_read(&r, 2, &lff) == ErrorCode::Ok &&
            bits_read(&r, 1, &hflag) == ErrorCode::Ok;
  if (ok && cpf) ok = bits_read(&r, 16, &v) == ErrorCode::Ok;
  uint32_t pcmr = 0;
  // FILTS, VERNUM, CHIST, then PCMR.
  if (ok) ok = bits_read(&r, 1 + 4 + 2, &v) == ErrorCode::Ok && bits_read(&r, 3, &pcmr) == ErrorCode::Ok;
  if (!ok || ftype == 0 || nblks < 5 || fsize < 95 || kCoreRates[sfreq] == 0 || lff == 3 || pcmr == 4 || pcmr == 7)
    return false;
  *out = DtsCoreHeader{};
  out->samples = (nblks + 1) * 32;
  out->frame_size = fsize + 1;
  out->amode = amode;
  out->sample_rate = kCoreRates[sfreq];
  out->bit_rate = kCoreBitRates[rate] * 1000;
  out->ext_audio = ext;
  out->ext_audio_id = ext_id;
  out->lfe = lff != 0;
  out->pcm_bits = pcmr < 2 ? 16 : pcmr < 4 ? 20 : 24;
  return true;
}

uint32_t dts_frame_samples(const uint8_t* frame, uint32_t size) {
  DtsCoreHeader h;
  return dts_parse_core(frame, size, &h) ? h.samples : 0;
}

bool dts_is_extension_substream(const uint8_t* b, uint32_t size) {
  return b != nullptr && size >= 4 && load_u32be(b) == 0x64582025;
}

bool ddts_from_core(const DtsCoreHeader* core, DdtsRecord* out) {
  if (core == nullptr || out == nullptr || core->amode >= 10 || core->sample_rate == 0) return false;
  *out = DdtsRecord{};
  out->DTSSamplingFrequency = core->sample_rate;
  out->maxBitrate = out->avgBitrate = core->bit_rate;
  out->pcmSampleDepth = static_cast<uint8_t>(core->pcm_bits == 24 ? 24 : 16);
  uint8_t code = 0;
  for (uint32_t n = 512; n < core->samples && code < 3; n <<= 1) ++code;
  out->FrameDuration = code;
  out->StreamConstruction = 1;  // core substream only
  out->CoreLFEPresent = static_cast<uint8_t>(core->lfe);
  out->CoreLayout = static_cast<uint8_t>(core->amode);
  out->CoreSize = static_cast<uint16_t>(core->frame_size > 0x3FFF ? 0x3FFF : core->frame_size - 1);
  out->ChannelLayout = static_cast<uint16_t>(kAmodeLayout[core->amode] | (core->lfe ? 0x0008 : 0));
  return true;
}

ErrorCode ddts_write(BoxFile* file, const DdtsRecord* d) {
  if (file == nullptr || d == nullptr) return ErrorCode::BadArgument;
  VT_TRY(write_u32be(file, d->DTSSamplingFrequency));
  VT_TRY(write_u32be(file, d->maxBitrate));
  VT_TRY(write_u32be(file, d->avgBitrate));
  VT_TRY(write_u8(file, d->pcmSampleDepth));
  // 56 bits: FrameDuration(2) StreamConstruction(5) CoreLFEPresent(1)
  // CoreLayout(6) CoreSize(14) StereoDownmix(1) RepresentationType(3)
  // ChannelLayout(16) MultiAssetFlag(1) LBRDurationMod(1) ReservedBoxPresent(1) reserved(5).
  uint64_t bits = 0;
  auto put = [&](uint64_t v, uint32_t n) { bits = (bits << n) | (v & ((uint64_t{1} << n) - 1)); };
  put(d->FrameDuration, 2), put(d->StreamConstruction, 5), put(d->CoreLFEPresent, 1), put(d->CoreLayout, 6);
  put(d->CoreSize, 14), put(d->StereoDownmix, 1), put(d->RepresentationType, 3), put(d->ChannelLayout, 16);
  put(d->MultiAssetFlag, 1), put(d->LBRDurationMod, 1), put(d->ReservedBoxPresent, 1), put(0, 5);
  for (int shift = 48; shift >= 0; shift -= 8) VT_TRY(write_u8(file, static_cast<uint8_t>(bits >> shift)));
  return ErrorCode::Ok;
}

}  // namespace vantorel
