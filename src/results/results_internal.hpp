#pragma once
// What the routines of the result phase share: the work copies of `output`, the canonical form
// of the best configuration and of the archive, the cluster regrouping, and the steps of
// `output` that are filled by their own files.
#include <array>
#include <functional>
#include <string_view>
#include <vector>

#include "core/config_record.hpp"
#include "core/farray.hpp"
#include "core/keep_value.hpp"
#include "core/kinds.hpp"

namespace kinrad {

// The work copies `output` holds from its first step to its last.
struct OutputContext {
  FArray<int4, 1> offspringlist{};  // n: cluster members and sorted orders
  FArray<int4, 2> savedparent{};    // (n, 2): the known parentage as read
  bool knownparents = false;        // indivparent was allocated on entry
  FArray<int4, 1> clustcopy1{};     // n: column 3 before the regrouping (unknowngen = 1)
  FArray<int4, 1> clustcopy2{};     // n: column 3 after the regrouping (unknowngen = 1)
  FArray<real8, 1> clusterprob{};   // btnumfamily(3): probability of each reported cluster
  FArray<real8, 1> probinc{};       // n: inclusive probability of each full-sib family
  FArray<real8, 1> probexc{};       // n: exclusive probability
  // Selfing rate and its 95% bounds; -1 until the full-sib family step sets them.
  std::array<real8, 3> selfrate{-1.0, -1.0, -1.0};
  std::vector<int4> cloneindex{};  // n: printed clone index (allowclone = 1)
};

// --- The canonical best configuration and archive ---------------------------------------------

// One parent pool: the smaller family id of each unconstrained offspring first, in the best
// configuration and in every archived record (whose parent columns become dense when there
// are candidates).
void normalise_one_pool();
// Renumbers column 3 of btindivloc 1, 2, ... in order of the first offspring of each cluster.
void renumber_best_clusters();
// Spreads each known parent over the whole sibship that holds it, in the configuration seen
// through indivlocprt (columns 1 and 2); rewrites indivparent. With two known parents of one
// sex in one family, the larger candidate number holds; in one parent pool the first known
// parent found for a family id holds in both columns.
void mergeparentage();
// key(i) of offspring i: its full-sib family, from the two family columns of `parents`
// ((n, 2) or wider). 64-bit keys: the one-pool key overflows 32 bits from n near 23,200.
void findfsfamilyid(const FView<int4, 2>& parents, int8* key);
// Joins the clusters of the configuration seen through indivlocprt/inferparentprt that an
// offspring links as the (assigned or known) parent of an offspring of another cluster, and
// numbers the groups 1..G by lowest offspring into column 3.
void recluster();
// Regroups every archived record (unknowngen = 1): decode, known parentage as read, spread,
// recluster, and the new cluster column stored in the record.
void regroup_archive(const FArray<int4, 2>& knownparents, bool haveknown);
// Decodes an archived record into offtgt/prnttgt as convertconfig does, except that column 3
// comes from the record's stored cluster column whenever it has one.
void decode_archived(Config* record, real8& logl);

// --- Steps of `output` filled by their own files ----------------------------------------------
// Each does nothing until its step is built; `output` calls them in their place.

// The printed parent names of the best configuration into bestparentid (allocated (n, 2)).
void name_best_parents();
// prob(k): the probability of cluster k of the best configuration over the archive.
void findfamilyprob(FArray<real8, 1>& prob);
// ".BestCluster".
void write_best_cluster(const FArray<real8, 1>& prob);
// Inclusive and exclusive probabilities of the full-sib families of the best configuration;
// selfrate receives the selfing rate and its bounds; with clones, fills cloneconfig.
void findfsfamilyprob(FArray<real8, 1>& probinc, FArray<real8, 1>& probexc, int4 n,
                      std::array<real8, 3>& selfrate);
// ".BestFSFamily".
void write_best_fs_family(const FArray<real8, 1>& probinc, const FArray<real8, 1>& probexc);
// The printed clone index of each offspring (from element 0): clone groups numbered by first
// offspring.
void number_clone_groups(std::vector<int4>& cloneindex);
// ".BestConfig" and ".BestConfig_Ordered" (with the clone index when clones are inferred).
void write_best_config(const std::vector<int4>& cloneindex);
// ".ConfigArchive", its summaries and, with option DYD, the dyad files.
void archiveconfigwrite();
// ".Inbreeding".
void write_inbreeding(const std::array<real8, 3>& selfrate);
// The genotype and allele-frequency inference with the three genotype files.
void infer_genotypes_and_frequencies();
// ".AlleleFreq".
void write_allele_frequencies();
// The error-rate estimation and ".ErrorRate".
void errorrateestimate();

// --- Test seam ---------------------------------------------------------------------------------

// Called with the name of each step of `output` before it runs (tests only; empty otherwise).
void set_output_seam(std::function<void(std::string_view step)> seam);

}  // namespace kinrad
