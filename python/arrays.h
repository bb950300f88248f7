// NumPy arrays in, checked: the shapes, element types and values the plug-in
// can take, each refusal a ValueError naming the argument. Any real element
// type is taken (converted to float64 when it is not); integers only for
// faces.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"

namespace python {

namespace py = pybind11;
using PointArray = py::array_t<double, py::array::c_style>;

static_assert(sizeof(Vec3) == 3 * sizeof(double), "a point is three doubles, as a row of an (n, 3) array");

// A whole-number setting within its bounds (ostrand/settings.h); a ValueError
// naming the argument when it is not: "threads: 0 is not from 1 to 128".
void CheckWithin(const std::string& name, int value, int least, int most);
// The worker threads an argument asks for, when it asks.
void CheckThreads(std::optional<int> threads);

// An (n, 3) array of finite numbers with n >= 1 (exactly count rows when
// count is not 0).
PointArray Points(py::handle value, const std::string& name, size_t count = 0);

// One pose (count, 3) or many (frames, count, 3); frames may be 0. many tells which.
PointArray Poses(py::handle value, const std::string& name, size_t count, bool& many);

// count finite values, one per point, as single precision holds them (the
// host's weight maps are single precision).
std::vector<float> PerPointValues(py::handle value, const std::string& name, size_t count);
// The same in two steps: the array (shape and element type checked), then
// its values checked and stored into held, which is reused call after call;
// the second step needs no interpreter lock and says whether held changed.
// On a refusal held is left empty.
PointArray PerPointArray(py::handle value, const std::string& name, size_t count);
bool StoreSinglePrecision(const PointArray& values, const std::string& name, std::vector<float>& held);

// Faces as a sequence of index sequences, an (m, k) integer array, or a
// tuple (indices, counts) of two one-dimensional integer arrays: at least
// one face, each of at least three corners, each corner a point number below
// pointCount.
std::vector<std::vector<int32_t>> Faces(py::handle value, const std::string& name, size_t pointCount);

// The points of a checked array.
std::vector<Vec3> ToPoints(const PointArray& points);

}  // namespace python
