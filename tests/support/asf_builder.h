#pragma once
// Hand-made ASF files: object GUIDs and builders for the header objects the
// import reads (file and stream properties, header extension), and a small
// file with an audio, a video and an unknown stream.
#include <cstdint>
#include <initializer_list>

#include "import/asf/asf_import.h"
#include "support/box_builder.h"

namespace vantorel::test {

inline Bytes guid(uint32_t d1, uint16_t d2, uint16_t d3, std::initializer_list<uint8_t> d4) {
  return cat({u32le(d1), u16le(d2), u16le(d3), Bytes(d4)});
}
inline const Bytes kHeader = guid(0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
inline const Bytes kData = guid(0x75B22636, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
inline const Bytes kFileProperties = guid(0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
inline const Bytes kStreamProperties = guid(0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
inline const Bytes kHeaderExtension = guid(0x5FBF03B5, 0xA92E, 0x11CF, {0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
inline const Bytes kAudioMedia = guid(0xF8699E40, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B});
inline const Bytes kVideoMedia = guid(0xBC19EFC0, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B});
inline const Bytes kExtendedStreamProperties =
    guid(0x14E6A5CB, 0xC672, 0x4332, {0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A});
inline const Bytes kOtherGuid = guid(0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10});

inline Bytes object(const Bytes& id, const Bytes& payload) { return cat({id, u64le(24 + payload.size()), payload}); }
inline Bytes object_sized(const Bytes& id, uint64_t size, const Bytes& payload) {
  return cat({id, u64le(size), payload});
}

// 2000-01-01 00:00:00 UTC.
inline constexpr uint64_t kSeconds1904 = 3029529600u;
inline constexpr uint64_t kCreation1601 = (kSeconds1904 + kAsfEpochTo1904) * 10000000u;

struct FileProps {
  uint64_t play = 600000000;  // 60 s
  uint64_t preroll = 3000;
  uint32_t flags = 0x2;       // seekable
  uint32_t min_packet = 3200;
  uint32_t max_packet = 3200;
  uint32_t max_bitrate = 128000;
};
inline Bytes file_properties(const FileProps& p) {
  return object(kFileProperties, cat({zeros(16), u64le(100000), u64le(kCreation1601), u64le(9), u64le(p.play),
                                      u64le(p.play), u64le(p.preroll), u32le(p.flags), u32le(p.min_packet),
                                      u32le(p.max_packet), u32le(p.max_bitrate)}));
}

inline Bytes stream_properties(const Bytes& type, uint16_t number, const Bytes& specific) {
  return object(kStreamProperties, cat({type, zeros(16), u64le(0), u32le(static_cast<uint32_t>(specific.size())),
                                        u32le(0), u16le(number), u32le(0), specific}));
}
inline Bytes audio_format(uint16_t tag, const Bytes& extra) {
  return cat({u16le(tag), u16le(2), u32le(44100), u32le(16000), u16le(2973), u16le(16),
              u16le(static_cast<uint16_t>(extra.size())), extra});
}
inline Bytes video_format(const std::string& compression, const Bytes& extra) {
  Bytes bitmap = cat({u32le(static_cast<uint32_t>(40 + extra.size())), u32le(320), u32le(240), u16le(1), u16le(24),
                      text(compression), u32le(0), zeros(16), extra});
  return cat({u32le(320), u32le(240), u8(2), u16le(static_cast<uint16_t>(bitmap.size())), bitmap});
}
inline Bytes extended_stream_properties(uint16_t number, uint32_t bitrate, uint32_t alternate, uint32_t max_object) {
  return object(kExtendedStreamProperties,
                cat({u64le(0), u64le(0), u32le(bitrate), u32le(5000), u32le(0), u32le(alternate), u32le(5000), u32le(0),
                     u32le(max_object), u32le(0), u16le(number), u16le(0), u64le(400000), u16le(0), u16le(0)}));
}
inline Bytes header_extension(const Bytes& objects) {
  return object(kHeaderExtension, cat({zeros(16), u16le(6), u32le(static_cast<uint32_t>(objects.size())), objects}));
}
inline Bytes header_object(const Bytes& children) { return object(kHeader, cat({u32le(4), u8(1), u8(2), children})); }
inline Bytes data_object(uint64_t packets, size_t packet_bytes) {
  return object(kData, cat({zeros(16), u64le(packets), u8(1), u8(1), zeros(packet_bytes)}));
}

inline const Bytes kAudioExtra = {0x00, 0x88, 0x00, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00};
inline const Bytes kVideoExtra = {0x4F, 0xE0};

inline Bytes stream_objects() {
  return cat({stream_properties(kAudioMedia, 1, audio_format(0x0161, kAudioExtra)),
              stream_properties(kVideoMedia, 2 | 0x8000, video_format("WMV2", kVideoExtra)),
              stream_properties(kOtherGuid, 3, zeros(8))});
}

inline Bytes asf_file(const FileProps& props = {}) {
  return cat({header_object(cat({file_properties(props), stream_objects(),
                                 header_extension(extended_stream_properties(2, 300000, 450000, 7000))})),
              data_object(3, 96)});
}

}  // namespace vantorel::test
