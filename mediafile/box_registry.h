#pragma once
// The registry of every box kind, by container. The tree engine reaches it
// through the file's registry pointer; the lists are named here for the
// writers and tests that walk one container's rows.
#include "boxes/box_tree.h"

namespace vantorel {

extern const ChildList kTopList;
extern const ChildList kMoovList;
extern const ChildList kUdtaList;
extern const ChildList kMovieUsmtList;
extern const ChildList kTrakList;
extern const ChildList kTrackUsmtList;
extern const ChildList kEdtsList;
extern const ChildList kMdiaList;
extern const ChildList kMinfList;
extern const ChildList kDinfList;
extern const ChildList kStblList;

const BoxRegistry* box_registry();

}  // namespace vantorel
