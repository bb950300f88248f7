// OBJ reading: one pass over the file's text, line by line, with the byte
// ranges of the values a deformed copy replaces. No library: each face's
// corners are kept whatever their count, every number is checked to be read
// whole, and every message names its line.
#include "host/obj_file.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_set>

#include "host/regular_file.h"

namespace host {
namespace {

// Every statement of the OBJ format; only "v", "vt", "vn" and "f" are read,
// the others are kept as they are.
const std::unordered_set<std::string_view> kStatements = {
    "v",     "vt",    "vn",       "vp",       "f",      "fo",     "l",    "p",          "g",         "o",
    "s",     "mg",    "usemtl",   "mtllib",   "maplib", "usemap", "lod",  "shadow_obj", "trace_obj", "ctech",
    "stech", "bevel", "c_interp", "d_interp", "cstype", "deg",    "bmat", "step",       "curv",      "curv2",
    "surf",  "parm",  "trim",     "hole",     "scrv",   "sp",     "end",  "con",        "call",      "csh"};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string Quoted(std::string_view token) {
  constexpr size_t kShown = 24;
  std::string shown;
  for (char c : token.substr(0, kShown)) shown += (c >= 32 && c < 127) ? c : '?';
  return "\"" + shown + (token.size() > kShown ? "..." : "") + "\"";
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// What a file that is not OBJ is, from its first bytes; "" when it may be OBJ.
std::string OtherFormat(std::string_view text) {
  if (StartsWith(text, "\x1f\x8b")) return "a gzip-compressed file, not an OBJ file";
  if (StartsWith(text, "\xff\xfe") || StartsWith(text, "\xfe\xff"))
    return "UTF-16 text, not an OBJ file (save it as UTF-8)";
  if (StartsWith(text, "ply\n") || StartsWith(text, "ply\r")) return "a PLY file, not an OBJ file";
  if (StartsWith(text, "solid ") || StartsWith(text, "solid\n") || StartsWith(text, "solid\r")) return "an STL file, not an OBJ file";
  if (StartsWith(text, "glTF")) return "a binary glTF (GLB) file, not an OBJ file";
  if (StartsWith(text, "Kaydara FBX Binary") || StartsWith(text, "; FBX")) return "an FBX file, not an OBJ file";
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && (text[first] == '{' || text[first] == '['))
    return "a JSON (glTF?) file, not an OBJ file";
  // Anywhere, not just near the start: a deformed copy, whose numbers may be
  // shorter, must be refused or read just as its original.
  if (text.find('\0') != std::string_view::npos) return "a binary file, not an OBJ file";
  return "";
}

// Reads one line's statements; the file's state lives here.
class Parser {
 public:
  Parser(ObjFile& file) : file_(file), text_(file.text) {}

  void run() {
    if (StartsWith(text_, "\xef\xbb\xbf")) at_ = 3;  // a UTF-8 byte-order mark
    bool continued = false;
    while (at_ < text_.size()) {
      ++line_;
      size_t end = text_.find('\n', at_);
      if (end == std::string_view::npos) end = text_.size();
      std::string_view line = text_.substr(at_, end - at_);
      const size_t start = at_;
      at_ = end + 1;
      while (!line.empty() && IsSpace(line.back())) line.remove_suffix(1);
      // A comment ends at its line, whatever its last character.
      const size_t first = line.find_first_not_of(" \t");
      const bool comment = first != std::string_view::npos && line[first] == '#';
      const bool continues = !comment && !line.empty() && line.back() == '\\';
      if (!continued) statement(line, start, continues);
      continued = continues;
    }
    if (forwardPoint_ > file_.mesh.points.size())
      fail(forwardPointLine_, "a face refers to vertex " + std::to_string(forwardPoint_) + ", but the file has " +
                                  std::to_string(file_.mesh.points.size()));
    if (forwardNormal_ > file_.normalValues.size())
      fail(forwardNormalLine_, "a face refers to normal " + std::to_string(forwardNormal_) + ", but the file has " +
                                   std::to_string(file_.normalValues.size()));
    if (forwardTexture_ > textures_)
      fail(forwardTextureLine_, "a face refers to texture coordinate " + std::to_string(forwardTexture_) +
                                    ", but the file has " + std::to_string(textures_));
    if (!anyNormal_) file_.cornerNormals.clear();
  }

 private:
  [[noreturn]] void fail(size_t line, const std::string& problem) const { throw ObjError(file_.path, line, problem); }
  [[noreturn]] void fail(const std::string& problem) const { fail(line_, problem); }

  // The next whitespace-separated token of line from *i; empty at the end.
  static std::string_view nextToken(std::string_view line, size_t* i) {
    while (*i < line.size() && IsSpace(line[*i])) ++*i;
    const size_t start = *i;
    while (*i < line.size() && !IsSpace(line[*i])) ++*i;
    return line.substr(start, *i - start);
  }

  void statement(std::string_view line, size_t lineStart, bool continues) {
    size_t i = 0;
    const std::string_view keyword = nextToken(line, &i);
    if (keyword.empty() || keyword[0] == '#') return;
    if (!kStatements.count(keyword)) fail("not an OBJ statement: " + Quoted(keyword));
    const bool read = keyword == "v" || keyword == "vn" || keyword == "vt" || keyword == "f";
    if (!read) return;
    if (continues) fail("a \"" + std::string(keyword) + "\" line continued with '\\' is not supported");
    if (keyword == "f") return face(line, i);
    if (keyword == "vt") {
      numbers(line, i, 1, 3, "texture coordinate");
      ++textures_;
      return;
    }
    const bool normal = keyword == "vn";
    double value[3];
    TextSpan span;
    numbers(line, i, 3, normal ? 3 : 7, normal ? "normal" : "vertex", value, &span);
    span.begin += lineStart;
    span.end += lineStart;
    if (normal) {
      file_.normals.push_back({value[0], value[1], value[2]});
      file_.normalValues.push_back(span);
    } else {
      file_.mesh.points.push_back({value[0], value[1], value[2]});
      file_.pointValues.push_back(span);
    }
  }

  // Reads least..most finite numbers from line[i..]; the first three go to
  // value, and span covers them (relative to the line).
  void numbers(std::string_view line, size_t i, int least, int most, const char* what, double* value = nullptr,
               TextSpan* span = nullptr) {
    int count = 0;
    for (std::string_view token = nextToken(line, &i); !token.empty(); token = nextToken(line, &i)) {
      if (token[0] == '#') break;
      if (++count > most) fail(std::string("a ") + what + " has more than " + std::to_string(most) + " values");
      double number = 0.0;
      if (!readNumber(token, &number)) fail("coordinate " + Quoted(token) + " is not a number");
      if (!std::isfinite(number)) fail("coordinate " + Quoted(token) + " is not a finite number");
      if (count <= 3 && value != nullptr) value[count - 1] = number;
      if (span != nullptr && count == 1) span->begin = static_cast<size_t>(token.data() - line.data());
      if (span != nullptr && count == 3) span->end = static_cast<size_t>(token.data() - line.data()) + token.size();
    }
    if (count < least)
      fail(std::string("a ") + what + " needs " + (least == 1 ? "a value" : "three coordinates"));
  }

  // The whole token as strtod reads it.
  static bool readNumber(std::string_view token, double* value) {
    const char* end = token.data() + token.size();
    auto [stop, error] = std::from_chars(token.data(), end, *value);
    if (error == std::errc() && stop == end) return true;
    // What the fast path does not take (a sign, hexadecimal, out of range).
    char buffer[128];
    if (token.size() >= sizeof buffer) return false;
    std::memcpy(buffer, token.data(), token.size());
    buffer[token.size()] = '\0';
    char* stopped = nullptr;
    *value = std::strtod(buffer, &stopped);
    return stopped == buffer + token.size();
  }

  // An index of a face corner: 1-based, or negative counting back from the
  // last entry so far. Returns the 0-based index.
  int64_t index(std::string_view text, size_t defined, const char* what, size_t* forward, size_t* forwardLine) {
    size_t k = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative || (!text.empty() && text[0] == '+')) k = 1;
    if (k == text.size() || text.size() - k > 10) fail(std::string("a face's ") + what + " index " + Quoted(text) + " is not a whole number");
    int64_t n = 0;
    for (; k < text.size(); ++k) {
      if (text[k] < '0' || text[k] > '9')
        fail(std::string("a face's ") + what + " index " + Quoted(text) + " is not a whole number");
      n = n * 10 + (text[k] - '0');
    }
    if (n == 0) fail(std::string("a face's ") + what + " index is 0; indices count from 1");
    if (negative) {
      if (static_cast<size_t>(n) > defined)
        fail(std::string("a face's ") + what + " index " + Quoted(text) + " reaches before the first " + what);
      return static_cast<int64_t>(defined) - n;
    }
    if (static_cast<size_t>(n) > *forward) {
      *forward = static_cast<size_t>(n);
      *forwardLine = line_;
    }
    return n - 1;
  }

  void face(std::string_view line, size_t i) {
    if (file_.mesh.points.size() > static_cast<size_t>(INT32_MAX)) fail("the file has too many vertices");
    std::vector<int32_t>& polygon = file_.mesh.polygons.emplace_back();
    file_.polygonLines.push_back(static_cast<uint32_t>(line_));
    for (std::string_view token = nextToken(line, &i); !token.empty(); token = nextToken(line, &i)) {
      if (token[0] == '#') break;
      const size_t slash = token.find('/');
      const std::string_view point = token.substr(0, slash);
      polygon.push_back(static_cast<int32_t>(
          index(point, file_.mesh.points.size(), "vertex", &forwardPoint_, &forwardPointLine_)));
      int64_t normal = -1;
      if (slash != std::string_view::npos) {
        const std::string_view rest = token.substr(slash + 1);
        const size_t second = rest.find('/');
        const std::string_view texture = rest.substr(0, second);
        if (!texture.empty()) index(texture, textures_, "texture coordinate", &forwardTexture_, &forwardTextureLine_);
        if (second != std::string_view::npos) {
          normal = index(rest.substr(second + 1), file_.normalValues.size(), "normal", &forwardNormal_,
                         &forwardNormalLine_);
          anyNormal_ = true;
        } else if (texture.empty()) {
          fail("face corner " + Quoted(token) + " is not v, v/vt, v//vn or v/vt/vn");
        }
      }
      file_.cornerNormals.push_back(static_cast<int32_t>(normal));
    }
    if (polygon.size() < 3) fail("a face needs at least three corners");
  }

  ObjFile& file_;
  std::string_view text_;
  size_t at_ = 0;
  size_t line_ = 0;
  size_t textures_ = 0;
  bool anyNormal_ = false;
  // The largest positive index a face used, checked once the file is read.
  size_t forwardPoint_ = 0, forwardPointLine_ = 0;
  size_t forwardNormal_ = 0, forwardNormalLine_ = 0;
  size_t forwardTexture_ = 0, forwardTextureLine_ = 0;
};

}  // namespace

ObjError::ObjError(const std::string& path, size_t line, const std::string& problem)
    : std::runtime_error("OBJ file " + path + ": " + (line != 0 ? "line " + std::to_string(line) + ": " : "") +
                         problem),
      path(path),
      line(line),
      problem(problem) {}

ObjFile ParseObj(std::string text, const std::string& path) {
  ObjFile file;
  file.path = path;
  file.text = std::move(text);
  if (const std::string other = OtherFormat(file.text); !other.empty()) throw ObjError(path, 0, other);
  Parser(file).run();
  return file;
}

ObjFile ReadObjFile(const std::string& path) {
  std::string problem;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(OpenRegularFile(path, &problem), &std::fclose);
  if (!in) throw ObjError(path, 0, problem);
  std::string text;
  if (std::fseek(in.get(), 0, SEEK_END) == 0) {
    const long size = std::ftell(in.get());
    if (size > 0) text.reserve(static_cast<size_t>(size));
    std::rewind(in.get());
  }
  char buffer[1 << 16];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in.get())) > 0;) text.append(buffer, n);
  if (std::ferror(in.get())) throw ObjError(path, 0, "cannot be read");
  return ParseObj(std::move(text), path);
}

Mesh ReadObj(const std::string& path) { return ReadObjFile(path).mesh; }

}  // namespace host
