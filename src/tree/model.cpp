#include "tree/model.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "fail.hpp"
#include "input/residue.hpp"

namespace vorn {

// PAML's model files, compiled in (model_data.cpp.in).
extern const char kModelLg[];
extern const char kModelWag[];
extern const char kModelJtt[];

namespace {

// PAML's order of the residues.
constexpr const char* kPamlOrder = "ARNDCQEGHILKMFPSTWYV";

// The exchangeabilities s (symmetric, in vorn's state order) of a PAML
// file: its first 190 numbers are the lower triangle, row by row.
StateMatrix exchangeabilities(const char* text) {
  double v[190];
  int got = 0;
  for (const char* at = text; *at && got < 190;) {
    char* end = nullptr;
    const double x = std::strtod(at, &end);
    if (end == at) {
      ++at;
      continue;
    }
    v[got++] = x;
    at = end;
  }
  if (got < 190) fail("** Internal error: a compiled-in replacement model holds %d of its 190 rates.\n", got);
  int state[kStates];  // PAML index -> vorn state
  for (int a = 0; a < kStates; ++a) state[a] = aa_index(static_cast<unsigned char>(kPamlOrder[a])) - 1;
  StateMatrix s{};
  for (int i = 1, k = 0; i < kStates; ++i)
    for (int j = 0; j < i; ++j, ++k) s[state[i] * kStates + state[j]] = s[state[j] * kStates + state[i]] = v[k];
  return s;
}

// Eigenvalues and vectors of a symmetric matrix, by Jacobi rotations: a
// becomes diagonal, v holds the eigenvectors as columns.
void jacobi(StateMatrix& a, StateMatrix& v) {
  v.fill(0);
  for (int i = 0; i < kStates; ++i) v[i * kStates + i] = 1;
  for (int sweep = 0; sweep < 100; ++sweep) {
    double off = 0;
    for (int i = 0; i < kStates; ++i)
      for (int j = i + 1; j < kStates; ++j) off += a[i * kStates + j] * a[i * kStates + j];
    if (off < 1e-30) return;
    for (int p = 0; p < kStates; ++p)
      for (int q = p + 1; q < kStates; ++q) {
        const double apq = a[p * kStates + q];
        if (std::fabs(apq) < 1e-300) continue;
        const double theta = (a[q * kStates + q] - a[p * kStates + p]) / (2 * apq);
        const double t = (theta >= 0 ? 1 : -1) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
        const double c = 1 / std::sqrt(t * t + 1), s = t * c;
        for (int k = 0; k < kStates; ++k) {  // columns p and q
          const double akp = a[k * kStates + p], akq = a[k * kStates + q];
          a[k * kStates + p] = c * akp - s * akq;
          a[k * kStates + q] = s * akp + c * akq;
        }
        for (int k = 0; k < kStates; ++k) {  // rows p and q
          const double apk = a[p * kStates + k], aqk = a[q * kStates + k];
          a[p * kStates + k] = c * apk - s * aqk;
          a[q * kStates + k] = s * apk + c * aqk;
        }
        for (int k = 0; k < kStates; ++k) {
          const double vkp = v[k * kStates + p], vkq = v[k * kStates + q];
          v[k * kStates + p] = c * vkp - s * vkq;
          v[k * kStates + q] = s * vkp + c * vkq;
        }
      }
  }
}

}  // namespace

bool model_by_name(const std::string& name, ModelKind& kind) {
  std::string n;
  for (char c : name) n += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (n == "lg") return kind = ModelKind::Lg, true;
  if (n == "wag") return kind = ModelKind::Wag, true;
  if (n == "jtt" || n == "jones") return kind = ModelKind::Jtt, true;
  if (n == "equal" || n == "equal-input" || n == "f81") return kind = ModelKind::EqualInput, true;
  return false;
}

const char* model_name(ModelKind kind) {
  switch (kind) {
    case ModelKind::Lg: return "LG+F";
    case ModelKind::Wag: return "WAG+F";
    case ModelKind::Jtt: return "JTT+F";
    default: return "equal-input";
  }
}

AaModel make_model(ModelKind kind, const double* freq) {
  AaModel m;
  m.kind = kind;
  // Every state reachable: an unseen residue keeps a small share.
  double total = 0;
  for (int i = 0; i < kStates; ++i) total += m.pi[i] = std::max(freq[i + 1], 1e-4);
  for (double& p : m.pi) p /= total;
  StateMatrix s;
  if (kind == ModelKind::EqualInput) {
    s.fill(1.0);
  } else {
    s = exchangeabilities(kind == ModelKind::Lg ? kModelLg : kind == ModelKind::Wag ? kModelWag : kModelJtt);
  }
  double rate = 0;
  for (int i = 0; i < kStates; ++i) {
    double row = 0;
    for (int j = 0; j < kStates; ++j)
      if (j != i) row += m.q[i * kStates + j] = s[i * kStates + j] * m.pi[j];
    m.q[i * kStates + i] = -row;
    rate += m.pi[i] * row;
  }
  for (double& x : m.q) x /= rate;  // one expected substitution per unit of time
  // The symmetric form pi^1/2 Q pi^-1/2 has the same eigenvalues.
  StateMatrix a, v;
  for (int i = 0; i < kStates; ++i)
    for (int j = 0; j < kStates; ++j)
      a[i * kStates + j] = std::sqrt(m.pi[i]) * m.q[i * kStates + j] / std::sqrt(m.pi[j]);
  for (int i = 0; i < kStates; ++i)
    for (int j = i + 1; j < kStates; ++j)  // exactly symmetric
      a[i * kStates + j] = a[j * kStates + i] = 0.5 * (a[i * kStates + j] + a[j * kStates + i]);
  jacobi(a, v);
  for (int k = 0; k < kStates; ++k) m.lambda[k] = a[k * kStates + k];
  for (int i = 0; i < kStates; ++i)
    for (int k = 0; k < kStates; ++k) {
      m.right[i * kStates + k] = v[i * kStates + k] / std::sqrt(m.pi[i]);
      m.left[k * kStates + i] = v[i * kStates + k] * std::sqrt(m.pi[i]);
    }
  for (int i = 0; i < kStates; ++i) m.mu = std::max(m.mu, -m.q[i * kStates + i]);
  for (int i = 0; i < kStates; ++i) {
    double cum = 0;
    for (int j = 0; j < kStates; ++j) {
      cum += (i == j ? 1.0 : 0.0) + m.q[i * kStates + j] / m.mu;
      m.jump_cum[i * kStates + j] = cum;
    }
    m.jump_cum[i * kStates + kStates - 1] = 1.0;
  }
  return m;
}

void transition(const AaModel& m, double t, StateMatrix& p) {
  double e[kStates];
  for (int k = 0; k < kStates; ++k) e[k] = std::exp(m.lambda[k] * t);
  for (int i = 0; i < kStates; ++i)
    for (int j = 0; j < kStates; ++j) {
      double x = 0;
      for (int k = 0; k < kStates; ++k) x += m.right[i * kStates + k] * e[k] * m.left[k * kStates + j];
      p[i * kStates + j] = x > 0 ? x : 0;  // rounding can leave -1e-17
    }
}

}  // namespace vorn
