// OBJ files read exactly and written back with nothing lost.
//
// A file is read whole and kept as it is: its points ("v" lines, in order) and
// polygons ("f" lines, in order, every corner count) make the mesh, and a
// deformed copy is the same bytes with only the coordinates of the "v" lines,
// and of the "vn" lines the faces use, replaced. Everything else (texture
// coordinates, groups, materials, smoothing, points and lines, comments, line
// endings) stays byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host.h"

namespace host {

// A file that cannot be read as OBJ: what() is "OBJ file <path>: line <n>:
// <problem>" (without the line part when line is 0).
class ObjError : public std::runtime_error {
 public:
  ObjError(const std::string& path, size_t line, const std::string& problem);
  std::string path;
  size_t line;  // 1-based; 0 when the problem is the whole file
  std::string problem;
};

// Bytes [begin, end) of a file's text.
struct TextSpan {
  size_t begin = 0;
  size_t end = 0;
};

struct ObjFile {
  std::string path;
  std::string text;  // the file's bytes
  Mesh mesh;
  std::vector<TextSpan> pointValues;   // per point: its x y z, from the first digit of x to the end of z
  std::vector<Vec3> normals;           // per "vn" line: its x y z as read
  std::vector<TextSpan> normalValues;  // and where they are in the text
  // Per polygon corner, polygons in order: the "vn" index the corner names,
  // -1 for none. Empty when no face names a normal.
  std::vector<int32_t> cornerNormals;
  std::vector<uint32_t> polygonLines;  // the line of each polygon's "f"
};

// Reads and checks a whole OBJ file. Every number reads as C's strtod reads
// it (decimal, hexadecimal, exponent) and must be finite; faces need three or
// more corners, in any of the forms v, v/vt, v//vn, v/vt/vn, with positive or
// negative (relative) indices that name existing entries. A file that is
// recognisably something else (PLY, STL, glTF, FBX, gzip, UTF-16, binary)
// is named as such. Throws ObjError.
ObjFile ReadObjFile(const std::string& path);

// The same from text already in memory (path only names it in messages).
ObjFile ParseObj(std::string text, const std::string& path);

// The file's text with the points replaced by points (one per point of the
// mesh; a point that has not moved keeps its text), and each normal that a
// face names turned with the surface around it: every face that names it
// turns it by the rotation taking the face's normal as read to its normal at
// the new points, and the turned normals are averaged, weighted by the angle
// of each face's corner (as normals are usually made), keeping the normal's
// length. So an authored normal keeps its shading: it turns by no more than
// its faces do, and a normal whose faces did not turn (to 1e-9 radians), or
// have no area, keeps its text. The same points give back the same bytes.
std::string DeformedObjText(const ObjFile& file, const std::vector<Vec3>& points);

// Shortest text that reads back as exactly value.
std::string NumberText(double value);

}  // namespace host
