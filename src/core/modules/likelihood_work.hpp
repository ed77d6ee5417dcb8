#pragma once
// Scratch of the likelihood engine that outlives one call: the state one routine leaves for the
// routines it calls back. Not design state; reset_all_modules resets it with the modules.
// Included only by its users.

namespace kinrad {

// What kind of locus the tables belong to.
struct LocusKind {
  bool twoallele = false;  // parents' positions are the table classes (also dominant loci)
  bool dominant = false;
  bool errors = false;  // codominant with typing errors
};

// The likelihood engine's scratch, one object.
struct LikelihoodWork {
  // The kind of locus of the layer run in hand, for the absorption routines' table reads.
  LocusKind layer_kind{};
};

inline LikelihoodWork likelihood_work{};

}  // namespace kinrad
