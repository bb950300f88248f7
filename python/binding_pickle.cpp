// Pickling a Binding: the weights file's bytes and what load needs with
// them. The weights travel as the file holds them (single precision), so an
// unpickled binding deforms as one loaded from its weights file, as the
// command does, whichever process loads it.
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "python/binding.h"

namespace python {
namespace {

constexpr int kStateVersion = 1;

// A folder only this process's user may enter, removed with all it holds
// however the work in it ends.
class PrivateFolder {
 public:
  PrivateFolder() {
    std::error_code error;
    std::filesystem::path tmp = std::filesystem::temp_directory_path(error);
    if (error) tmp = "/tmp";
    path_ = (tmp / "ostrand-pickle-XXXXXX").string();
    if (::mkdtemp(path_.data()) == nullptr) {
      const int code = errno;
      RaiseOSError(code, "no temporary folder for the weights file can be made", OwnPath(tmp.string()));
    }
  }
  ~PrivateFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  std::string file(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

template <typename T>
py::array_t<T> Array(const std::vector<size_t>& shape, const T* data) {
  py::array_t<T> array(shape);
  std::copy(data, data + array.size(), array.mutable_data());
  return array;
}

py::array_t<double> PointsArray(const std::vector<Vec3>& points) {
  return Array<double>({points.size(), 3}, reinterpret_cast<const double*>(points.data()));
}

}  // namespace

py::dict Binding::pickleState() {
  std::string bytes;
  {
    PrivateFolder folder;
    const FilePath file = OwnPath(folder.file("weights.cw"));
    save(file);
    std::ifstream in(file.bytes, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad()) RaiseOSError(EIO, "the weights file written could not be read back", file);
  }
  const BindInput made = input();
  std::vector<int32_t> corners, counts;
  for (const std::vector<int32_t>& face : made.cage.polygons) {
    corners.insert(corners.end(), face.begin(), face.end());
    counts.push_back(static_cast<int32_t>(face.size()));
  }
  py::dict state;
  state["version"] = kStateVersion;
  state["weights_file"] = py::bytes(bytes);
  state["cage_points"] = PointsArray(made.cage.points);
  state["cage_faces"] = py::make_tuple(Array<int32_t>({corners.size()}, corners.data()),
                                       Array<int32_t>({counts.size()}, counts.data()));
  state["target_points"] = PointsArray(made.target.points);
  state["setup_weights"] = made.setupWeights.empty()
                               ? py::object(py::none())
                               : Array<float>({made.setupWeights.size()}, made.setupWeights.data());
  state["threads"] = made.threads ? py::object(py::int_(*made.threads)) : py::object(py::none());
  state["kept_at_rest"] = Array<uint32_t>({keptAtRest_.size()}, keptAtRest_.data());
  return state;
}

std::unique_ptr<Binding> Binding::unpickle(const py::dict& state) {
  const py::object version = state.contains("version") ? py::object(state["version"]) : py::object(py::none());
  if (!version.equal(py::int_(kStateVersion)))
    throw py::value_error("a pickled Binding of another version of ostrand");
  BindInput input;
  input.cage.points = ToPoints(Points(state["cage_points"], "cage_points"));
  input.cage.polygons = Faces(state["cage_faces"], "cage_faces", input.cage.points.size());
  input.target.points = ToPoints(Points(state["target_points"], "target_points"));
  if (!state["setup_weights"].is_none())
    input.setupWeights = PerPointValues(state["setup_weights"], "setup_weights", input.target.points.size());
  if (!state["threads"].is_none()) {
    input.threads = state["threads"].cast<int>();
    CheckThreads(input.threads);
  }
  const std::string bytes = state["weights_file"].cast<std::string>();
  // Points allow_unbound left out: the setup weights leave them out of the
  // weights file too, and they still count as points without weights.
  std::vector<uint32_t> kept;
  for (py::handle point : state["kept_at_rest"]) {
    kept.push_back(point.cast<uint32_t>());
    if (kept.back() >= input.target.points.size() || input.setupWeights.empty() ||
        input.setupWeights[kept.back()] != 0.0f)
      throw py::value_error("kept_at_rest: point " + std::to_string(kept.back()) + " is not left out by setup_weights");
  }

  PrivateFolder folder;
  FilePath file = OwnPath(folder.file("weights.cw"));
  file.shown = "pickled Binding";  // what the messages of a refused file name
  {
    std::ofstream out(file.bytes, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) RaiseOSError(EIO, "the weights file could not be written for loading", file);
  }
  std::unique_ptr<Binding> binding = load(file, std::move(input));
  binding->keptAtRest_ = std::move(kept);
  return binding;
}

}  // namespace python
