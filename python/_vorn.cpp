// The Python face of vorn: conversions only. The Python layer (vorn/__init__.py)
// turns its arguments into settings and inputs; this file hands them to the
// library's run and turns its results into numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <optional>

#include "fail.hpp"
#include "input/installed.hpp"
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
  if (optional("tree_model")) s.tree_model = text("tree_model");
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
  if (optional("structure")) s.structure = text("structure");
  if (optional("report")) s.outprefix = text("report");
  s.keep_report = true;  // for write_report
  s.colours = text("colours");
  for (const auto& [name, bytes] : d["given"].cast<py::dict>())
    s.given[name.cast<std::string>()] = bytes.cast<std::string>();
  s.share_dirs = d["share_dirs"].cast<std::vector<std::string>>();
  vorn::validate(s);
  return s;
}

// Text of the run as Python str: bytes that are not UTF-8 (a file name in
// another encoding) stand as surrogates, as os.fsdecode gives them.
py::str text_of(const std::string& s) {
  PyObject* o = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "surrogateescape");
  if (!o) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(o);
}
py::list texts_of(const std::vector<std::string>& v) {
  py::list l;
  for (const std::string& s : v) l.append(text_of(s));
  return l;
}

py::dict record_of(const vorn::RunRecord& r) {
  py::dict d;
  d["version"] = r.version;
  d["alignment"] = text_of(r.aln_name);
  d["form"] = r.form;
  d["proteins"] = r.nprot;
  d["positions"] = r.alnlen;
  d["score"] = vorn::score_name(r);
  d["permutations"] = r.nsuffl;
  d["tree_columns"] = r.ntree;
  d["seed"] = r.has_seed ? py::object(py::int_(r.seed)) : py::object(py::none());
  d["seed_source"] = r.has_seed ? py::object(py::str(r.seed_from)) : py::object(py::none());
  d["reference"] = text_of(r.reference);
  d["weights"] = r.weights.empty() ? py::object(py::none()) : py::object(text_of(r.weights));
  d["warnings"] = texts_of(r.warnings);
  if (r.ntree > 0) {
    py::dict t;
    t["model"] = r.tree_fit.model, t["tree_length"] = r.tree_fit.length, t["gamma_shape"] = r.tree_fit.alpha;
    t["library_columns"] = r.tree_fit.library, t["rounds"] = r.tree_fit.rounds;
    t["median_zscr_tree"] = r.tree_fit.median_z;
    d["tree_null"] = t;
  }
  d["command"] = texts_of(r.command);
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

// The results of a scores run, kept beside its frame for write_report.
struct KeptResults {
  std::shared_ptr<const vorn::Results> results;
};

// A run of the module's: known to the exit handler while it lives.
struct PyRun;
std::mutex g_live_mutex;
std::set<PyRun*> g_live;
struct PyRun {
  std::unique_ptr<vorn::BackgroundRun> run;
  std::atomic<bool> stopped_at_exit{false};
  PyRun(vorn::RunSettings settings, vorn::BackgroundRun::Kind kind)
      : run(std::make_unique<vorn::BackgroundRun>(std::move(settings), kind)) {
    std::lock_guard<std::mutex> lock(g_live_mutex);
    g_live.insert(this);
  }
  ~PyRun() {
    std::lock_guard<std::mutex> lock(g_live_mutex);
    g_live.erase(this);
  }
};

// body() with the interpreter free. The lock is taken back in plain code, not
// in a destructor: at the interpreter's end a thread that asks for it is
// ended there, by an unwinding that no destructor may stand in.
template <class Body>
auto without_gil(Body body) {
  PyThreadState* saved = PyEval_SaveThread();
  std::optional<decltype(body())> result;
  std::exception_ptr error;
  try {
    result.emplace(body());
  } catch (...) {
    error = std::current_exception();
  }
  PyEval_RestoreThread(saved);
  if (error) std::rethrow_exception(error);
  return std::move(*result);
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
      // A message may quote bytes that are not UTF-8 (a name from the file).
      PyObject* message = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
      PyErr_SetObject(g_error, message);
      Py_XDECREF(message);
    }
  });

  py::class_<PyRun>(m, "Run")
      .def(py::init([](const py::dict& d, const std::string& kind) {
        return std::make_unique<PyRun>(settings_from(d), kind == "similarity" ? vorn::BackgroundRun::Kind::Similarity
                                                                               : vorn::BackgroundRun::Kind::Scores);
      }))
      .def("wait", [](PyRun& r, double seconds) { return without_gil([&] { return r.run->wait(seconds); }); })
      .def("stop", [](PyRun& r) { r.run->stop(); })
      .def("stopped_at_exit", [](const PyRun& r) { return r.stopped_at_exit.load(); })
      .def("meter",
           [](const PyRun& r) {
             const vorn::Log::Meter mt = r.run->meter();
             return py::make_tuple(mt.stage, mt.done, mt.total);
           })
      .def("scores",
           [](PyRun& r) {
             auto res = std::make_shared<const vorn::Results>(without_gil([&] { return r.run->take(); }));
             return py::make_tuple(table_of(*res), record_of(res->record), KeptResults{res});
           })
      .def("similarity", [](PyRun& r) {
        const vorn::Results res = without_gil([&] { return r.run->take(); });
        const auto n = static_cast<py::ssize_t>(res.record.nprot);
        py::array_t<float> a({n, n});
        std::memcpy(a.mutable_data(), res.similarity.data(), res.similarity.size() * sizeof(float));
        return py::make_tuple(a, record_of(res.record));
      });
  // At the interpreter's exit every run still going is stopped and waited for,
  // so that no thread of vorn's runs while the process ends.
  py::module_::import("atexit").attr("register")(py::cpp_function([] {
    std::vector<PyRun*> live;
    {
      std::lock_guard<std::mutex> lock(g_live_mutex);
      live.assign(g_live.begin(), g_live.end());
    }
    for (PyRun* r : live) r->stopped_at_exit = true, r->run->stop();
    without_gil([&] {
      for (PyRun* r : live) r->run->wait(1e9);
      return 0;
    });
  }));

  py::class_<KeptResults>(m, "Results");
  // The export files of the kept results; returns the warnings of writing them.
  m.def("write_report", [](const KeptResults& k, const std::string& prefix) {
    vorn::Log log(nullptr);
    without_gil([&] {
      vorn::write_report(*k.results, prefix, log);
      return 0;
    });
    return texts_of(log.warnings());
  });

  // The shipped matrices where a run looks for them (VORN_SHARE, else the package's folders).
  m.def("matrices", [](const std::vector<std::string>& dirs) { return vorn::shipped_matrices(vorn::share_dirs(dirs)); });

  m.def("read_alignment", [](const py::dict& d) {
    const vorn::RunSettings s = settings_from(d);
    const vorn::AlignmentRead a = without_gil([&] {
      vorn::Log quiet(nullptr);
      return vorn::read_alignment(s, quiet);
    });
    return py::make_tuple(texts_of(a.names), a.rows, a.form);
  });
}
