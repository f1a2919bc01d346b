#include "support/ffprobe.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace vantorel::test {

namespace {

// One line of ffprobe's compact output ("key=value|key=value") as a map.
std::map<std::string, std::string> fields_of(const std::string& line) {
  std::map<std::string, std::string> fields;
  std::stringstream parts(line);
  std::string part;
  while (std::getline(parts, part, '|')) {
    size_t eq = part.find('=');
    if (eq != std::string::npos) fields[part.substr(0, eq)] = part.substr(eq + 1);
  }
  return fields;
}

bool number(const std::map<std::string, std::string>& f, const char* key, int64_t* out) {
  auto it = f.find(key);
  if (it == f.end() || it->second.empty() || it->second == "N/A") return false;
  char* end = nullptr;
  long long v = std::strtoll(it->second.c_str(), &end, 10);
  if (end == nullptr || *end != '\0') return false;
  *out = v;
  return true;
}

std::string text_of(const std::map<std::string, std::string>& f, const char* key) {
  auto it = f.find(key);
  return it != f.end() ? it->second : std::string();
}

bool run_ffprobe(const std::string& args, std::string* out, std::string* error) {
  int status = run_command("ffprobe -v error " + args + " 2>&1", out);
  if (status != 0) {
    if (error != nullptr) *error = "ffprobe failed (" + std::to_string(status) + "): " + *out;
    return false;
  }
  return true;
}

}  // namespace

int run_command(const std::string& command, std::string* out) {
  if (out != nullptr) out->clear();
#ifdef _WIN32
  // The Windows tests run under wine, where no tool can be started: every
  // test that needs one skips.
  (void)command;
  return -1;
#else
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    if (out != nullptr) out->append(buffer, n);
  int status = pclose(pipe);
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool have_tool(const std::string& tool) {
  static std::map<std::string, bool> known;
  auto it = known.find(tool);
  if (it != known.end()) return it->second;
  bool ok = run_command(tool + " -version >/dev/null 2>&1", nullptr) == 0;
  known[tool] = ok;
  return ok;
}

bool have_ffmpeg() { return have_tool("ffmpeg") && have_tool("ffprobe"); }

bool probe_packets(const std::string& path, std::vector<ProbePacket>* out, const std::string& input_options,
                   bool with_hash, std::string* error) {
  out->clear();
  std::string text;
  std::string args = input_options + (with_hash ? " -show_data_hash MD5" : "") +
                     " -show_entries packet=stream_index,codec_type,pts,dts,duration,size,pos,flags" +
                     (with_hash ? ",data_hash" : "") + " -of compact=p=0:nk=0 " + shell_quote(path);
  if (!run_ffprobe(args, &text, error)) return false;
  std::stringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    auto f = fields_of(line);
    if (f.find("stream_index") == f.end()) {
      // A packet with side data (Opus skip samples, say) has its later
      // fields on a line of their own after the side-data section.
      if (!out->empty() && out->back().data_hash.empty()) out->back().data_hash = text_of(f, "data_hash");
      continue;
    }
    ProbePacket p;
    int64_t v = 0;
    if (number(f, "stream_index", &v)) p.stream_index = static_cast<int>(v);
    p.codec_type = text_of(f, "codec_type");
    p.has_pts = number(f, "pts", &p.pts);
    p.has_dts = number(f, "dts", &p.dts);
    p.has_duration = number(f, "duration", &p.duration);
    if (number(f, "size", &v)) p.size = static_cast<uint64_t>(v);
    if (!number(f, "pos", &p.pos)) p.pos = -1;
    p.key = text_of(f, "flags").find('K') != std::string::npos;
    p.data_hash = text_of(f, "data_hash");
    out->push_back(p);
  }
  return true;
}

bool probe_streams(const std::string& path, std::vector<ProbeStream>* out, const std::string& input_options,
                   std::string* error) {
  out->clear();
  std::string text;
  std::string args = input_options +
                     " -show_entries stream=index,codec_type,codec_name,codec_tag_string,time_base,sample_rate,"
                     "channels,width,height,nb_frames -of compact=p=0:nk=0 " +
                     shell_quote(path);
  if (!run_ffprobe(args, &text, error)) return false;
  std::stringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    auto f = fields_of(line);
    if (f.find("index") == f.end()) continue;
    ProbeStream s;
    int64_t v = 0;
    if (number(f, "index", &v)) s.index = static_cast<int>(v);
    s.codec_type = text_of(f, "codec_type");
    s.codec_name = text_of(f, "codec_name");
    s.codec_tag = text_of(f, "codec_tag_string");
    std::string tb = text_of(f, "time_base");
    size_t slash = tb.find('/');
    if (slash != std::string::npos) {
      s.time_base_num = std::atoi(tb.substr(0, slash).c_str());
      s.time_base_den = std::atoi(tb.substr(slash + 1).c_str());
    }
    if (number(f, "sample_rate", &v)) s.sample_rate = static_cast<int>(v);
    if (number(f, "channels", &v)) s.channels = static_cast<int>(v);
    if (number(f, "width", &v)) s.width = static_cast<int>(v);
    if (number(f, "height", &v)) s.height = static_cast<int>(v);
    if (!number(f, "nb_frames", &s.nb_frames)) s.nb_frames = -1;
    // A transport stream's streams are listed under their program too.
    bool listed = false;
    for (const ProbeStream& o : *out) listed = listed || o.index == s.index;
    if (!listed) out->push_back(s);
  }
  return true;
}

std::vector<ProbePacket> packets_of(const std::vector<ProbePacket>& all, int stream_index) {
  std::vector<ProbePacket> some;
  for (const ProbePacket& p : all)
    if (p.stream_index == stream_index) some.push_back(p);
  return some;
}

std::string make_media(const TempDir& dir, const std::string& name, const std::string& args, std::string* error) {
  std::string path = dir.path(name);
  std::string text;
  int status = run_command("ffmpeg -nostdin -v error -y " + args + " " + shell_quote(path) + " 2>&1", &text);
  if (status != 0) {
    if (error != nullptr) *error = "ffmpeg failed (" + std::to_string(status) + "): " + text;
    return "";
  }
  return path;
}

std::vector<uint8_t> read_whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace vantorel::test
