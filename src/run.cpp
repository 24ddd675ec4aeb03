#include "run.hpp"

#include <omp.h>

#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include <unistd.h>

#include "fail.hpp"
#include "input/alignment.hpp"
#include "input/matrix.hpp"
#include "input/residue.hpp"
#include "input/simfile.hpp"
#include "report/exports.hpp"
#include "shuffle/final_report.hpp"
#include "input/installed.hpp"
#include "report/page.hpp"
#include "input/weights.hpp"
#include "scoring/weighted.hpp"
#include "shuffle/weighted_random.hpp"
#include "scoring/entropy.hpp"
#include "scoring/grades.hpp"
#include "scoring/position.hpp"
#include "scoring/similarity.hpp"
#include "shuffle/permutations.hpp"
#include "shuffle/random_passes.hpp"
#include "tree/tree_null.hpp"
#include "views.hpp"
#include "plan.hpp"
#include "workspace.hpp"

namespace vorn {

// The page's viewer script, inlined from the share folders; a page without it says why, and so does stderr.
static void find_viewer(const std::vector<std::string>& dirs, const std::string& prefix, PageExtras& page, Log& log) {
  page.viewer = viewer_script(share_dirs(dirs), page.no_viewer);
  if (page.viewer.empty())
    log.warn("** Warning: the page %s.html has no 3D view: %s.\n", prefix.c_str(), page.no_viewer.c_str());
}

namespace {

// 5 proteins make 10 pairs: too few for any score.
constexpr int kFewestScorable = 6;

struct Run {
  Run(const RunSettings& settings, Output output, Log& messages)
      : s(settings), out(output.file), listings(output.listings), log(messages) {}
  const RunSettings& s;
  FILE* out;  // the result lines and the listings; null: none
  Listings listings;
  Log& log;
  AaMat aamat{};
  AlignmentSource src;
  Workspace ws;
  Allocator alloc = Allocator::for_this_process();
  SimilaritySide side;  // what every column reuses of the similarity vector
  WeightedSide wside;   // the same for the weighted scores
  std::unique_ptr<ExportFiles> exports;

  bool spearman() const { return s.score == Score::Spearman; }
  int32_t seed = 0;  // the seed of the permutations, from -R or the clock

  void check_inputs() const { validate(s); }

  // Created before any work, so that an unwritable -O prefix stops the run at once.
  void open_exports() {
    if (!s.outprefix.empty()) exports = std::make_unique<ExportFiles>(s.outprefix);
  }

  // -P: read whole before any work, so that a file that cannot be read stops
  // the run at once; checked against the numbering once the columns with a
  // result line are known.
  std::shared_ptr<Structure> structure;
  std::shared_ptr<StructureMatch> match = std::make_shared<StructureMatch>();
  PageExtras page;
  void read_structure_file() {
    if (s.structure.empty()) return;
    structure = std::make_shared<Structure>(read_structure(s.structure, &s.given));
    page.structure = structure.get();
    if (!s.outprefix.empty()) find_viewer(s.share_dirs, s.outprefix, page, log);
  }

  void check_structure() {
    if (!structure) return;
    std::vector<int32_t> positions;
    for (int32_t pos = 1; pos <= ws.alnlen; ++pos)
      if (vorn::scored(ws.gapperc[pos])) positions.push_back(pos);
    *match = match_structure(*structure, sites(), positions);
    page.match = match.get();
    page.match_line = match_text(*match, *structure, src.form == AlnForm::Hssp);
    log.status("\r%s", page.match_line.c_str());
  }

  // Where each column's residue sits: fixed once the residues are read, and
  // needed by the structure check and the results alike, so found once.
  mutable std::vector<Site> sites_;
  const std::vector<Site>& sites() const {
    if (!sites_.empty()) return sites_;
    if (src.form == AlnForm::Hssp) {
      sites_ = hssp_sites(ws.res1.data(), ws.aln[1], ws.pdbnum.data(), ws.chain.data(), ws.alnlen);
    } else {
      std::string letters;
      const std::vector<int64_t> ordinal = residue_ordinals(src, reference, &letters);
      sites_ = reference_sites(ordinal, first_residue_number(sequence_name(src, reference)), letters);
    }
    return sites_;
  }

  // The worker threads start now: their stacks are reserved before the
  // allocation plan, so no memory is needed once the heavy phases begin.
  void workers() const {
    if (s.threads > 0) omp_set_num_threads(static_cast<int>(s.threads));
#pragma omp parallel
    { (void)0; }
  }

  // A matrix path that names no file may name a shipped matrix (blosum62).
  void matrix() {
    std::string path = s.matrix_path;
    if (s.given.count(path) == 0 && path != "-" && access(path.c_str(), F_OK) != 0) {
      const std::string shipped = shipped_matrix(path, share_dirs(s.share_dirs));
      if (!shipped.empty()) {
        log.status("Matrix '%s': no such file; read the one shipped with vorn, %s.\n", printable(path).c_str(),
                   printable(shipped).c_str());
        path = shipped;
      }
    }
    read_matrix(path, aamat, log, &s.given);
  }

  // The sequence whose residues the exports number (-F; default the first).
  int64_t reference = 1;

  void dimensions() {
    alignment_dimensions(s.aln_path, src, log, &s.given);
    if (!s.reference.empty()) reference = sequence_by_name(src, s.reference);
    // Exit 0 with no result line would pass in a pipeline for a family with nothing of note.
    if (src.alnlen == 0) {
      fail("** Error: alignment file '%s' holds %lld sequence%s but no alignment columns: there is nothing to score.\n",
           src.text.name.c_str(), static_cast<long long>(src.nprot), src.nprot == 1 ? "" : "s");
    }
    if (src.nprot < kFewestScorable) {
      log.warn("** Warning: '%s' holds %lld protein%s (%lld pairs): a score needs more than 10 usable pairs, which "
                 "takes at least %d proteins; every column will score -2 or -3.\n",
                 src.text.name.c_str(), static_cast<long long>(src.nprot), src.nprot == 1 ? "" : "s",
                 static_cast<long long>(src.nprot * (src.nprot - 1) / 2), kFewestScorable);
    }
    if (!s.outprefix.empty() || !s.reference.empty()) log.status("Reference sequence: %s.\n", reference_text().c_str());
  }

  std::string reference_text() const {
    if (src.form == AlnForm::Hssp) return "1, the structure's own, numbered by its PDB residue numbers and chains";
    const std::string& name = sequence_name(src, reference);
    const int32_t first = first_residue_number(name);
    return strformat("%lld '%s', numbered from %d%s", static_cast<long long>(reference), printable(name).c_str(), first,
                     name.find('/') != std::string::npos && first != 1 ? " (its /start-end suffix)" : "");
  }

  void sizes() {
    ws.nprot = static_cast<int32_t>(src.nprot);
    ws.alnlen = static_cast<int32_t>(src.alnlen);
    ws.npairs = src.nprot * (src.nprot - 1) / 2;
    ws.nsuffl = s.nsuffl;
    ws.ntree = s.ntree;
    ws.weighted = s.weighted;
    ws.threads = omp_get_max_threads();
    ws.spearman = spearman();
    ws.libroom = s.ntree > 0 ? std::max<int64_t>(s.ntree, 1024) : 0;
  }

  void allocation() {
    log.progress("Mem...");
    sizes();
    alloc.allocate(plan_group1(ws));
    ws.pairs.place(pair_shape(ws));
    for (int32_t pos = 1; pos <= ws.alnlen; ++pos) {
      ws.var[pos] = -1;
      ws.sec_str[pos] = '-';
      ws.acc[pos] = -1;
      // Kept by HSSP files without a block for the first sequences.
      ws.pdbnum[pos] = pos;
      ws.chain[pos] = ' ';
    }
  }

  void background() {
    if (s.nsuffl > 0 || s.ntree > 0) {
      if (s.seed) {
        seed = static_cast<int32_t>(*s.seed);
      } else if (setsrand(&seed) < 0) {
        fail("** Couldn't set seed for RND using 'date'.\n");
      } else {
        log.status("\r** Note: seed %d (from the clock); -R=%d repeats this run.\n", seed, seed);
      }
    }
    if (s.nsuffl == 0) {
      log.status("\rNo background distribution. Raw scores.\n");
    } else {
      Rand rng(static_cast<unsigned>(seed));
      log.status("\rBackground distribution with %lld random alns.\n", static_cast<long long>(s.nsuffl));
      if (s.nsuffl < 2) {
        log.warn("** Warning: with -S=%lld no Z-score can be computed (the spread of one random score is not "
                   "defined), so the Z fields print nan, and no P-value can reach 0.05: use -S=19 or more.\n",
                   static_cast<long long>(s.nsuffl));
      } else if (s.nsuffl < 19) {
        log.warn("** Warning: with -S=%lld no P-value can reach 0.05 (the smallest honest one is 1/(n+1)): use "
                   "-S=19 or more, and 1000 for stable P-values.\n",
                   static_cast<long long>(s.nsuffl));
      }
      // All of the shuffling memory is known to fit before any permutation
      // is drawn.
      std::vector<PlanItem> later = plan_group2(ws);
      for (auto& group : {plan_group3(ws), plan_group4(ws), plan_group5(ws)})
        later.insert(later.end(), group.begin(), group.end());
      alloc.check(later);
      alloc.allocate(plan_group2(ws));
      draw_permutations(rng, ws.nsuffl, ws.nprot, ws.sufix.rows(), ws.drawlist.data(), log);
      if (out && listings.permutations) print_permutations(out, ws.nsuffl, ws.nprot, ws.sufix.rows());
      alloc.allocate(plan_group3(ws));
    }
    if (s.nsuffl == 0 && s.ntree > 0) {
      std::vector<PlanItem> later = plan_group4(ws), tree = plan_group5(ws);
      later.insert(later.end(), tree.begin(), tree.end());
      alloc.check(later);
    }
    alloc.allocate(plan_group4(ws));
    if (spearman()) {
      log.status("\rRaw score: Spearman's non-parametric rank correlation.\n");
    } else {
      log.status("\rRaw score: Pearson's linear correlation.\n");
    }
  }

  void residues() {
    log.progress("\rReading aln...");
    alignment_residues(src, alignment_arrays(ws));
    column_codes(ws.aln.rows(), ws.nprot, ws.alnlen, ws.alncol.data());
  }

  // -W: the weights, from the file or the columns. Equal weights give the
  // unweighted scores, which are then computed as they are.
  bool weighted = false;
  int64_t rank_stride = 0;  // -W with Spearman: the doubles of one thread's ranks in the random passes
  int concurrent = 1;       // -W: the threads that walk blocks of permutations at once
  void weights() {
    if (!s.weighted) return;
    if (!s.weight_file.empty()) {
      read_weights(s.weight_file, ws.nprot, ws.weights.data(), &s.given);
    } else {
      henikoff_weights(columns(ws), ws.weights.data());
    }
    weighted = !uniform_weights(ws.weights.data(), ws.nprot);
    log.status("\rWeights: %s%s.\n", weights_text().c_str(),
               weighted ? "" : "; they are all equal, so the scores are the unweighted ones");
  }

  std::string weights_text() const {
    if (!s.weighted) return "";
    return s.weight_file.empty() ? "Henikoff position-based" : "from file '" + printable(s.weight_file) + "'";
  }

  void similarity() {
    gap_percentages(ws.alncol.data(), ws.nprot, ws.alnlen, ws.gapperc.data());
    rare_residues();
    gap_lists(ws.alncol.data(), ws.gapperc.data(), ws.nprot, ws.alnlen, ws.gaplist.data(), ws.gapstart.data());
    similarity_matrix(ws.aln.rows(), ws.alncol.data(), ws.nprot, ws.alnlen, aamat, ws.pairs.identities.data(), log);
    log.checkpoint();
    if (out && listings.similarity) print_similarity(out, ws.pairs.identities.data(), ws.nprot);
    if (out && listings.classes) print_two_groups(out, ws.nprot);
  }

  // U and O are read as gaps: where they are common, say so and which
  // columns they keep from a score (10 % gaps or more only with them).
  void rare_residues() {
    const ResidueTally& t = src.tally;
    if (t.rare == 0 || t.rare * 100 < t.letters) return;
    const std::vector<int32_t> rare = rare_residue_counts(src);
    std::string lost;
    int64_t nlost = 0;
    for (int32_t pos = 1; pos <= ws.alnlen; ++pos) {
      if (rare[pos] == 0 || vorn::scored(ws.gapperc[pos])) continue;
      const uint8_t* col = ws.alncol.data() + static_cast<int64_t>(pos - 1) * ws.nprot;
      int32_t g = 0;
      for (int32_t p = 0; p < ws.nprot; ++p) g += col[p] == 0;
      if (!vorn::scored((static_cast<float>(g - rare[pos]) / static_cast<float>(ws.nprot)) * 100.0f)) continue;
      if (++nlost <= 10) lost += (lost.empty() ? "" : ", ") + std::to_string(pos);
    }
    log.warn("\r** Warning: %lld of the %lld residues of '%s' are U or O (selenocysteine, pyrrolysine), which vorn "
               "reads as gaps; %s.\n",
               static_cast<long long>(t.rare), static_cast<long long>(t.letters), src.text.name.c_str(),
               nlost == 0 ? "no column loses its score by them"
                          : strformat("%lld column%s go%s unscored by them (%s%s)", static_cast<long long>(nlost),
                                      nlost == 1 ? "" : "s", nlost == 1 ? "es" : "", lost.c_str(),
                                      nlost > 10 ? ", ..." : "").c_str());
  }

  void entropy() {
    if (s.entropy) {
      calc_entrop(ws.alncol.data(), ws.alnlen, ws.nprot, ws.entrop.data(), log);
    } else {
      for (int32_t pos = 1; pos <= ws.alnlen; ++pos) ws.entrop[pos] = -1.0f;
    }
  }

  // Similarities given as numbers: the array's shape and values checked
  // here, where the number of proteins is known.
  void given_similarities() {
    const RunSettings::Similarities& g = *s.similarities;
    const int64_t n = ws.nprot;
    std::string shape;
    for (const int64_t d : g.shape) shape += (shape.empty() ? "" : " x ") + std::to_string(d);
    if (g.shape.size() != 2 || g.shape[0] != n || g.shape[1] != n ||
        static_cast<int64_t>(g.values.size()) != n * n)
      fail("** Error: similarity= has the shape %s, but '%s' holds %lld proteins: give an n x n array, one row and "
           "column per protein.\n", shape.empty() ? "()" : shape.c_str(), src.text.name.c_str(),
           static_cast<long long>(n));
    bool symmetric = true;
    for (int64_t i = 0; i < n; ++i)
      for (int64_t j = i + 1; j < n; ++j) {
        const double v = g.values[static_cast<size_t>(i * n + j)], w = g.values[static_cast<size_t>(j * n + i)];
        if (!fits_float(v))
          fail("** Error: similarity=[%lld, %lld] is %g: every value off the diagonal must be a finite number.\n",
               static_cast<long long>(i), static_cast<long long>(j), v);
        symmetric = symmetric && (v == w || (std::isnan(v) && std::isnan(w)));
        ws.pairs.identities[i + 1][j + 1] = static_cast<float>(v);
      }
    if (!symmetric)
      log.warn("** Warning: similarity= is not symmetric: its upper triangle (row < column) is used.\n");
    log.status("\rExternal protein 'similarity' matrix imported.                     \n");
  }

  void external_similarity() {
    if (s.similarities) return given_similarities();
    if (!s.simfile) return;
    // The reader's own account of what is wrong leads the error message; the
    // stream is closed however the reading ends (a corrupt gzip throws).
    struct Memstream {
      char* text = nullptr;
      size_t size = 0;
      FILE* f = open_memstream(&text, &size);
      ~Memstream() {
        if (f) std::fclose(f);
        std::free(text);
      }
      std::string taken() {
        std::fclose(f);
        f = nullptr;
        return std::string(text, size);
      }
    } msg;
    if (!msg.f) throw std::bad_alloc();
    const int r = read_sim_mat(*s.simfile, ws.nprot, ws.pairs.identities.data(), msg.f, &s.given);
    const std::string said = msg.taken();
    if (r != 0) fail("%s** Error %d importing external protein matrix '%s'.\n", said.c_str(), r, s.simfile->c_str());
    log.status("\rExternal protein 'similarity' matrix imported.                     \n");
  }

  // Before the similarities turn into their ranks.
  void panel_order() {
    if ((s.outprefix.empty() && !s.keep_report) || ws.nprot < 1) return;
    panel = display_order(ws.pairs.identities.data(), ws.nprot, static_cast<int32_t>(reference), kPanelRows);
  }
  std::vector<int32_t> panel;

  void pair_vectors() {
    if (out && listings.alignment) print_alignment(out, ws.aln.rows(), ws.nprot, ws.alnlen);
    log.progress("\rSorting/Ranking protein sim. matrix...          ");
    if (weighted) {
      // The weighted side ranks the similarities its own way; each pair's
      // tie group takes the sort's scratch.
      uint32_t* group = spearman() ? reinterpret_cast<uint32_t*>(ws.pairs.scratch()) : nullptr;
      int64_t ngroups = 0;
      concurrent = static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(ws.threads, (s.nsuffl + kLanes - 1) / kLanes)));
      if (spearman()) {
        // The rank tables take memory only now, one entry per distinct
        // similarity (and per permutation of a block with -S).
        ngroups = similarity_groups(ws.pairs.values(), ws.npairs, group, ws.rankscratch.data());
        alloc.claim(-8200, ngroups + 2, ws.wrank);
        // With -S each thread that walks a block at once ranks its own: as
        // many of them as there are blocks and the memory bears, one at least.
        const uint64_t one = sizeof(double) * kLanes * static_cast<uint64_t>(ngroups);
        if (s.nsuffl > 0) {
          while (concurrent > 1 && !alloc.fits(one * static_cast<uint64_t>(concurrent))) --concurrent;
          alloc.claim(-8610, kLanes * ngroups * concurrent + 1, ws.wlanerank);
        }
        rank_stride = kLanes * ngroups;
      }
      prepare_weighted_side(ws.pairs.values(), spearman(), ws.weights.data(), ws.nprot, ws.npairs, group, ngroups,
                            ws.wrank.data(), ws.rowwy.data(), wside);
      log.progress("\r");
      return;
    }
    if (spearman()) {
      // The ranks take the similarities' place; a copy keeps them where -B
      // reads them later.
      ws.pairs.keep_similarities();
      sort_and_rank(ws.pairs.ranks(), ws.npairs, ws.pairs.scratch(), ws.rankdone.data(), ws.rankscratch.data());
    }
    log.progress("\r");
    prepare_similarity_side(spearman() ? ws.pairs.ranks() : ws.pairs.values(), ws.nprot, ws.npairs, ws.rowsum.data(), side);
  }

  // Without shuffling each line is printed as its column is scored; with it
  // the real scores wait for the random passes.
  void scoring() {
    const bool store = s.nsuffl > 0;
    const LineSource line_source = lines(ws);
    const Columns cols = columns(ws);
    auto emit = [&](int32_t pos, float score) {
      scored_columns += score >= -1.0f;
      if (store) {
        ws.icorr[pos] = score;
      } else {
        keep_result(ws, ResultRow{line_source.fields(pos, score)});
        if (out) write_raw_line(out, ws.results[ws.nresults].f);
      }
    };
    const ColumnGroups groups{ws.grouppos.data(), ws.groupcodes.data()};
    if (weighted) {
      weighted_scoring_pass(cols, aamat, spearman(), wside, store ? ws.wstat.data() : nullptr, groups, emit, log);
    } else {
      scoring_pass(cols, aamat, spearman(), side, store ? ws.colstat.data() : nullptr, groups, emit, log);
    }
    log.checkpoint();
  }

  void significance() {
    if (s.nsuffl == 0) return;
    if (weighted) {
      WeightedRandom w = weighted_random(ws);
      w.rank_stride = rank_stride;
      w.concurrent = concurrent;
      weighted_random_passes(columns(ws), spearman(), wside, w, log);
      fill_pool(columns(ws), ws.icorr.data(), ws.rndcorr.rows(), ws.nsuffl, ws.globdist(), &ws.globcount());
    } else {
      RandomPassArrays arrays = random_pass_arrays(ws);
      arrays.ysq = ws.pairs.form_square(side.y);
      if (ws.pairs.square_in_place()) side.y = nullptr;  // formed over the pair order, which is gone
      random_passes(columns(ws), side, arrays, log);
    }
    final_report(columns(ws), lines(ws), ws.icorr.data(), ws.rndcorr.rows(), ws.nsuffl, ws.globdist(),
                 ws.globcount(), ws.globsorted.data(), [&](const ResultRow& row) {
                   keep_result(ws, row);
                   if (out) write_extended_line(out, row);
                 });
  }

  // The similarities are mean matrix scores, unless -M replaced them.
  DistanceTransform tree_transform(const double* freq) const {
    return s.simfile || s.similarities ? DistanceTransform{} : score_transform(freq, aamat);
  }
  TreeView tree_view() { return TreeView{ws.nprot, ws.treeleft.data(), ws.treeright.data(), ws.treelength.data()}; }

  // -B on a large family: the tree joined while the similarities are still
  // in pair order, over the room the ranks' sort takes next.
  void early_tree() {
    if (!tree_joined_early(ws)) return;
    log.progress("\rTree null: joining %d proteins by average linkage...", ws.nprot);
    double freq[kCodes];
    residue_frequencies(columns(ws), freq);
    float* tri = spearman() ? ws.pairs.scratch() : ws.njtri.data();
    distance_triangle(ws.pairs.identities.data(), ws.nprot, tree_transform(freq), tri);
    average_linkage_tree(tri, ws.nprot, ws.njslot.data(), tree_view());
    log.checkpoint();
  }

  // -B: the library evolved along the tree, scored as the real columns are.
  std::vector<TreeNullValue> tree_values;
  void tree_null() {
    if (s.ntree == 0) return;
    ModelKind kind = ModelKind::Lg;
    model_by_name(s.tree_model, kind);
    const bool early = tree_joined_early(ws);
    log.status("\rTree null: %lld library columns along %s tree of the similarities, under %s.\n",
               static_cast<long long>(s.ntree), early ? "an average-linkage" : "a neighbour-joining", model_name(kind));
    alloc.allocate(plan_group5(ws));
    const int32_t n = ws.nprot;
    const TreeView tree = tree_view();
    double freq[kCodes];
    residue_frequencies(columns(ws), freq);
    if (!early) {
      nj_tree(ws.pairs.identities.data(), n, tree_transform(freq), ws.njdist.data(), ws.njrsum.data(),
              ws.njslot.data(), tree);
    }
    log.checkpoint();
    const AaModel model = make_model(kind, freq);
    const TreeLibrary lib{ws.libroom, ws.libcodes.data(), ws.libscore.data(), ws.libsets.data()};
    std::vector<int32_t> pos(static_cast<size_t>(ws.nresults));
    std::vector<float> score(static_cast<size_t>(ws.nresults));
    for (int32_t i = 0; i < ws.nresults; ++i) pos[i] = ws.results[i + 1].f.pos, score[i] = ws.results[i + 1].f.score;
    auto score_library = [&](int64_t count) {
      const LibraryArrays at{ws.libgapperc.data(), ws.libgaplist.data(), ws.libgapstart.data(),
                             ColumnGroups{ws.libgrouppos.data(), ws.libgroupcodes.data()}};
      score_library_columns(lib, count, n, at, aamat, spearman(), side, weighted ? &wside : nullptr, log);
    };
    vorn::tree_null(columns(ws), tree, model, static_cast<uint32_t>(seed), RealColumns{pos.data(), score.data(), ws.nresults},
                    s.ntree, lib, score_library, tree_values, tree_fit, log);
    log.status("\rTree null: %s, tree length %.3g substitutions per column, gamma shape %.3g; %lld library columns in %d "
               "round%s; median Zscr_tree %.2f.\n",
               tree_fit.model.c_str(), tree_fit.length, tree_fit.alpha, static_cast<long long>(tree_fit.library),
               tree_fit.rounds, tree_fit.rounds == 1 ? "" : "s", tree_fit.median_z);
    if (std::fabs(tree_fit.median_z) > kTreeMisfit)
      log.warn("** Warning: the tree null does not fit this family (median Zscr_tree %.2f, far from 0); read Zscr_tree "
               "as a ranking only.\n",
               tree_fit.median_z);
  }
  TreeFitReport tree_fit;


  int64_t scored_columns = 0;

  Results end() {
    // A pass that skipped its work once asked to stop left garbage behind:
    // a stopped run never returns results.
    log.checkpoint();
    if (scored_columns == 0 && src.nprot >= kFewestScorable) {
      log.warn("\r** Warning: not one column of '%s' has a score: every column has 10 %% gaps or more, or scores -2 "
                 "or -3.\n",
                 src.text.name.c_str());
    }
    // Results that could not be written make the run a failure.
    if (out && (std::fflush(out) != 0 || std::ferror(out))) {
      throw Failure{strformat("** Error: can't write the results to standard output: %s.\n",
                              std::strerror(errno ? errno : EIO)),
                    true};
    }
    Results r = results();
    if (exports) exports->write(r, page);
    if (s.keep_report) {
      r.report = std::make_shared<const ReportParts>(
          ReportParts{structure, structure ? match : nullptr, page.match_line, s.share_dirs});
    }
    log.status("Done.%99s\n", "");
    return r;
  }

  RunRecord record() const {
    RunRecord info;
    info.aln_name = s.aln_path.substr(s.aln_path.find_last_of('/') + 1);  // npos + 1 is 0: the whole path
    info.form = form_name(src.form);
    info.nprot = src.nprot;
    info.spearman = spearman();
    info.nsuffl = s.nsuffl;
    info.ntree = s.ntree;
    info.alnlen = ws.alnlen;
    info.version = kVersion;
    info.command = s.invocation.empty() ? command_line(s) : s.invocation;
    info.has_seed = s.nsuffl > 0 || s.ntree > 0;
    info.seed = seed;
    info.seed_from = s.seed ? "-R" : "the clock";
    info.reference = reference_text();
    info.reference_row = reference;
    if (s.ntree > 0) info.tree_fit = tree_fit;
    info.weights = weights_text();
    info.warnings = log.warnings();
    info.classic_colours = s.colours == "classic";
    if (structure) {
      info.structure_addressed = match->addressed, info.structure_same = match->same;
      info.structure_name = s.structure.substr(s.structure.find_last_of('/') + 1);
    }
    return info;
  }

  Results results() const {
    Results r;
    r.record = record();
    r.rows.assign(ws.results.data() + 1, ws.results.data() + 1 + ws.nresults);
    r.sites = sites();
    if (s.nsuffl > 0) r.honest = honest_significance(r.rows.data(), ws.nresults, s.nsuffl);
    r.tree = tree_values;
    for (const Grade& g : grades(r.rows.data(), ws.nresults, ws.gapperc.data(), ws.nprot))
      r.grade.push_back(g.grade), r.insufficient.push_back(g.insufficient);
    const Columns cols = columns(ws);
    for (const ResultRow& row : r.rows) r.residues.push_back(residue_counts(cols.column(row.f.pos), ws.nprot));
    file_columns(r);
    for (const int32_t p : panel) {
      Results::PanelRow row{p, src.form == AlnForm::Hssp ? "protein " + std::to_string(p) : sequence_name(src, p), {}};
      for (int32_t pos = 1; pos <= ws.alnlen; ++pos) {
        row.residues += shown_letter(cols.column(pos)[p - 1]);
      }
      r.panel.push_back(std::move(row));
    }
    return r;
  }

  void file_columns(Results& r) const {
    const std::vector<int64_t>& of = src.blocked.column_of;
    r.file_column.assign(static_cast<size_t>(ws.alnlen) + 1, 0);
    for (int32_t pos = 1; pos <= ws.alnlen; ++pos) r.file_column[pos] = pos;
    r.file_columns = ws.alnlen;
    if (of.empty()) return;
    r.file_columns = static_cast<int32_t>(of.size()) - 1;
    for (size_t k = 1; k < of.size(); ++k)
      if (of[k] > 0) r.file_column[static_cast<size_t>(of[k])] = static_cast<int32_t>(k);
  }
};

}  // namespace

void write_report(const Results& r, const std::string& prefix, Log& log) {
  if (!r.report) fail("** Error: these results were not kept for a report: run again with report= (or -O=prefix).\n");
  if (prefix.empty()) fail("** Invalid report prefix: give the prefix of the output files, as in results/fn3.\n");
  ExportFiles files(prefix);
  PageExtras page;
  page.structure = r.report->structure.get();
  page.match = r.report->match.get();
  page.match_line = r.report->match_line;
  if (page.structure) find_viewer(r.report->share_dirs, prefix, page, log);
  files.write(r, page);
}

Results run(const RunSettings& settings, Output out, Log& log) {
  Run r{settings, out, log};
  r.check_inputs();
  r.workers();
  r.open_exports();
  r.read_structure_file();
  r.matrix();
  r.dimensions();
  r.allocation();
  r.background();
  r.residues();
  r.weights();
  r.similarity();
  r.check_structure();
  r.entropy();
  r.external_similarity();
  r.panel_order();
  r.early_tree();
  r.pair_vectors();
  r.scoring();
  r.significance();
  r.tree_null();
  return r.end();
}

Results protein_similarity(const RunSettings& settings, Log& log) {
  Run r{settings, Output{}, log};
  r.check_inputs();
  r.workers();
  r.matrix();
  r.dimensions();
  r.allocation();
  r.residues();
  r.similarity();
  r.external_similarity();
  Results out = r.results();
  const int32_t n = r.ws.nprot;
  out.similarity.assign(static_cast<size_t>(n) * n, NAN);
  for (int32_t i = 1; i <= n; ++i)
    for (int32_t j = i + 1; j <= n; ++j)
      out.similarity[static_cast<size_t>(i - 1) * n + (j - 1)] = out.similarity[static_cast<size_t>(j - 1) * n + (i - 1)] =
          r.ws.pairs.identities[i][j];
  return out;
}

RunPlan plan(const RunSettings& settings, Log& log) {
  Run r{settings, Output{}, log};
  r.check_inputs();
  r.workers();
  r.matrix();
  r.dimensions();
  r.sizes();
  Workspace& ws = r.ws;
  RunPlan p{r.src.nprot, r.src.alnlen, r.src.text.data.size(), 0};
  // What the run holds at its peak: every array it touches (those kept for
  // their step codes only take address space), the inputs in memory, and
  // the rank tables that -W with Spearman claims once the similarities are
  // known, at their most: one per distinct similarity, no more than the pairs
  // nor (integer scores) the fractions of alnlen positions can make.
  uint64_t touched = 0;
  std::vector<PlanItem> items = plan_group1(ws);
  for (auto& group : {plan_group2(ws), plan_group3(ws), plan_group4(ws), plan_group5(ws)})
    items.insert(items.end(), group.begin(), group.end());
  for (const PlanItem& it : items)
    if (it.prefault) touched += plan_bytes(it) * static_cast<uint64_t>(it.rows > 0 ? it.rows : 1);
  if (settings.weighted && r.spearman()) {
    int64_t distinct = ws.npairs;
    float lo = r.aamat[1][1], hi = lo;
    bool integers = !settings.simfile && !settings.similarities;
    for (int a = 1; a < kCodes; ++a)
      for (int b = 1; b < kCodes; ++b) {
        lo = std::min(lo, r.aamat[a][b]), hi = std::max(hi, r.aamat[a][b]);
        integers = integers && r.aamat[a][b] == std::floor(r.aamat[a][b]);
      }
    if (integers) distinct = std::min<int64_t>(distinct, static_cast<int64_t>(hi - lo + 1) * ws.alnlen * (ws.alnlen + 1) / 2 + 1);
    // Real families have far fewer: below L^2 for the mean scores of L columns (0.1-0.15 L^2 measured).
    const int64_t typical = std::min<int64_t>(distinct, static_cast<int64_t>(ws.alnlen) * ws.alnlen);
    const int64_t blocks = std::min<int64_t>(ws.threads, (settings.nsuffl + kLanes - 1) / kLanes);
    const uint64_t per = sizeof(double) * (1 + (settings.nsuffl > 0 ? kLanes * blocks : 0));
    p.most_bytes = touched + per * static_cast<uint64_t>(distinct);
    touched += per * static_cast<uint64_t>(typical);
  } else {
    p.most_bytes = touched;
  }
  p.most_bytes += p.input_bytes;
  p.bytes = touched + p.input_bytes;
  return p;
}

AlignmentRead read_alignment(const RunSettings& settings, Log& log) {
  AlignmentSource src;
  alignment_dimensions(settings.aln_path, src, log, &settings.given);
  const size_t len = static_cast<size_t>(src.alnlen) + 2;
  std::vector<int32_t> codes(static_cast<size_t>(src.nprot) * len), var(len), acc(len), pdbnum(len);
  std::vector<int32_t*> rows(static_cast<size_t>(src.nprot) + 2, nullptr);
  for (int64_t p = 1; p <= src.nprot; ++p) rows[p] = codes.data() + (p - 1) * len;
  std::string sec_str(len, '-'), chain(len, ' ');
  std::vector<uint8_t> res1(len);
  alignment_residues(src, AlignmentArrays{rows.data(), var.data(), acc.data(), sec_str.data(), pdbnum.data(),
                                          chain.data(), res1.data()});
  AlignmentRead a;
  a.form = form_name(src.form);
  for (int64_t p = 1; p <= src.nprot; ++p) {
    a.names.push_back(src.form == AlnForm::Hssp ? std::to_string(p) : sequence_name(src, p));
    std::string row(static_cast<size_t>(src.alnlen), '-');
    for (int64_t pos = 1; pos <= src.alnlen; ++pos) {
      const char c = aa_indexback(rows[p][pos]);
      row[pos - 1] = c == '.' ? '-' : c;
    }
    a.rows.push_back(std::move(row));
  }
  return a;
}

struct BackgroundRun::State {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  Results results;
  std::exception_ptr error;
  std::thread worker;
};

BackgroundRun::BackgroundRun(RunSettings settings, Kind kind)
    : log_(std::make_unique<Log>(nullptr)), state_(std::make_shared<State>()) {
  log_->set_quiet(true);
  state_->worker = std::thread([settings = std::move(settings), kind, st = state_, log = log_.get()] {
    Results r;
    std::exception_ptr e;
    try {
      r = kind == Kind::Scores ? run(settings, Output{}, *log) : protein_similarity(settings, *log);
    } catch (...) {
      e = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(st->m);
    st->results = std::move(r);
    st->error = e;
    st->done = true;
    st->cv.notify_all();
  });
}

BackgroundRun::~BackgroundRun() {
  log_->request_stop();
  if (state_->worker.joinable()) state_->worker.join();
}

bool BackgroundRun::wait(double seconds) {
  std::unique_lock<std::mutex> lock(state_->m);
  return state_->cv.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return state_->done; });
}

Results BackgroundRun::take() {
  {
    std::unique_lock<std::mutex> lock(state_->m);
    state_->cv.wait(lock, [&] { return state_->done; });
  }
  if (state_->worker.joinable()) state_->worker.join();
  if (state_->error) std::rethrow_exception(state_->error);
  return std::move(state_->results);
}

}  // namespace vorn
