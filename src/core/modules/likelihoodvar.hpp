#pragma once
// The module `likelihoodvar`.
#include <array>
#include <vector>

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

// Family graph and peeling state of the likelihood engine.
struct Likelihoodvar {
  // Run-state placeholders of the family work state, sized for real by the family set-up.
  FArray<int4, 1> selfprnt{};  // (0:): count, then the parents acting in both roles
  FArray<int4, 1> idxloc{};    // (0:)
  FArray<int4, 1> idxtgt{};
  FArray<int1, 1> i1bflag{};
  FArray<Dpdim2, 1> fsprobptr{};
  FArray<int1, 1> fsprobidx{};
  FArray<int1, 1> allelehs{};     // per-locus set-up: alleles per parent, 0 pooled, -1 all
  FArray<int1, 1> allelehsnum{};  // (nallparent)
  FArray<int4, 1> allelehsloc{};  // (nallparent + 1)

  // Family work state, written by preparevariable for the family in hand. Arrays that depend
  // on the family's size keep their storage and only grow; their logical extent is held by the
  // scalars of the family (numfsibship, nallparent, ...).
  int4 maxnummate = 0;                  // largest number of mates of one parent
  FArray<int2, 2> mate1{};              // (0:maxnummate, nallparent) preparevariable: row 0 count
  FArray<int1, 1> fsib{};               // (numfsibship) per-locus set-up: 1 family in use
  FArray<int4, 2> clusterfamily{};      // (2, numfsibship) preparevariable: parents within sex
  FArray<int4, 1> clusterfamilysize{};  // (numfsibship) preparevariable
  FArray<int2, 1> fsibnodata{};         // (0:numfsibship) per-locus engine: families without data
  FArray<int4, 2> fsibid{};             // (nparent(1), nparent(2)) preparevariable: pair numbers
  FArray<int4, 1> hsib{};               // (nallparent) per-locus set-up: families still attached
  FArray<int4, 1> hsib2{};              // (nallparent) preparevariable: families of each parent
  FArray<int4, 1> knownprt{};           // (nallparent) preparevariable: candidate, 0 none
  FArray<int4, 1> nabsorb{};            // (numfsibship) absorb list; (1) = -1 not yet built
  FArray<int4, 2> iabsorb{};            // (2, numfsibship)
  FArray<int4, 2> parentprt{};          // (0:maxnumparent, 2) layer peeling
  FArray<int4, 1> locallelefs{};        // (numfsibship) per-locus set-up: start (from 0)
  FArray<int4, 1> numallelefs{};        // (numfsibship) per-locus set-up: count
  FArray<int1, 1> allelefs{};           // per-locus set-up: alleles of each family, pooled 0 last
  FArray<int4, 1> clusterfamilyloc{};   // (numfsibship + 1) preparevariable
  FArray<int2, 1> fsprobdim{};          // (numfsibship) per-locus set-up: table dimension
  FArray<int2, 1> hsprobdim{};          // (nallparent) per-locus set-up: genotypes of each parent
  FArray<int4, 1> hsprobloc{};          // (nallparent + 1) per-locus set-up: block starts
  FArray<real8, 2> prntinbcoe{};        // (maxnumparent, 2) preparevariable: inbreeding of parents
  int4 numlayer = 0;                    // 2147483647: layer order not yet determined
  int4 indivg12 = 2;                    // 1: read two-allele codes from indivgtype1
  FStatic<int4, 1, 2> infergtype{};     // fixed genotype of inference mode (allele codes)
  int4 infergtypeprnt = 0;
  int4 infergtypesex = 0;  // 0: normal mode
  int4 inferg2 = 0;
  FStatic<int4, 1, 4> mabsorb{};
  int4 maxhsprobdim = 0;
  int4 maxfsprobdim = 0;
  int4 maxfshsdim = 0;
  int4 crrtmarkertype = 0;  // alleles when above 2, else 1 dominant, 2 codominant
  // Running natural-log constant of the locus in hand: every factor pulled out of a
  // probability vector is added here.
  real8 loglikehoodconst = 0.0;
  // setgtypefre: prior of each parent genotype, block of parent j after hsprobloc(j).
  FArray<real8, 1> crrtgenotypefre{};
  // Full-sib tables: fsprob(j, fsprobloc(f) + i); grows to (rows, total columns).
  FArray<real8, 2> fsprob{};
  FArray<int2, 2> fsgtypeidx{};  // (0:, numfsibship) per-locus: (0, f) = 0 no trimmed list
  FArray<int4, 2> fsgtypejdx{};  // (words, numfsibship)
  FArray<int1, 1> flagsnp{};     // two-allele routines; released for each family
  // Absorb list: per entry, the other role of the receiving individual that takes a copy of its
  // vector (monoecious species); -1 not yet resolved, 0 none.
  FArray<int4, 1> copyfre{};
  // Peeling work: class weights of the parent summed out and per-class sums of the receiving
  // parent (-1 not yet computed), one entry per genotype class of the locus.
  FArray<real8, 1> peelweight{};
  FArray<real8, 1> peelsum{};
  // Working copies of hsib and fsib while the absorb list is chosen.
  FArray<int4, 1> hsibcopy{};
  FArray<int1, 1> fsibcopy{};
  // Selfing generations: per full-sib family its row of the two-allele count cache (0 none), and
  // the counts of codes 1..3 per cached selfed family and two-allele locus position. The cache
  // exists only while ng2selfnum > 0 (the storage itself only grows).
  FArray<int4, 1> ng2selfidx{};
  FArray<int2, 3> ng2self{};  // (3, cached families, locus2(0))
  int4 ng2selfnum = 0;        // cached selfed families; 0 when the cache does not exist
  // Work lists of the selfing-generation estimate: the entries (p, count) over all loci, and per
  // count value its running product and the log taken out of it.
  FArray<real8, 1> selfentryp{};
  FArray<int4, 1> selfentryn{};
  FArray<real8, 1> selfprod{};   // (maxfsibsize)
  FArray<real8, 1> selflog{};    // (maxfsibsize)
  FArray<int4, 1> selfcounts{};  // (0:maxfsibsize) distinct count values in use, count first
  // Absorption of selfed offspring: per parent genotype the summed 100 w ln row values.
  FArray<real8, 1> selfsum{};
  // Dominant block whose full-sib keys domfsibsave holds; 0 none. Lives for the process.
  int4 dominant_cache_block = 0;

  // First allocations of the per-analysis set-up; their users size and fill them.
  FArray<int4, 2> scaleidx{};       // (2, 2)
  FArray<int2, 1> userowsnp{};      // (1:1)
  FArray<int4, 1> domfsibsave{};    // (1:1)
  FArray<real8, 1> domconstlogl{};  // (1:1)
  FArray<int2, 2> familyindivll{};  // (3, 1:1)
  FArray<int2, 1> familyindiv{};    // (1:1)
  FArray<int2, 4> fsfamilygtype{};  // (0:k, 2, family, locus3 position)
  int4 fsfamilygtype_k = 0;         // k of the family in hand (the storage may be larger)
  FArray<I2bdim2, 1> prbindex{};    // per family allele count, tables built on first use
  std::array<FArray<int2, 2>, 9> prbindex_store{};  // storage of the prbindex tables
  // Genotype numbers of the allele pairs of k alleles, one k x k table per k from position
  // fsgtypeidloc(k) + 1; element 1 of both holds the total size of the tables.
  FArray<int4, 1> fsgtypeidloc{};
  FArray<int4, 1> fsgtypeid{};

  // Layer peeling of clusters with cycles (nodes: parents, or individuals in a one-sex species).
  // Layer states 0 to layercap, and layercap + 1 keeping state 0 for a second pass: the weights
  // of every parent still in the graph after the simple peeling, block of parent p from
  // layerwloc(p) + 1; the families still linking each parent, count in layernummate. Storage only
  // grows; the family's own counts give the extent in use.
  int4 layercap = 0;               // deepest layer state the arrays hold
  FArray<int4, 1> layercore{};     // (0:nallparent) count, then the parents in the graph
  FArray<int4, 1> layerwloc{};     // (nallparent) block start of each parent (from 0)
  FArray<real8, 2> layerweight{};  // (total genotypes, 0:layercap)
  FArray<int4, 2> layernummate{};  // (nallparent, 0:layercap)
  FArray<int4, 3> layermate{};     // (maxnummate, nallparent, 0:layercap) family numbers
  FArray<real8, 1> layerxvalue{};  // (0:layercap) path value, times exp(layerxlog)
  FArray<real8, 1> layerxlog{};    // (0:layercap) natural log carried out of the path value
  FArray<int8, 1> layerkey{};      // (nallparent) tie-break key of a conditioning parent
  FArray<int4, 1> layersingle{};   // (nallparent) parents left with one family, to absorb
  real8 layerprb = 0.0;            // sum of the finished paths, times exp(layerlogfactor)
  real8 layerlogfactor = 0.0;
  // Sex scan order of the conditioning choice: first sex, last sex, step ((1, 2, 1) fathers
  // first, (2, 1, -1) mothers first).
  std::array<int4, 3> absorbsex{1, 2, 1};
  // Layer at which the pair and single absorption emptied the remaining graph; 0 none.
  int4 allabsorbedlayer = 0;
  int4 layerdeepest = 0;  // deepest layer that conditioned a parent at the last locus
  // Relative cut-offs per layer state (natural logs): the largest path value and the largest
  // product of conditioning genotypes' reduction weights seen at the locus; that product on the
  // path in hand.
  FArray<real8, 1> layerxrange{};  // (0:layercap)
  FArray<real8, 1> layerzrange{};  // (0:layercap)
  FArray<real8, 1> layerzlog{};    // (0:layercap)

  // Layers of one pass of the layer peeling, fixed when a layer is first visited (the graph
  // entering a layer does not depend on the genotypes conditioned above it). Storage only grows.
  FArray<int4, 1> layerpeel{};     // (1:layercap) conditioning node of each layer, 0 not chosen
  FArray<int4, 2> layerprnt{};     // (0:nallparent, 1:layercap) nodes with families entering it
  FArray<int1, 1> layerrole{};     // (nallparent) roles a node holds: bit 1 father, bit 2 mother
  FArray<real8, 2> sumlayeridx{};  // (maxhsprobdim, 1:layercap) mass found per conditioning slot
  FArray<real8, 1> sumlayerlog{};  // (1:layercap) log factor of those sums; -huge unvisited
  FArray<real8, 1> layerrange{};   // (1:layercap) largest log product of touched weight sums
  FArray<real8, 1> layerxcut{};    // (1:layercap) log cut of the path values at the last layer
  int4 numlayerscaler = 3;         // layers per scaling block
  FArray<int1, 1> layerdone{};     // (nallparent) node touched in the layer in hand
  FArray<int4, 1> layertouched{};  // (0:nallparent) those nodes, count first
  // Equivalent genotypes merged per layer state (genotypes of a node whose table rows with all
  // its current families are the same): merges (node, merged, representative) of state s in
  // columns trimfirst(s) to trimlast(s), found on the state's first visit in the pass.
  FArray<int4, 2> trimmap{};     // (3, capacity)
  FArray<int4, 1> trimfirst{};   // (0:layercap)
  FArray<int4, 1> trimlast{};    // (0:layercap), trimfirst - 1 when nothing merges
  FArray<int1, 1> newlayerq{};   // (0:layercap) 1 until the state's merges are found
  FArray<real8, 2> trimpsave{};  // (maxhsprobdim, 1:layercap) conditioning node's parentsum
  int4 trimused = 0;             // columns of trimmap in use
  int4 layerpasses = 0;          // passes the last layer peeling took (2 after a retry)
  int1 layercut = 0;  // 1 when the reduction or a relative cut-off of the layer stage dropped
                      // a branch of positive weight at the locus in hand
  FArray<real8, 1> layerclsum{};       // work: a family's sum per table class of the receiving node
  FArray<int4, 1> peelclass{};         // (maxhsprobdim) work: classes of an absorbed parent's
                                       // compatible genotypes in the simple peeling
  FArray<real8, 1> peelclassweight{};  // (maxhsprobdim) work: their weights

  // Genotype-set reduction of the parents left to the layer peeling, columns by joint parent
  // number; storage only grows.
  FArray<real8, 2> parentsum{};    // (maxhsprobdim, nallparent) weight of each genotype
  FArray<real8, 1> parentslot{};   // (nallparent) largest weight, -1 not weighed
  FArray<int2, 1> selectedpnum{};  // (nallparent) genotypes kept; 0 not yet reduced
  FArray<int2, 2> idxselectedp{};  // (maxhsprobdim, nallparent) kept positions, heaviest first
  int4 maxselectedp = 0;           // largest selectedpnum at the locus
  FArray<int4, 1> indexgtype{};    // (maxhsprobdim) work: positions still alive
  FArray<real8, 1> reducevalue{};  // (maxhsprobdim) work: a family's factor per genotype
  FArray<int4, 1> reduceorder{};   // (maxhsprobdim) work: order of the kept weights

  // Equivalent genotypes per family and side (1 father, 2 mother): row 0 the count, then the
  // distinct table indices of the parent's kept genotypes in first-occurrence order; equilineq
  // 1 when the classes save at most one genotype on that side.
  FArray<int4, 3> equiline{};   // (0:maxhsprobdim, numfsibship, 2)
  FArray<int1, 2> equilineq{};  // (numfsibship, 2)
  FArray<int4, 1> equimap{};    // work: representative of each table index

  // Posterior genotypes of one family at one locus: grow-only scratch of genotypeinference,
  // sized by the locus's genotype count and the family's parents; nothing carries meaning
  // between calls.
  std::vector<real8> infer_q{};          // population prior of each genotype of the locus
  std::vector<real8> infer_logl{};       // (n x n) log likelihood with the parent fixed at a/b
  std::vector<real8> infer_post{};       // (ng x nallparent) each parent's posterior vector
  std::vector<real8> infer_trans{};      // (n x nallparent) each parent's allele transmission
  std::vector<real8> infer_work{};       // (ng) offspring prior, posterior, sort keys
  std::vector<real8> infer_child{};      // (ng) offspring posterior
  std::vector<real8> infer_prior{};      // (ng + n) offspring priors of one family, by ploidy
  std::vector<int4> infer_index{};       // (ng) sort order
  std::vector<int4> infer_alleles{};     // (n + 1) gathered alleles of the parent in hand
  std::vector<int1> infer_kept{};        // (ng) 1 when a genotype is kept by the normalisation
  std::vector<int4> infer_obs{};         // (2 x nallparent) observed alleles of each parent
  std::vector<int1> infer_data{};        // (nallparent) 1 when some offspring is typed
  std::vector<int1> infer_diploidoff{};  // (nallparent) 1 when the parent has diploid offspring
  std::vector<int4> infer_support{};     // genotypes a parent of a lone full-sib family can have
  std::vector<real8> infer_pairlogl{};   // (support^2) log joint weight of each parent pair
  std::vector<real8> infer_obsprob{};    // (ng x family size) each offspring's observation
};

constinit inline Likelihoodvar likelihoodvar{};

}  // namespace kinrad
