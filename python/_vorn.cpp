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

template <typename T>
py::array_t<T> column(size_t n) {
  return py::array_t<T>(static_cast<py::ssize_t>(n));
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

// The table's columns: numbers as numpy arrays (NaN for an empty field, and
// a mask for resnum), letters as lists of str.
py::dict table_of(const vorn::Results& r) {
  const size_t n = r.rows.size();
  const bool extended = r.record.nsuffl > 0;
  auto nr = column<int32_t>(n), pdbn = column<int32_t>(n), acc = column<int32_t>(n), var = column<int32_t>(n);
  auto resnum = column<int32_t>(n);
  auto has_resnum = column<bool>(n);
  auto entrop = column<double>(n), score = column<double>(n);
  auto zp = column<double>(n), pp = column<double>(n), zg = column<double>(n), pg = column<double>(n);
  auto p1 = column<double>(n), q = column<double>(n);
  auto zt = column<double>(n), pt = column<double>(n), qt = column<double>(n);
  auto mt = column<int64_t>(n);
  auto has_m = column<bool>(n);
  py::list aa, chain, secstr;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (size_t i = 0; i < n; ++i) {
    const vorn::TableRow t = vorn::table_row(r, i);
    nr.mutable_at(i) = t.nr, pdbn.mutable_at(i) = t.pdbn, acc.mutable_at(i) = t.acc, var.mutable_at(i) = t.var;
    entrop.mutable_at(i) = t.entrop, score.mutable_at(i) = t.score;
    resnum.mutable_at(i) = t.resnum.value_or(0), has_resnum.mutable_at(i) = t.resnum.has_value();
    zp.mutable_at(i) = t.z_pos.value_or(nan), pp.mutable_at(i) = t.p_pos;
    zg.mutable_at(i) = t.z_glob.value_or(nan), pg.mutable_at(i) = t.p_glob;
    p1.mutable_at(i) = t.p1.value_or(nan), q.mutable_at(i) = t.q.value_or(nan);
    zt.mutable_at(i) = t.z_tree.value_or(nan), pt.mutable_at(i) = t.p_tree.value_or(nan);
    qt.mutable_at(i) = t.q_tree.value_or(nan);
    mt.mutable_at(i) = t.m_tree.value_or(0), has_m.mutable_at(i) = t.m_tree.has_value();
    aa.append(std::string(1, t.aa)), chain.append(t.chain), secstr.append(std::string(1, t.secstr));
  }
  py::dict d;
  py::list names;
  for (const char* c : vorn::table_columns(r.record)) names.append(c);
  d["columns"] = names;
  d["nr"] = nr, d["aa"] = aa, d["pdbn"] = pdbn, d["chain"] = chain, d["acc"] = acc, d["entrop"] = entrop;
  d["secstr"] = secstr, d["var"] = var, d["KLB_VAL"] = score, d["resnum"] = resnum, d["has_resnum"] = has_resnum;
  if (extended) d["Zscr_pos"] = zp, d["Pval_pos"] = pp, d["Zscr_glob"] = zg, d["Pval_glob"] = pg;
  if (extended) d["Pval_pos_p1"] = p1, d["qval_pos"] = q;
  if (r.record.ntree > 0) d["Zscr_tree"] = zt, d["Pval_tree"] = pt, d["qval_tree"] = qt, d["m"] = mt, d["has_m"] = has_m;
  return d;
}

}  // namespace

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
