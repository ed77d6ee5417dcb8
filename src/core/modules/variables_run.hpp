#pragma once
// Part of the module `variables`: process identity, error lines, command-line options, run
// parameters of the project input file and the random-number states.
#include <string>

#include "core/farray.hpp"
#include "core/fixed_string.hpp"
#include "core/kinds.hpp"
#include "core/record_types.hpp"

namespace kinrad {

struct VariablesRun {
  // Process identity: this program always runs as process 0 of 1.
  int4 threadid = 0;
  int4 numthreads = 1;
  // 1 when the work of one likelihood evaluation is split over processes; never with one.
  int4 parallelq = 0;

  // Error lines of the error stop; blank at start.
  FStatic<FString<999>, 1, 5> errmsg{};
  // Output stem, filled by the input reader; empty until then.
  std::string fname{};

  // Command-line options and their defaults.
  FString<500> inputfilename{"kinrad2.dat"};
  FString<500> outputfilename{};
  int4 displayq = 1;  // this process writes to the screen
  int4 screenq = 1;
  int4 showq = 1;                // progress display on
  FString<5> lineform{"(A,$)"};  // edit format of progress writes
  int4 igui = 0;
  int4 runcutshortq = 0;
  int4 chkconfig = 0;
  int4 newseed = 0;
  int4 restart = 1;
  int4 checkmode = 0;
  int4 iarchive = 1;
  int4 errestimate = 1;
  int4 allelefreest = 1;
  int4 showversion = 1;
  int4 systemrun = 0;
  int4 simuq = 0;
  int4 compfsprob = 1;
  int4 compdyadprob = 1;

  // Sample and run parameters.
  int4 smplsize = 0;
  int4 numloci = 0;
  int4 numrun = 0;
  int4 krun = 0;
  int4 updateallelefre = 0;  // 2: allele frequencies updated in rounds
  // Offspring numbers 1..smplsize as left-adjusted text, for itoc.
  FArray<FString<5>, 1> stroffidx{};
  // Loci with exactly two observed alleles; element 0 holds their count.
  FArray<int4, 1> locus2{};

  // Checkpoint names; element 5 is the pairwise-step marker.
  FStatic<FString<999>, 1, 5> midfilename{};

  // Best log likelihood over all runs and of the current run (-1e300: none yet).
  real8 bestlogl = -1e300;
  real8 btloglikelihood = -1e300;

  // Run parameters of the project input file.
  FString<500> datasetname{};
  int4 i_seed = 0;
  int4 numsex = 0;  // 2 dioecious, 1 monoecious
  int4 allowinbreeding = 0;
  real8 inbreeding = 0.0;
  int4 haplodiploid = 0;
  FStatic<int4, 1, 2> ploidy{};      // per sex
  FStatic<int4, 1, 2> maxmatings{};  // per sex; unconstrained is stored as smplsize
  int4 allowclone = 0;
  int4 fsscaleq = 0;
  int4 priortype = 0;
  FStatic<real8, 1, 2> ewenmeannumprnt{};  // 1e99 when no prior
  int4 popallelefreknownq = 0;
  FArray<int4, 1> popnumallele{};   // per locus
  FArray<int4, 2> popallele{};      // allele position x locus
  FArray<real8, 2> popallelefre{};  // allele position x locus
  int4 lengthrun = 0;
  int4 monitormethod = 0;
  int4 monitorinterval = 0;
  int4 fulllikelihoodmethodq = 0;
  int4 quicksearchq = 0;
  int4 likelihoodprecision = 0;
  // A carriage return and blanks: writing its first characters ends a progress line.
  FString<64> blkln{};

  // Random-number states and the offspring identifiers of the utilities.
  // The search stream: seed (negative until the stream is started), second generator, shuffle
  // table and last shuffle output. All four go into the checkpoints, so that a resumed search
  // continues the same sequence.
  int4 idum3 = -12345;
  int4 idum2 = 123456789;
  FStatic<int4, 1, 32> idumiv{};
  int4 idumiy = 0;
  // Seed of the simulation stream; a value at or below 0 restarts it on the next draw.
  int4 idum = -12345;
};

}  // namespace kinrad
