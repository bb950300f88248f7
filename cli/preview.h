// The preview pictures. The default one shows the rest target in its cage on
// the left and the deformed target in the posed cage on the right, both seen
// from the same camera, so that a user sees at a glance that the bind worked.
// The error picture shows where the cage needs work: the rest target in its
// cage coloured by each point's rest-pose error, from the front and from
// behind, with a legend.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"

namespace cli {

struct PreviewSize {
  int width = 1200;
  int height = 600;
};

// Renders the PNG and writes it to path, which the caller puts in place. The
// posed point lists belong to the rest meshes' polygons. Throws UserError
// naming path.
void WritePreview(const std::string& path, PreviewSize size, const host::Mesh& restTarget, const host::Mesh& restCage,
                  const std::vector<Vec3>& posedTarget, const std::vector<Vec3>& posedCage,
                  const std::string& posedLabel);

// What the error picture shows of each target point.
struct ErrorView {
  // Rest-pose error, as a fraction of the cage's size; NaN or infinite for a
  // point without weights. A point past the end of the list has none.
  std::vector<double> errors;
  // 1 for a point outside the cage; points past the end of the list (all,
  // when it is empty) are not marked.
  std::vector<uint8_t> outside;
  // The top of the colour scale, as a fraction of the cage's size: the
  // warning threshold or the largest error. Errors above it are drawn red.
  // One that is not a positive number gives way to the largest finite error
  // (0.01 when none is above 0).
  double scaleTop = 0.01;
};

// Renders the error picture and writes it to path, as WritePreview does. The
// target's faces take the colours of their corners' errors, blended across
// each face; a corner without weights colours the part of a face nearest
// it. Points outside the cage are marked with a dot where they are seen.
// Throws UserError naming path.
void WriteErrorPreview(const std::string& path, PreviewSize size, const host::Mesh& restTarget,
                       const host::Mesh& restCage, const ErrorView& view);

}  // namespace cli
