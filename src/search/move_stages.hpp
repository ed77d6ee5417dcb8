#pragma once
// The move of one iteration in three stages, each handing its result to the next through a
// record the run holds:
//   choose_move     what moves and where (MoveChoice; the module variables movingtype,
//                   moveindiv, movefamily, hostfamily, numindiv);
//   build_proposal  the rows of the proposed configuration in the move tables, its parents, its
//                   validity and everything the acceptance test compares (Proposal);
//   decide_move     scoring and acceptance, then the accepted proposal applied to the current
//                   configuration or the refused one undone (Verdict).
// A stage that returns false sends the iteration back to a new choice (a retry).
// Files: move_choice*.cpp and find_host_family.cpp the choice (its destination family, its
// locus split, the destination parents inside a cluster); proposal.cpp and its companions the
// proposal; move_verdict_*.cpp the verdict (score, screens, windows, apply); the iteration body
// that calls the three sits in temperature_loop.cpp.
#include <array>
#include <vector>

#include "core/farray.hpp"
#include "core/kinds.hpp"

namespace kinrad {

struct RunState;
enum class MoveOutcome;

// The choice of one move. movingtype, moveindiv, movefamily, hostfamily and numindiv live in
// module annealvariables; the rest of the choice is here, beside the side-1 (own cluster) and
// side-2 (destination cluster) tables of familybuild0 that describe it.
struct MoveChoice {
  int4 movekind = 0;    // 1 own cluster, 2 another existing cluster, 3 a new cluster; 0 family move
  int4 familyside = 0;  // family move: the parent side (1, 2) that changes
  int4 owncluster = 0;  // cluster id of moveindiv
  FStatic<int4, 1, 3> movepos{};       // own family's local index; its father's, mother's position
  FStatic<int4, 1, 2> hostfamilyid{};  // destination parents' positions (nparent + 1: new)
  int4 fssize = 0;                     // size of moveindiv's full-sib family
  int4 fspos = 0;                      // moveindiv's place in that family's member list
  FStatic<int4, 1, 2> hssize{};        // its paternal and maternal half-sib families in the cluster
  int4 ownclustersize = 0;
  int4 hostclustersize = 0;  // another existing cluster: its size; else 0
  int4 halfsibjoin = 0;      // 1: join the other cluster as a half sib
  int4 knownsibside = 0;     // the side of moveindiv's known sibship the move honours (0: none)
  FStatic<int4, 1, 2> carrycount{};
  // Who travels with moveindiv (individual moves): 1 it moves alone, 2 its whole full-sib
  // family, 3 its known sibship decides (the proposal builder settles it), 4 the family split
  // at a locus. 0 for a family move.
  int4 moveset = 0;
  // The split at a locus: its test type (0 none, 1..5) and the locus.
  int4 splittype = 0;
  int4 splitlocus = 0;
  // The moving (part 2, holds moveindiv) and staying (part 1) members of moveindiv's full-sib
  // family, in member-list order; kept allocated from proposal to proposal.
  std::vector<int4> moving{}, staying{};

  // Per-run work of the choice (sized once, reused by every proposal).
  bool ready = false;
  int4 tempsibid = 0;          // the id of a temporary split sibship
  FArray<int1, 1> typed{};     // (n) per offspring: typed at a locus of two or more alleles
  FArray<int4, 1> famlist{};   // (n) scratch list of local families
  FArray<int1, 1> candmark{};  // (nc) scratch marks over candidates, all 0 between uses
  FArray<int4, 1> marked{};    // (nc) the candidates marked in candmark, in marking order
};

// The proposed configuration as the acceptance test compares it with the current one (whose
// counts, candidate term and prior the run holds in its checkpoint state).
//
// Who travels with moveindiv: the parts the choice hands on in MoveChoice::moving (moveindiv
// and the members that move; the rest of its full-sib family stays); when the choice leaves it
// to moveindiv's known sibship, or hands on no parts, the building step draws them itself
// (honoured known sibship, or the travel chances of the own or another cluster).
//
// An admitted proposal (build_proposal true) has changed in place, until it is applied or
// undone: inferparent (the proposed parents), unassignedcnd and the run's unassigned counts,
// sibshipsizedist (priortype 1, individual moves), and the selectedfamily marks of the own
// cluster's families whose rows were written (1; -1 for families appended outside the lists).
// An accepted proposal keeps the first three; its applier calls commit_proposal.
struct Proposal {
  std::vector<int4> movelist{};  // moveindiv's full-sib family; a member that moves is negated
  FStatic<int4, 1, 2> leavers{};
  real8 oldclusterlogl = 0.0;  // current log likelihood of the touched clusters
  real8 newcndlogl = 0.0;
  real8 newlogprior = 0.0;
  real8 newsibsizeprior = 0.0;  // the sibship-size term of newlogprior (priortype 1)
  FStatic<int4, 1, 2> newnumfamily{};
  int4 newnumselfer = 0;
  FStatic<int4, 1, 4> newnumassign{};
  int4 restside = 0;  // 0, or the side whose window the scoring completes with the own cluster
  int4 parentok = 0, configok = 0;
  FStatic<int4, 1, 3> familymove{};  // family move: (current parent, proposed parent, sex)
  // Eligible candidates of a family move, kept across iterations (entry 0 = -1: not built).
  int4 listlen = 0;
  FArray<int4, 2> eligible{};
  // Sibship-size changes newsibdist listed per sex (rows of sibsize), and the largest sizes
  // before (1:2) and after (3:4) the move.
  FStatic<int2, 1, 2> nchange{};
  FStatic<int2, 1, 4> maxsize{};

  // What the undo needs; scratch kept allocated from proposal to proposal.
  bool pending = false;                          // admitted and neither applied nor undone
  bool parentswritten = false;                   // inferparent holds the proposed parents
  std::vector<std::array<int4, 2>> cndchange{};  // (sex, c): unassignedcnd set to 0; -c: to 1
  std::array<int4, 3> numunassigned0{};          // the run's unassigned counts before
  std::vector<int4> touched{};                   // one parent pool: candidates named by the lists
  std::vector<int1> bothfree{};                  // ... unassigned in both roles before
  std::vector<int1> poolmark{};
};

// Clears the selectedfamily marks an individual move's proposal left on the own cluster.
void release_family_marks(RunState& rs);
// Keeps an admitted proposal that is being applied: its marks are cleared, the eligible lists
// of a family move go stale for each sex whose parents changed (one parent pool: both), and
// nothing is left for undo_proposal.
void commit_proposal(RunState& rs);
// Aligns the paternal ids of haploid list-3 rows (the indivloc2 rows, read and written in the
// table itself rather than through its column windows) with those of their mother's other haploid
// offspring among the list-2 rows.
void adjusthapconfig();
// Appends to indivloc3(count + 1.., col) the distinct assigned parents of sex `sex` of the
// offspring of cluster `cluster` (member order), marking each in selectedprntq (the caller
// clears those marks); count grows by their number.
void inferprntlist(int4 cluster, int4& count, int4 sex, int4 col);

// One cluster the proposal creates: its side (1 what remains of the moving offspring's
// cluster, 2 the destination), its id, its log likelihood (full likelihood) and its structure
// summary (the clustersize column and its size); its rows, in offspring order, are
// rows[first + 1 .. first + size] of the Verdict.
struct NewCluster {
  int4 side = 0;
  int4 id = 0;
  int4 size = 0;
  int4 first = 0;
  real8 logl = 0.0;
  std::array<int4, 6> cnt{};
};

// The scoring of a proposal and what applying it needs. The work vectors only grow.
struct Verdict {
  int4 acceptq = 0;
  real8 thresholdlogl = 0.0;
  real8 drawlogu = 0.0;
  real8 oldpairlogl = 0.0, newpairlogl = 0.0;
  real8 selfterm = 0.0;
  int4 pairdivisor = 1;
  real8 knownsibcount = 0.0;
  int4 prescreen = 0;      // method 2: 0 no pre-test, 2 passed, 1 failed
  int4 ownemptied = 0;     // 1: the moving offspring's cluster is left without offspring
  real8 familylogl = 0.0;  // family move: the new log likelihood of its cluster
  FStatic<int4, 1, 2> sideclusters{};
  int4 nclusters = 0;  // clusters of the proposal, in clusters[0 ..]
  std::vector<NewCluster> clusters{};
  std::vector<int4> rows{};            // the clusters' rows (1-based), cluster after cluster
  std::vector<int4> order{};           // one side's rows in offspring order (1-based)
  std::vector<int4> pending{};         // rows not yet in a cluster (1-based)
  std::vector<int4> rowof{};           // offspring -> row of the side being built
  std::vector<real8> keys{};           // sort keys of the general sort
  std::vector<int4> ikeys{};           // sort keys of the linear sort
  FArray<int4, 2> block1{}, block2{};  // the screens' rows: current and proposed families
};
// The three stages.
bool choose_move(RunState& rs);
bool build_proposal(RunState& rs);
// The proposed family and selfer counts and log prior of an admitted proposal (its parents
// written, family = a family move).
void proposed_counts_and_prior(RunState& rs, bool family);
// Puts back everything an admitted proposal changed (for one that is not accepted).
void undo_proposal(RunState& rs);
// Scores the admitted proposal, then applies or undoes it; completed, or end_run when the
// applied move ends the run.
MoveOutcome decide_move(RunState& rs);

// The in-run allele-frequency update a new best may call for: called after the best copy is
// stored, for a new best that differs from the previous best; it counts the new best towards
// the update interval (full likelihood) and runs the update when one is due.
void update_after_new_best(RunState& rs);

// The iteration body of the program: the three stages, a retry when a stage refuses.
MoveOutcome move_body(RunState& rs);

}  // namespace kinrad
