#pragma once
// EBML, the element syntax of Matroska and WebM: variable-length ids and
// sizes, each element checked against the one it lies in.
#include <cstdint>

#include "import/import_file.h"

namespace vantorel {

// The ids the importer reads (with their length marker, as written).
enum MatroskaId : uint32_t {
  kEbmlHeader = 0x1A45DFA3,
  kEbmlDocType = 0x4282,
  kSegment = 0x18538067,
  kSeekHead = 0x114D9B74,
  kInfo = 0x1549A966,
  kTimestampScale = 0x2AD7B1,
  kDuration = 0x4489,
  kTitle = 0x7BA9,
  kWritingApp = 0x5741,
  kTracks = 0x1654AE6B,
  kTrackEntry = 0xAE,
  kTrackNumber = 0xD7,
  kTrackType = 0x83,
  kFlagEnabled = 0xB9,
  kFlagDefault = 0x88,
  kDefaultDuration = 0x23E383,
  kName = 0x536E,
  kLanguage = 0x22B59C,
  kLanguageBcp47 = 0x22B59D,
  kCodecId = 0x86,
  kCodecPrivate = 0x63A2,
  kCodecDelay = 0x56AA,
  kSeekPreRoll = 0x56BB,
  kVideo = 0xE0,
  kPixelWidth = 0xB0,
  kPixelHeight = 0xBA,
  kColour = 0x55B0,
  kMatrixCoefficients = 0x55B1,
  kColourRange = 0x55B9,
  kTransferCharacteristics = 0x55BA,
  kPrimaries = 0x55BB,
  kMaxCll = 0x55BC,
  kMaxFall = 0x55BD,
  kMasteringMetadata = 0x55D0,
  kPrimaryRChromaticityX = 0x55D1,  // through kLuminanceMin: ten floats in this order
  kLuminanceMin = 0x55DA,
  kBlockAdditionMapping = 0x41E4,
  kBlockAddIdType = 0x41E7,
  kBlockAddIdExtraData = 0x41ED,
  kDateUtc = 0x4461,
  kAudio = 0xE1,
  kSamplingFrequency = 0xB5,
  kChannels = 0x9F,
  kBitDepth = 0x6264,
  kFlagForced = 0x55AA,
  kContentEncodings = 0x6D80,
  kContentEncoding = 0x6240,
  kContentEncodingScope = 0x5032,
  kContentEncodingType = 0x5033,
  kContentCompression = 0x5034,
  kContentCompAlgo = 0x4254,
  kContentCompSettings = 0x4255,
  kContentEncryption = 0x5035,
  kCluster = 0x1F43B675,
  kClusterTimestamp = 0xE7,
  kSimpleBlock = 0xA3,
  kBlockGroup = 0xA0,
  kBlock = 0xA1,
  kBlockDuration = 0x9B,
  kReferenceBlock = 0xFB,
  kDiscardPadding = 0x75A2,
  kCues = 0x1C53BB6B,
  kCuePoint = 0xBB,
  kCueTrackPositions = 0xB7,
  kCueClusterPosition = 0xF1,
  kChapters = 0x1043A770,
  kEditionEntry = 0x45B9,
  kChapterAtom = 0xB6,
  kChapterTimeStart = 0x91,
  kChapterTimeEnd = 0x92,
  kChapterDisplay = 0x80,
  kChapString = 0x85,
  kTags = 0x1254C367,
  kTag = 0x7373,
  kTargets = 0x63C0,
  kTargetTrackUid = 0x63C5,
  kSimpleTag = 0x67C8,
  kTagName = 0x45A3,
  kTagString = 0x4487,
  kAttachments = 0x1941A469,
  kAttachedFile = 0x61A7,
  kFileName = 0x466E,
  kFileMediaType = 0x4660,
  kFileData = 0x465C,
  kVoid = 0xEC,
  kCrc32 = 0xBF,
};

struct EbmlElement {
  uint32_t id;
  uint64_t start;  // offset of the id
  uint64_t data;   // offset of the payload
  uint64_t size;   // payload bytes; when `unknown_size` or `cut`, what the file holds
  uint64_t end;    // data + size
  uint64_t declared;  // the size the element claims (its payload bytes as written)
  bool unknown_size;  // the size field was all ones: it runs until a sibling of its parent
  bool cut;           // it claims more bytes than the file has left
};

// The value of a variable-length integer of 1 to 8 bytes in `b` (n bytes
// available), with its length; false when the first byte has no marker or
// fewer bytes are there than the marker says. With `keep_marker` the value
// is the raw bytes (ids); otherwise the marker bit is removed (sizes).
bool ebml_vint(const uint8_t* b, uint32_t n, bool keep_marker, uint64_t* value, uint32_t* length);

// Reads the element header at the current position of an element that ends
// at `parent_end`. `*got` is false when no element starts there (the parent
// is used up). `parent_open`: the parent runs to the end of the file (an
// unknown or cut size, or the file itself), so a child that claims more than
// is left is cut rather than malformed. An element larger than a parent of
// known size is Malformed.
ErrorCode ebml_next(ImportFile* file, uint64_t parent_end, bool parent_open, EbmlElement* out, bool* got);

// Fixed values read from the payload; each fails as Malformed when the
// element's size does not fit the type.
ErrorCode ebml_uint(ImportFile* file, const EbmlElement* e, uint64_t* out);
ErrorCode ebml_float(ImportFile* file, const EbmlElement* e, double* out);
// A text of at most `capacity` - 1 bytes, NUL-terminated; a longer text is
// cut at the capacity.
ErrorCode ebml_text(ImportFile* file, const EbmlElement* e, char* out, uint32_t capacity);

}  // namespace vantorel
