#pragma once
// What the configuration model offers the other subsystems: the archived configuration record
// and its encode/decode, the family structure of one cluster, and the cluster tables of the
// current configuration; and the checkpoint formats it owns.
#include <array>
#include <span>
#include <string>

#include "core/config_record.hpp"
#include "core/farray.hpp"
#include "core/kinds.hpp"
#include "core/record_reader.hpp"

namespace kinrad {

// --- The archived configuration -------------------------------------------------------------

// Encodes the configuration seen through indivlocprt, inferparentprt and loglikelihoodprt
// (smplsize rows) into a new record left in variables.configptr; the caller links it.
void newconfig(int4 nclust);
// Decodes the record in variables.crrtconfig into offtgt and prnttgt and returns its score.
// Mode 1 decodes everything; mode 2 only what the archive's equality test compares: it never
// writes offtgt column 3 (nor column 2 with both sexes monogamous in a dioecious species) and
// leaves prnttgt(:, s) alone for a sex without candidates.
void convertconfig(int4 mode, real8& logl);
// Frees the record in variables.deleteconfig (already unlinked) and nulls the reference.
void deallocateconfig();
// Signature of the cluster partition of the configuration seen through indivlocprt: equal for
// any relabelling of the same partition. Labels must lie in 1..nclust.
int4 charactervalue(int4 nclust);

// diff = 0 when every row i of a and b holds the same unordered pair of parents, (0, 0) only
// matching (0, 0); otherwise 1. a and b are (n, 2) tables (arrays or views).
template <class A, class B>
void diffinferprnt(const A& a, const B& b, int4 n, int4& diff) {
  diff = 1;
  for (int4 i = 1; i <= n; ++i) {
    const int4 a1 = a(i, 1), a2 = a(i, 2), b1 = b(i, 1), b2 = b(i, 2);
    if (a1 == 0 && a2 == 0) {
      if (b1 != 0 || b2 != 0) return;
    } else {
      if (b1 == 0 && b2 == 0) return;
      const bool same = (a1 == b1 && a2 == b2) || (a1 == b2 && a2 == b1);
      if (!same) return;
    }
  }
  diff = 0;
}

// --- Family structure of one cluster ---------------------------------------------------------

// Gathers a cluster out of the window rows indivorder(1..nrow) of indivlocprt, numbers its
// parents and full-sib families by first appearance in row order and builds its family
// structure. seed: paternal family id the cluster grows from (0: every row); mode 1 reads the
// offspring number from window column 4, otherwise the indivorder entry is the offspring.
void familybuild(int4 seed, int4 nrow, int4 mode, int4& nmember, int4& maxfamsize,
                 int4 wantstructure, int4 wantclusterid, int4 onefamily, int4 takeall);
// The picture of cluster `clusterid` from the cluster tables: side 1 or 2 into the move-side
// tables of module annealvariables, side 0 into the family structure the likelihood engine
// reads.
void familybuild0(int4 clusterid, int4 side);
// Takes the store of the kept groupings of cluster members at its full size for the sample.
void size_family_groups();
// The family structure of parent `parentid` of sex `sex` and all its mates over the window
// rows indivorder(1..nrow) of a move table (column 4 the offspring); parentid < 1 takes every
// row. nmember returns the rows of the parent.
void familybuild1(int4& nmember, int4 sex, int4 wantstructure, int4 wantclusterid, int4 nrow,
                  int4 parentid);

// --- Cluster tables of the current configuration ---------------------------------------------

// cnt points at a cluster's clustersize column (element 1 first): parents of sex 1 and 2,
// largest family, number of families, most mates of a sex-1 parent. rows lists m row numbers
// of indivlocprt (rows[0] first).
void setinitcluster();
void setindivclusterindex();
void addcluster(int4 c, const int4* cnt, int4 n, int4 m, const int4* rows, int4 v);
void addcluster2(int4 c, const int4* cnt, int4 n, int4 m, const int4* rows, int4 v);
void addcluster1(int4 c, int4 n, int4 m, const int4* rows);
void addfamilycluster(const int4* cnt, int4 c);
// Frees slot k (k < 1: the slot whose cluster has id v) by moving the last used slot into it.
void replacecluster(int4 v, int4 k);

// --- Priors, initial clusters, the archive of configurations ---------------------------------

// numassign(1), (2): distinct candidates of sex 1 and 2 assigned as parents; (3), (4): offspring
// with an assigned father and mother; read through inferparentprt.
void findassignment(FStatic<int4, 1, 4>& numassign);
// Recounts sibshipsizedist from the configuration seen through indivlocprt; nfam(s) is the
// largest family id of sex s. Mode 1 counts every offspring towards its father; otherwise a
// haplodiploid sample's paternal sibships count the diploid offspring only.
void sibshipsize(const FStatic<int4, 1, 2>& nfam, int4 mode);
// Largest half-sib family per sex of the family structure just built; runmax keeps the maxima.
void halfsibsize(FStatic<int2, 1, 2>& hsmax, FStatic<int2, 1, 2>& runmax);
// Log prior of one sex: assign = (distinct candidates used as parents, offspring with such a
// parent); nfam families of that sex; sibship sizes summed up to nsize; nself selfed offspring.
real8 priorvalue(int4 sex, std::array<int4, 2> assign, int4 nfam, int4 nsize, int4 nself);
// Log prior of the configuration seen through indivlocprt and inferparentprt.
void configurationprior(FStatic<int4, 1, 4>& numassign, real8& logprior,
                        const FStatic<int4, 1, 2>& nsize, const FStatic<int4, 1, 2>& nfam);

// Numbers the clusters of crindivloc (columns 1 and 2) in order of their first offspring into
// column 3 and measures them; with full = 1 also scores each cluster (crfamilylogl), raising
// the likelihood precision for a cluster found impossible, and raises hsmax.
void setinitconfiglogl(int4 full, FStatic<int2, 1, 2>& hsmax);
// logl(1..nclust): the log likelihood of each cluster of the configuration seen through
// indivlocprt (column 3 numbered 1..nclust). indivlocprt and indivorder are left as found.
void updatefamilylogl(real8* logl, int4 nclust);
// Fills the error lines for an impossible initial cluster (mode 1, its family structure
// current) or for incompatible known relationships (any other mode) and stops the program.
[[noreturn]] void invalidconfig(int4 mode);

// Encodes the configuration seen through indivlocprt/inferparentprt/loglikelihoodprt and
// inserts it into the archive unless it duplicates an archived one (mode 1 the general test,
// mode 2 the test after a move of the search, mode 3 and up no test and no size limit).
// Returns whether the new record is in the list: the size limit may drop it at once. The list
// owns its records; variables.configptr must not be used after the call.
bool archiveconfigadd(int4 mode, int4 nclust);
// Drops every record scoring below variables.minloglikelihood.
void archiveconfigremove();
// Frees every record; the list is empty afterwards.
void archiveconfigremoveall();
// eq = 1 when the current configuration equals the best one of the run.
void equalconfigtest(int4& eq);
// Takes the work tables of the equality tests and the priors at the sizes the sample bounds,
// so that a search calling them for the first time late in a run allocates nothing then.
void size_archive_work();
// diff = 0 when rows 1..n of a and b (columns chkidx1..chkidx2: the families of the n offspring
// members(1..n), members pointing at the first) group them alike in each compared column.
void noneqtcluster(const FArray<int4, 2>& a, const FArray<int4, 2>& b, int4 n, const int4* members,
                   int4& diff);
// diff = 1 when some row i is selfed (column 1 equal to column 2) in one table and not in the
// other; a and b are (n, 2) tables (arrays or views).
template <class A, class B>
void noneqtselfing(const A& a, const B& b, int4 n, int4& diff) {
  diff = 1;
  for (int4 i = 1; i <= n; ++i)
    if ((a(i, 1) == a(i, 2)) != (b(i, 1) == b(i, 2))) return;
  diff = 0;
}

// --- Checkpoint formats -----------------------------------------------------------------------

// The run state of one annealing call that the state checkpoint saves and restores, in the
// order of the checkpoint's items. The search keeps its counters here under these names, so
// that every counter gets back exactly the value saved for it.
struct CheckpointRunState {
  real8 temperature = 0.0;
  real8 withinfactor = 0.0;  // move-choice factor of the current temperature
  int8 numiterate = 0;       // iterations of the whole run
  int4 monitorword = 0;      // the monitor's restored-state word
  int8 nfail1 = 0;           // scored iterations since the last new best (this temperature)
  int8 nfail2 = 0;           // ... since the last new best with a real gain (whole run)
  int8 nsucc = 0;            // accepted moves at the current temperature
  int8 newbestcount = 0;     // new bests with a new configuration during the call
  int4 tmr = 0;              // temperature number to resume at
  int8 itr = 0;              // iteration within that temperature to resume at
  std::array<int4, 3> monitorcounters{};
  std::array<int4, 2> progresslog{};  // progress-log counter and its next threshold
  real8 progressstep = 0.0;
  int4 archivesuppress = 0;  // 1: the archive file is not written (never set by the run)
  int4 archivechanged = 0;   // 1: the archive changed since it was last written
  int4 updatecount = 0;      // new bests since the last in-run allele-frequency update
  int4 acceptrun = 0;        // accepted moves and new bests since their last common reset
  int4 bestrun = 0;
  real8 prescreenpass = 0.0;  // pass and verdict counts of the pairwise pre-test
  real8 prescreencount = 0.0;
  real8 lociscale = 0.0;                   // scale of the screening temperature
  std::array<real8, 4> prescreencounts{};  // the 2 x 2 pre-screen counters, column-major
  FArray<int4, 2> moveweight{};            // (smplsize, 2) proposal weights of each offspring
  real8 newbestdiff = 0.0;                 // stop rules: new bests at this temperature
  real8 maxbestgain = 0.0;                 // and the largest gain among them

  // Derived by the restore from the restored configuration (not written).
  FStatic<int4, 1, 4> curnumassign{};
  real8 oldcndlogl = 0.0;   // candidate-parent term
  real8 oldlogprior = 0.0;  // configuration log prior
  FStatic<int2, 1, 2> numsizeclass{};
  int4 curnumselfer = 0;  // selfed offspring (one parent pool with selfing)
  // The score computed afresh from the restored configuration (check mode prints it).
  real8 recomputedlogl = 0.0;
};

// Writes the state checkpoint, then the archive when it changed, and the scores-and-precision
// checkpoint; each file is replaced whole or the program stops ("Failed writing " + name).
void savemidresult(CheckpointRunState& state);
// Appends every column of the window indivlocprt (smplsize rows each) to `out` as
// comma-terminated integers, in records of under 1000 characters; a column starts a record.
void writeintvector(std::string& out);
// Restores the state checkpoint, the archive and the scores-and-precision checkpoint. status 0:
// restored and committed to module state and `state`; any other status leaves both exactly as
// they were. With chkconfig set the restored score is printed and the program stops.
void readmidresult(int4& status, CheckpointRunState& state);

// Recomputes the search state from scratch after a move and stops the program at the first
// disagreement (a diagnostic on standard output and in "Kinrad2.ErrorMessage", exit status 1).
// iterate: the iteration; numassign, nsib, newnumfamily, prior, parentlogl: the caller's
// incremental values; acceptq: 1 after an accepted move, 0 after a rejected one.
void checkresult(int8 iterate, const FStatic<int4, 1, 4>& numassign,
                 const FStatic<int4, 1, 2>& nsib, const FStatic<int4, 1, 2>& newnumfamily,
                 real8 prior, real8 parentlogl, int4 acceptq);

// --- Parents proposed for a move -------------------------------------------------------------

// Proposes the candidate parents of the families the move in hand touches and fills the change
// lists indivparentage / inferparentage / numindivparentage of module annealvariables.
// sizes: (hssize(1), hssize(2), ownclustersize, hostclustersize); numassign: the current
// assigned candidates per sex, then offspring with an assigned candidate per sex;
// familymove: (current parent, proposed parent, sex) of a family move; eligible(0:listlen - 1,
// sex): per sex the candidates a family move may draw from, entry 0 their count (-1: not built
// yet); numunassigned: unassigned candidates per sex. result 1: admissible; 0: rejected.
void parentageassign(FStatic<int4, 1, 4>& sizes, FStatic<int4, 1, 4>& numassign, int4& movekind,
                     int4& movepos, FStatic<int4, 1, 3>& familymove, int4& listlen,
                     FArray<int4, 2>& eligible, int4& knownsibside,
                     FStatic<int4, 1, 2>& numunassigned, int4& result);

// Sibship-size changes of a proposed move of offspring, per sex: rows (size, current families
// of that size less proposed ones) in sibsize(1:2, 1..nchange(s), s), applied to
// sibshipsizedist. maxsize(1:2) the largest sizes before the move, (3:4) after it.
// ownclustersize: the current family sizes the move changes when both sexes are monogamous
// (second entry 0 for a single family). The caller undoes the change from the same rows.
void newsibdist(FStatic<int2, 1, 2>& nchange, FStatic<int2, 1, 4>& maxsize, int4 movekind,
                const FStatic<int4, 1, 2>& ownclustersize);

// logl = the summed candidatelogl of the candidates that no offspring of the configuration
// seen through inferparentprt has as parent and that are no known parents (either role with
// one parent pool); 0 without candidates.
void computeparentlogl(real8& logl);

// Mendelian screen of the trios the change lists create (new parent of one sex, the other
// parent as proposed or as it is): logl 0.0 when every trio passes at every error-free locus,
// -1e300 at the first that fails. n: the entries the lists may hold.
void checktriocompatability(real8& logl, int4 n);

// --- Pairwise score of a configuration and its change under a move ---------------------------
// Scores are sums of natural-log dyad values (single precision tables, summed in double).

// Pair codes of offspring a against m others. Two sexes: a = n states of (sex-1 family id,
// sex-2 family id), b = m rows of n such states each (row r, state t at b[2 * (n * r + t)]);
// codes 7 (both ids equal), 8 (one), 9 (none), 10 (sex-2 id only, haplodiploid species). One
// parent pool: the ids are unordered parent pairs (equal ids: selfed) and the codes 1..9.
// types[n * r + t] receives the code of row r in state t (both from 0).
void findsibtype(int4 n, int4* types, const int4* a, const int4* b, int4 m);
// Adds to logl the pair values of every pair between lista(0..na-1) and listb(0..nb-1) under
// one pair code.
void calculateoffpairlogl(real8& logl, int4 na, const int4* lista, int4 nb, const int4* listb,
                          int4 code);
// The pairwise score of the configuration seen through indivlocprt (columns 1-3) and
// inferparentprt.
void calculatecrrtpairlogl(real8& logl);
// Pairwise method: crloglikelihood(1) = a fresh score of the current configuration + add.
// Full likelihood: out = the likelihood term of the unassigned candidates.
void reduceerracct(real8& out, real8 add);
// prbpairsum(i) = the sum of offspring i's full-sib pair values; negated (>= 0) for an
// offspring with an impossible pair, whose impossible values are left out.
void setsumsibprb();

// The change of the score under the move in hand: out[0] gathers the terms of the touched
// pairs in the current configuration, out[1] in the proposed one.
// Parent-offspring terms of the changed parents.
void calculatepopairlogl(real8* out);
// One parent pool with selfing, individual move: d += the single-term change (current minus
// proposed) of each moved offspring whose selfed status changes.
void logl_change_self(real8& d);
// Offspring pairs of an individual move; n = the rows of the three lists.
void calculatepairlogl2(real8* out, int4 n);
// Offspring pairs when the moving offspring leave one full-sib family and join one (or a new
// cluster); may stop early once the proposal is refused against bound; out[1] = -1e300 when
// the joined family fails the Mendelian screen.
void calculatepairloglmonogamy(real8* out, real8 bound);
// Offspring pairs and parent terms of an individual move (a family move: parent terms only)
// in a sample with haploid offspring; n = numindiv(1) + numindiv(2).
void calculatedhpairlogl(real8* out, int4 n);

// --- Validity of a proposal ------------------------------------------------------------------

// Tests the proposal in the move tables against the constraints of the data and the mating
// system: configok 1 admissible, 0 refused (no message). knownsibside: the side (0, 1, 2) of the
// moving offspring's known sibship the move honours; movekind: 1 own cluster, 2 another
// cluster, 3 a new cluster, 0 a family move; wholesibshipsex: the sex whose known sibship is the
// whole sample (0 none). Writes equalconfig, and for an admitted proposal equal to the current
// configuration lastfamilyid(1) = 0 and the destination cluster's clustersize entries of the
// two sexes exchanged; everything else it touches is as before when it returns.
void checkconfiguration(int4& configok, int4 knownsibside, int4 movekind, int1 wholesibshipsex);

}  // namespace kinrad
