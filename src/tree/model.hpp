// The amino-acid replacement process the tree null evolves its library
// under: an empirical model (LG, WAG or JTT, as PAML's model files give
// them) with the alignment's own residue frequencies (+F), or the
// equal-input process. States are vorn's residue codes 1..20 (index 0..19).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vorn {

enum class ModelKind { Lg, Wag, Jtt, EqualInput };
// The model a name chooses (lg, wag, jtt, equal; any case); false for none.
bool model_by_name(const std::string& name, ModelKind& kind);
const char* model_name(ModelKind kind);

inline constexpr int kStates = 20;
using StateMatrix = std::array<double, kStates * kStates>;

struct AaModel {
  ModelKind kind = ModelKind::Lg;
  std::array<double, kStates> pi{};  // stationary frequencies
  StateMatrix q{};                   // rates, one expected substitution per unit of time
  // Q = R diag(lambda) L with L = R^-1, from the symmetric form's eigenvectors.
  std::array<double, kStates> lambda{};
  StateMatrix right{}, left{};
  // The uniformised chain for simulation: events at rate mu, each a step of
  // the jump matrix I + Q / mu (rows as running sums).
  double mu = 0;
  StateMatrix jump_cum{};
};

// The model with the residue frequencies freq[1..20] (vorn's codes, summing
// to 1; residues never seen get a small share, so that every state is reachable).
AaModel make_model(ModelKind kind, const double* freq);

// P(t): the probabilities of state j after time t from state i, p[i * 20 + j].
void transition(const AaModel& m, double t, StateMatrix& p);

}  // namespace vorn
