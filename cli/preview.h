// The preview picture: the rest target in its cage on the left, the deformed
// target in the posed cage on the right, both seen from the same camera, so
// that a user sees at a glance that the bind worked.
#pragma once

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

}  // namespace cli
