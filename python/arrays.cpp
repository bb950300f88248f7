#include "python/arrays.h"
#include "ostrand/settings.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace python {
namespace {

py::module_ NumPy() { return py::module_::import("numpy"); }

// The value as an ndarray, or a ValueError saying why it is none.
py::array AsArray(py::handle value, const std::string& name) {
  if (value.is_none()) throw py::value_error(name + ": an array is needed, not None");
  if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value))
    throw py::value_error(name + ": an array is needed, not a string");
  try {
    return NumPy().attr("asarray")(value);
  } catch (py::error_already_set& e) {
    throw py::value_error(name + ": not an array of numbers (" + std::string(e.what()) + ")");
  }
}

std::string Kind(const py::array& array) { return py::str(array.dtype().attr("kind")); }

std::string ShapeText(const py::array& array) {
  std::string text = "(";
  for (py::ssize_t d = 0; d < array.ndim(); ++d) text += (d ? ", " : "") + std::to_string(array.shape(d));
  return text + (array.ndim() == 1 ? ",)" : ")");
}

PointArray RealArray(const py::array& array, const std::string& name) {
  const std::string kind = Kind(array);
  if (kind != "f" && kind != "i" && kind != "u")
    throw py::value_error(name + ": real numbers are needed, not dtype " + std::string(py::str(array.dtype())));
  return NumPy().attr("ascontiguousarray")(array, py::arg("dtype") = "float64").cast<PointArray>();
}

void CheckFinite(const PointArray& array, const std::string& name, size_t rowLength) {
  const double* data = array.data();
  const auto size = static_cast<size_t>(array.size());
  for (size_t i = 0; i < size; ++i)
    if (!std::isfinite(data[i]))
      throw py::value_error(name + ": row " + std::to_string(i / rowLength) + " holds " +
                            (std::isnan(data[i]) ? "NaN" : "an infinity"));
}

std::string PointsThere(size_t pointCount) { return ", but there are " + std::to_string(pointCount) + " points"; }

// Point numbers as given, in int64 so that the range check names any of them
// as it was; an unsigned one beyond int64 is out of range anyway, and named here.
std::vector<int64_t> Indices(py::handle value, const std::string& name, size_t pointCount) {
  py::array array = AsArray(value, name);
  if (array.ndim() != 1) throw py::value_error(name + ": one row of point numbers is needed, not shape " + ShapeText(array));
  if (array.size() == 0) return {};
  const std::string kind = Kind(array);
  if (kind != "i" && kind != "u") {
    // A Python integer beyond 64 bits turns NumPy's choice to objects or floats.
    if (!py::isinstance<py::array>(value) && (kind == "O" || kind == "f")) {
      for (py::handle item : value) {
        if (!PyLong_Check(item.ptr())) continue;
        int overflow = 0;
        PyLong_AsLongLongAndOverflow(item.ptr(), &overflow);
        if (overflow != 0)
          throw py::value_error(name + ": refers to point " + (overflow < 0 ? "below 0" : std::string(py::str(item))) +
                                PointsThere(pointCount));
      }
    }
    throw py::value_error(name + ": point numbers are integers, not dtype " + std::string(py::str(array.dtype())));
  }
  std::vector<int64_t> indices(static_cast<size_t>(array.size()));
  if (kind == "u") {
    auto wide = NumPy().attr("ascontiguousarray")(array, py::arg("dtype") = "uint64").cast<py::array_t<uint64_t>>();
    for (size_t i = 0; i < indices.size(); ++i) {
      const uint64_t v = wide.data()[i];
      if (v > static_cast<uint64_t>(INT64_MAX))
        throw py::value_error(name + ": refers to point " + std::to_string(v) + PointsThere(pointCount));
      indices[i] = static_cast<int64_t>(v);
    }
  } else {
    auto wide = NumPy().attr("ascontiguousarray")(array, py::arg("dtype") = "int64").cast<py::array_t<int64_t>>();
    std::copy(wide.data(), wide.data() + wide.size(), indices.begin());
  }
  return indices;
}

// The face checked, in the host's point numbers.
std::vector<int32_t> CheckedFace(const std::vector<int64_t>& face, size_t number, const std::string& name,
                                 size_t pointCount) {
  if (face.size() < 3)
    throw py::value_error(name + ": face " + std::to_string(number) + " has " + std::to_string(face.size()) +
                          " corners; a face needs at least 3");
  // No cage that fits in memory has more points than int32 numbers.
  const auto limit = static_cast<int64_t>(std::min<size_t>(pointCount, INT32_MAX));
  std::vector<int32_t> corners(face.size());
  for (size_t c = 0; c < face.size(); ++c) {
    if (face[c] < 0 || face[c] >= limit)
      throw py::value_error(name + ": face " + std::to_string(number) + " refers to point " +
                            (face[c] < 0 ? std::string("below 0") : std::to_string(face[c])) + PointsThere(pointCount));
    corners[c] = static_cast<int32_t>(face[c]);
  }
  return corners;
}

bool IsIntegerVector(py::handle value) {
  if (!py::isinstance<py::array>(value)) return false;
  py::array array = py::reinterpret_borrow<py::array>(value);
  const std::string kind = Kind(array);
  return array.ndim() == 1 && (kind == "i" || kind == "u");
}

}  // namespace

PointArray Points(py::handle value, const std::string& name, size_t count) {
  py::array array = AsArray(value, name);
  if (array.ndim() != 2 || array.shape(1) != 3)
    throw py::value_error(name + ": an (n, 3) array is needed, not shape " + ShapeText(array));
  if (array.shape(0) == 0) throw py::value_error(name + ": no points");
  if (count != 0 && static_cast<size_t>(array.shape(0)) != count)
    throw py::value_error(name + ": " + std::to_string(array.shape(0)) + " points, but " + std::to_string(count) +
                          " are needed");
  PointArray points = RealArray(array, name);
  CheckFinite(points, name, 3);
  return points;
}

PointArray Poses(py::handle value, const std::string& name, size_t count, bool& many) {
  py::array array = AsArray(value, name);
  many = array.ndim() == 3;
  const py::ssize_t rows = array.ndim() == 2 ? array.shape(0) : array.ndim() == 3 ? array.shape(1) : -1;
  if (rows < 0 || array.shape(array.ndim() - 1) != 3)
    throw py::value_error(name + ": an (n, 3) or (frames, n, 3) array is needed, not shape " + ShapeText(array));
  if (static_cast<size_t>(rows) != count)
    throw py::value_error(name + ": " + std::to_string(rows) + " cage points, but the cage has " +
                          std::to_string(count));
  PointArray points = RealArray(array, name);
  CheckFinite(points, name, 3);
  return points;
}

PointArray PerPointArray(py::handle value, const std::string& name, size_t count) {
  py::array array = AsArray(value, name);
  if (array.ndim() != 1 || static_cast<size_t>(array.shape(0)) != count)
    throw py::value_error(name + ": one value per target point is needed (" + std::to_string(count) +
                          "), not shape " + ShapeText(array));
  return RealArray(array, name);
}

bool StoreSinglePrecision(const PointArray& values, const std::string& name, std::vector<float>& held) {
  const auto count = static_cast<size_t>(values.size());
  bool changed = held.size() != count;
  if (changed) held.assign(count, 0.0f);
  for (size_t i = 0; i < count; ++i) {
    const double v = values.data()[i];
    if (!(std::fabs(v) <= 3.4028234663852886e38)) {
      held.clear();
      CheckFinite(values, name, 1);  // names a NaN or an infinity as in points
      throw py::value_error(name + ": value " + std::to_string(i) + " is beyond single precision");
    }
    const auto single = static_cast<float>(v);
    // Bit for bit, so that a NaN or -0 in place of 0 counts as a change.
    if (std::memcmp(&single, &held[i], sizeof single) != 0) {
      held[i] = single;
      changed = true;
    }
  }
  return changed;
}

std::vector<float> PerPointValues(py::handle value, const std::string& name, size_t count) {
  std::vector<float> out;
  StoreSinglePrecision(PerPointArray(value, name, count), name, out);
  return out;
}

std::vector<std::vector<int32_t>> Faces(py::handle value, const std::string& name, size_t pointCount) {
  std::vector<std::vector<int64_t>> faces;
  if (py::isinstance<py::tuple>(value) && py::len(value) == 2 && IsIntegerVector(value[py::int_(0)]) &&
      IsIntegerVector(value[py::int_(1)])) {
    // (indices, counts)
    const std::vector<int64_t> indices = Indices(value[py::int_(0)], name + " indices", pointCount);
    py::array counts = NumPy().attr("ascontiguousarray")(value[py::int_(1)], py::arg("dtype") = "int64");
    const auto* count = static_cast<const int64_t*>(counts.data());
    size_t start = 0;
    for (py::ssize_t f = 0; f < counts.size(); ++f) {
      if (count[f] < 0 || static_cast<uint64_t>(count[f]) > indices.size() - start)
        throw py::value_error(name + ": the counts add up to more than the " + std::to_string(indices.size()) +
                              " indices");
      faces.emplace_back(indices.begin() + static_cast<std::ptrdiff_t>(start),
                         indices.begin() + static_cast<std::ptrdiff_t>(start + count[f]));
      start += static_cast<size_t>(count[f]);
    }
    if (start != indices.size())
      throw py::value_error(name + ": the counts add up to " + std::to_string(start) + ", not the " +
                            std::to_string(indices.size()) + " indices");
  } else if (py::isinstance<py::array>(value) && py::reinterpret_borrow<py::array>(value).ndim() == 2) {
    py::array rows = py::reinterpret_borrow<py::array>(value);
    for (py::ssize_t f = 0; f < rows.shape(0); ++f) faces.push_back(Indices(rows[py::int_(f)], name, pointCount));
  } else {
    if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) || !py::isinstance<py::iterable>(value))
      throw py::value_error(name + ": a sequence of faces is needed");
    for (py::handle face : value)
      faces.push_back(Indices(face, name + " face " + std::to_string(faces.size()), pointCount));
  }
  if (faces.empty()) throw py::value_error(name + ": no faces");
  std::vector<std::vector<int32_t>> checked(faces.size());
  for (size_t f = 0; f < faces.size(); ++f) checked[f] = CheckedFace(faces[f], f, name, pointCount);
  return checked;
}

std::vector<Vec3> ToPoints(const PointArray& points) {
  std::vector<Vec3> out(static_cast<size_t>(points.shape(0)));
  std::memcpy(out.data(), points.data(), out.size() * sizeof(Vec3));
  return out;
}

void CheckWithin(const std::string& name, int value, int least, int most) {
  if (value < least || value > most)
    throw py::value_error(name + ": " + std::to_string(value) + " is not from " + std::to_string(least) + " to " +
                          std::to_string(most));
}

void CheckThreads(std::optional<int> threads) {
  if (threads) CheckWithin("threads", *threads, ostrand::kLeastThreads, ostrand::kMostThreads);
}

}  // namespace python
