// The Python face of vorn: conversions only. The Python layer (vorn/__init__.py)
// turns its arguments into settings and inputs; this file hands them to the
// library's run and turns its results into numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>
#include <optional>

#include "fail.hpp"
#include "isa.hpp"
#include "report/exports.hpp"
#include "run.hpp"

namespace py = pybind11;

namespace {

PyObject* g_error = nullptr;  // vorn.Error, a ValueError

// The keyword arguments, already converted by vorn/__init__.py into the
// settings' own types; the checks are the library's (validate).
vorn::RunSettings settings_from(const py::dict& d) {
  vorn::RunSettings s;
  auto text = [&](const char* key) { return d[key].cast<std::string>(); };
  auto optional = [&](const char* key) { return d.contains(key) && !d[key].is_none(); };
  s.aln_path = text("alignment");
  s.matrix_path = text("matrix");
  s.score = text("method") == "pearson" ? vorn::Score::Pearson : vorn::Score::Spearman;
  s.entropy = d["entropy"].cast<bool>();
  s.nsuffl = d["permutations"].cast<int64_t>();
  s.ntree = d["tree"].cast<int64_t>();
  if (optional("seed")) s.seed = d["seed"].cast<int64_t>();
  if (optional("threads")) s.threads = d["threads"].cast<int64_t>();
  if (optional("similarity")) s.simfile = text("similarity");
  if (optional("similarities")) {
    const auto a = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(d["similarities"]);
    vorn::RunSettings::Similarities g;
    for (py::ssize_t k = 0; k < a.ndim(); ++k) g.shape.push_back(a.shape(k));
    g.values.assign(a.data(), a.data() + a.size());
    s.similarities = std::move(g);
  }
  s.weighted = d["weighted"].cast<bool>();
  if (optional("weight_file")) s.weight_file = text("weight_file");
  if (optional("reference")) s.reference = text("reference");
  for (const auto& [name, bytes] : d["given"].cast<py::dict>())
    s.given[name.cast<std::string>()] = bytes.cast<std::string>();
  s.share_dirs = d["share_dirs"].cast<std::vector<std::string>>();
  vorn::validate(s);
  return s;
}

py::dict record_of(const vorn::RunRecord& r) {
  py::dict d;
  d["version"] = r.version;
  d["alignment"] = r.aln_name;
  d["form"] = r.form;
  d["proteins"] = r.nprot;
  d["positions"] = r.alnlen;
  d["score"] = vorn::score_name(r);
  d["permutations"] = r.nsuffl;
  d["tree_columns"] = r.ntree;
  d["seed"] = r.has_seed ? py::object(py::int_(r.seed)) : py::object(py::none());
  d["seed_source"] = r.has_seed ? py::object(py::str(r.seed_from)) : py::object(py::none());
  d["reference"] = r.reference;
  d["weights"] = r.weights.empty() ? py::object(py::none()) : py::object(py::str(r.weights));
  d["warnings"] = r.warnings;
  d["command"] = r.command;
  return d;
}

// The table's columns, in the schema's order: (name, values, missing) with
// numbers as numpy arrays (whole numbers int32, or int64 where a field may be
// empty, the others float64 with NaN for an empty field) and text as a list
// of str; missing marks the empty fields of whole numbers (None: none can be).
py::list table_of(const vorn::Results& r) {
  const std::vector<const vorn::TableColumn*> columns = vorn::table_columns(r.record);
  const size_t n = r.rows.size();
  std::vector<vorn::TableRow> rows;
  for (size_t i = 0; i < n; ++i) rows.push_back(vorn::table_row(r, i));
  py::list out;
  for (const vorn::TableColumn* c : columns) {
    py::array_t<bool> missing(static_cast<py::ssize_t>(n));
    py::object values;
    if (c->format == vorn::ColumnFormat::Text) {
      py::list text;
      for (size_t i = 0; i < n; ++i) text.append(c->value(rows[i]).text);
      values = text;
    } else if (c->format == vorn::ColumnFormat::Int) {
      // int32 where every field has a number (as the frame always had), int64 with a mask where one may be empty.
      py::array_t<int64_t> v(static_cast<py::ssize_t>(n));
      for (size_t i = 0; i < n; ++i) {
        const vorn::Field f = c->value(rows[i]);
        v.mutable_at(i) = f.empty ? 0 : static_cast<int64_t>(f.number);
        missing.mutable_at(i) = f.empty;
      }
      values = c->may_be_empty ? py::object(v) : v.attr("astype")("int32");
    } else {
      py::array_t<double> v(static_cast<py::ssize_t>(n));
      for (size_t i = 0; i < n; ++i) {
        const vorn::Field f = c->value(rows[i]);
        v.mutable_at(i) = f.empty ? std::numeric_limits<double>::quiet_NaN() : f.number;
      }
      values = v;
    }
    const bool nullable_int = c->format == vorn::ColumnFormat::Int && c->may_be_empty;
    out.append(py::make_tuple(c->name, values, nullable_int ? py::object(missing) : py::object(py::none())));
  }
  return out;
}

}  // namespace

// The bindings, one after another.
PYBIND11_MODULE(_vorn, m) {
  m.doc() = "vorn's native core; use the vorn package.";
  m.attr("__version__") = vorn::kVersion;
  m.attr("kernels") = vorn::isa_name(vorn::active_isa());
  g_error = PyErr_NewException("vorn.Error", PyExc_ValueError, nullptr);
  m.attr("Error") = py::handle(g_error);
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const vorn::Failure& f) {
      std::string text = f.message;
      while (!text.empty() && (text.back() == '\n' || text.front() == '\n'))
        text.erase(text.back() == '\n' ? text.size() - 1 : 0, 1);
      PyErr_SetString(g_error, text.c_str());
    }
  });

  py::class_<vorn::BackgroundRun>(m, "Run")
      .def(py::init([](const py::dict& d, const std::string& kind) {
        return std::make_unique<vorn::BackgroundRun>(
            settings_from(d), kind == "similarity" ? vorn::BackgroundRun::Kind::Similarity
                                                   : vorn::BackgroundRun::Kind::Scores);
      }))
      .def("wait", &vorn::BackgroundRun::wait, py::call_guard<py::gil_scoped_release>())
      .def("stop", &vorn::BackgroundRun::stop)
      .def("meter",
           [](const vorn::BackgroundRun& b) {
             const vorn::Log::Meter mt = b.meter();
             return py::make_tuple(mt.stage, mt.done, mt.total);
           })
      .def("scores",
           [](vorn::BackgroundRun& b) {
             vorn::Results r;
             {
               py::gil_scoped_release unlocked;
               r = b.take();
             }
             return py::make_tuple(table_of(r), record_of(r.record));
           })
      .def("similarity", [](vorn::BackgroundRun& b) {
        vorn::Results r;
        {
          py::gil_scoped_release unlocked;
          r = b.take();
        }
        const auto n = static_cast<py::ssize_t>(r.record.nprot);
        py::array_t<float> a({n, n});
        std::memcpy(a.mutable_data(), r.similarity.data(), r.similarity.size() * sizeof(float));
        return py::make_tuple(a, record_of(r.record));
      });

  m.def("read_alignment", [](const py::dict& d) {
    const vorn::RunSettings s = settings_from(d);
    vorn::AlignmentRead a;
    {
      py::gil_scoped_release unlocked;
      vorn::Log quiet(nullptr);
      a = vorn::read_alignment(s, quiet);
    }
    return py::make_tuple(a.names, a.rows, a.form);
  });
}
