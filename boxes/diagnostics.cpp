// Where a failure happened: the path of the box being read and its offset.
#include "boxes/box_tree.h"

#include <cstdio>
#include <cstring>

namespace vantorel {

// ---- Diagnostics --------------------------------------------------------------

void push_box_path(BoxFile* file, const BoxHeader* header) {
  BoxPath& p = file->path;
  if (p.depth < kMaxBoxDepth) {
    p.type[p.depth] = header->type;
    p.index[p.depth] = 0;
    p.start[p.depth] = header->start + p.base_offset;
  }
  ++p.depth;
}

void pop_box_path(BoxFile* file) {
  if (file->path.depth > 0) --file->path.depth;
}

void locate_failure(BoxFile* file) {
  if (file->detail.set) return;
  file->detail.set = 1;
  const BoxPath& p = file->path;
  uint32_t depth = p.depth < kMaxBoxDepth ? p.depth : kMaxBoxDepth;
  file->detail.offset = depth > 0 ? p.start[depth - 1] : 0;
  char* out = file->detail.path;
  size_t room = sizeof file->detail.path;
  size_t used = 0;
  out[0] = '\0';
  for (uint32_t i = 0; i < depth && used + 1 < room; ++i) {
    FourCCText t = fourcc_text(p.type[i]);
    int n = p.index[i] != 0 ? std::snprintf(out + used, room - used, "%s%s[%u]", i ? "/" : "", t.text, p.index[i])
                            : std::snprintf(out + used, room - used, "%s%s", i ? "/" : "", t.text);
    if (n < 0) break;
    used += static_cast<size_t>(n);
  }
}

}  // namespace vantorel
