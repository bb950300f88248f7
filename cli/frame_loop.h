// Deforming frame after frame: each posed cage read just before it is
// deformed, each deformed target written just after, so that memory stays
// the same whatever the number of frames.
#pragma once

#include <string>
#include <vector>

#include "cli/cage_animation.h"
#include "cli/frame_outputs.h"
#include "cli/output_files.h"
#include "cli/progress_bar.h"
#include "cli/summary.h"
#include "driver/session.h"
#include "host/obj_file.h"

namespace cli {

// The frame the preview shows, kept from the loop.
struct ShownFrame {
  size_t index = 0;  // which frame, from 0; none when past the last
  std::vector<Vec3> cage, target;
  std::string label;
};

// What each deformed frame is written as, besides the plan's names.
struct TargetOutput {
  // The target's OBJ file: each OBJ output is a copy of it with the deformed
  // points. With no text (a scene's target whose file is gone), the points
  // and the faces of rest are written instead.
  const host::ObjFile& file;
  const host::Mesh& rest;
  // Points written where they are at rest, whatever the cage does.
  const std::vector<uint32_t>& keepInPlace;
};

// Deforms the session's target with every frame of cages in order and writes
// each frame's outputs through outputs: its OBJ file as soon as it is
// deformed, and the cache frame by frame under its temporary name, put in
// place after the last frame. Progress on bar; the frame count and times
// into summary, and the files written. Throws UserError naming the file at
// fault.
void DeformFrames(driver::Session& session, CageAnimation& cages, const FrameOutputs& plan, const TargetOutput& target,
                  OutputTransaction& outputs, ProgressBar& bar, Summary& summary, ShownFrame& shown);

}  // namespace cli
