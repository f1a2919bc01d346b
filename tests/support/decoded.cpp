#include "support/decoded.h"

#include <sstream>

#include "support/ffprobe.h"

namespace vantorel::test {

namespace {

// Parses ffmpeg's framemd5 listing of one stream.
void parse_framemd5(const std::string& text, DecodedStream* s) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("#tb 0:", 0) == 0) {
      std::sscanf(line.c_str() + 6, " %lld/%lld", reinterpret_cast<long long*>(&s->tb_num),
                  reinterpret_cast<long long*>(&s->tb_den));
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    long long stream, dts, pts, duration, size;
    char hash[64] = {};
    if (std::sscanf(line.c_str(), "%lld, %lld, %lld, %lld, %lld, %63s", &stream, &dts, &pts, &duration, &size, hash) != 6)
      continue;
    s->pts.push_back(pts);
    s->hashes.push_back(hash);
    s->total_duration += duration;
  }
}

}  // namespace

bool decode_streams(const std::string& path, const std::vector<std::string>& decoders,
                    std::vector<DecodedStream>* out, std::string* error) {
  out->clear();
  std::vector<ProbeStream> streams;
  if (!probe_streams(path, &streams, "", error)) return false;
  for (const ProbeStream& p : streams) {
    DecodedStream s;
    s.type = p.codec_type;
    s.codec = p.codec_name;
    std::string force;
    size_t i = out->size();
    if (i < decoders.size() && !decoders[i].empty())
      force = (s.type == "audio" ? "-c:a " : "-c:v ") + decoders[i] + " ";
    const std::string input = force + "-i " + shell_quote(path) + " -map 0:" + std::to_string(p.index) + " ";
    std::string text;
    if (run_command("ffmpeg -v error " + input + "-f framemd5 - 2>/dev/null", &text) != 0) {
      *error = "ffmpeg could not decode stream " + std::to_string(p.index) + " of " + path;
      return false;
    }
    parse_framemd5(text, &s);
    if (s.type == "audio") {
      if (run_command("ffmpeg -v error " + input + "-f md5 - 2>/dev/null", &s.audio_md5) != 0) {
        *error = "ffmpeg could not decode the audio of " + path;
        return false;
      }
    }
    out->push_back(s);
  }
  return true;
}

::testing::AssertionResult decoded_equal(const DecodedStream& a, const DecodedStream& b) {
  if (a.type != b.type) return ::testing::AssertionFailure() << "stream types " << a.type << " and " << b.type;
  if (a.type == "audio") {
    if (a.audio_md5 != b.audio_md5) return ::testing::AssertionFailure() << "decoded audio differs";
    // Durations in seconds: a.d * a.num / a.den == b.d * b.num / b.den.
    if (a.total_duration * a.tb_num * b.tb_den != b.total_duration * b.tb_num * a.tb_den)
      return ::testing::AssertionFailure() << "audio lasts " << a.total_duration << "*" << a.tb_num << "/" << a.tb_den
                                           << " and " << b.total_duration << "*" << b.tb_num << "/" << b.tb_den;
    return ::testing::AssertionSuccess();
  }
  if (a.hashes.size() != b.hashes.size())
    return ::testing::AssertionFailure() << a.hashes.size() << " and " << b.hashes.size() << " frames";
  if (a.hashes.empty()) return ::testing::AssertionFailure() << "no frames";
  for (size_t i = 0; i < a.hashes.size(); ++i) {
    if (a.hashes[i] != b.hashes[i]) return ::testing::AssertionFailure() << "frame " << i << " differs";
    const int64_t ta = (a.pts[i] - a.pts[0]) * a.tb_num * b.tb_den;
    const int64_t tb = (b.pts[i] - b.pts[0]) * b.tb_num * a.tb_den;
    if (ta != tb)
      return ::testing::AssertionFailure() << "frame " << i << " shown at " << a.pts[i] - a.pts[0] << "*" << a.tb_num
                                           << "/" << a.tb_den << " and " << b.pts[i] - b.pts[0] << "*" << b.tb_num
                                           << "/" << b.tb_den;
  }
  return ::testing::AssertionSuccess();
}

std::string probe_errors(const std::string& path) {
  std::string said;
  run_command("ffprobe -v error -show_packets -show_streams " + shell_quote(path) + " 2>&1 >/dev/null", &said);
  return said;
}

}  // namespace vantorel::test
