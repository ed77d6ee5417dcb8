#pragma once
// Scratch of the configuration phase: grow-only buffers of the family builders, the priors and
// numbering tables, the archive's equality tests and the pairwise score. None of it is design
// state: every array is rebuilt before it is read, so an object of default values is a valid
// start (reset_all_modules resets it with the modules). Included only by its users.

#include <utility>
#include <vector>

#include "core/farray.hpp"
#include "core/kinds.hpp"

namespace kinrad {

// Work state of the family builders and the cluster registrations: buffers that only grow, and
// the picture of the cluster built last (parents and full-sib families numbered locally), from
// which the family structure of the likelihood engine is filled. Vectors are indexed from 1.
// They stay std::vector rather than FArray: the family build runs on every move, and with
// FArray it ran about 20% slower (the chain benchmark of the build: 0.54 ms -> 0.66 ms, median
// of 40 interleaved runs).
struct FamilyBuildWork {
  // The picture of the last cluster.
  FStatic<int4, 1, 2> nparent{};
  int4 numberfsfamily = 0;
  FStatic<int4, 1, 2> maxnumpartner{};
  int4 nmember = 0;
  int4 maxfamsize = 0;
  std::vector<int4> famparent1{};  // per family: local sex-1 (role-1) parent
  std::vector<int4> famparent2{};  // per family: local sex-2 (role-2) parent
  std::vector<int4> famloc{};      // members listed before family f; famloc[F + 1] = nmember
  std::vector<int2> member{};      // offspring numbers, family after family
  std::vector<int4> parentfam1{};  // per local sex-1 parent: its family id
  std::vector<int4> parentfam2{};
  std::vector<int4> parentjdx1{};  // one parent pool: role-2 index of role-1 parent k, or 0
  std::vector<int4> parentjdx2{};  // and the reverse
  // Side 1 of the move tables: per family id of sex (role) 1 and 2, the position of that parent
  // among the side's parents of its sex in the build that last held it. An entry is current
  // while the side's parentidx1 still names that id at that position.
  std::vector<int4> side1pos1{}, side1pos2{};
  // Buffers of one build.
  std::vector<int4> off{}, pid1{}, pid2{}, wfam1{}, wfam2{}, loc1{}, loc2{};
  std::vector<int4> adjloc{}, adjrow{}, queue{}, rowlist{}, famof{}, fill{};
  std::vector<int4> la{}, lb{}, mates1{}, mates2{};
  std::vector<int4> bucket{}, order{}, mark{}, prov{}, firstpos{}, newid{}, posfam{};
  std::vector<unsigned char> memb{}, seen{};
  std::vector<int4> label_rank{};  // label -> rank of the partition signature; all 0 between uses
  // The members of each cluster slot grouped by full-sib family, as the move tables take them,
  // kept from one build of the slot to the next while its member list and its members' local
  // family indices stay as they were: per slot the generation it was stored in (0: none) and
  // its record in the pool (member count, family count, the families' sizes, the members family
  // after family), and per offspring the slot whose record lists it. Moving the generation on
  // drops every record at once.
  int8 groupgeneration = 1;
  std::size_t groupused = 0;
  std::vector<int8> groupgen{};
  std::vector<int4> groupslot{};
  std::vector<int4> groupoff{}, grouppool{};
};

// Work state of the priors, the initial cluster numbering and the archive's equality tests:
// buffers that only grow. Vectors are indexed from 1.
struct ConfigurationTableWork {
  std::vector<int4> famcount{};   // members per family id (sibship sizes; capped counts)
  std::vector<int4> famcount2{};  // the same for the maternal ids of a dioecious species
  std::vector<int4> order{};      // offspring ordered by cluster
  std::vector<int4> members{};    // the members of one group
  std::vector<int4> sorted{};     // an index sort of one group
  std::vector<real8> key1{}, key2{};
  std::vector<int4> x1{}, x2{}, y1{}, y2{};  // family columns of one group in two configurations
  std::vector<int4> parents{};               // (father, mother) rows of one group, interleaved
  std::vector<std::pair<int4, int4>> pairs{};
  FArray<int4, 2> ca{}, cb{};  // (rows, 2): a group's family columns for the partition test
  std::vector<unsigned char> agree{};
};

// Work lists of the pairwise score and its change under a move: buffers that only grow, all
// mark vectors 0 between uses. Vectors are indexed from 0 unless stated.
struct PairScoreWork {
  std::vector<int4> count{};     // members per cluster id (1..), then their start offsets
  std::vector<int4> order{};     // offspring ordered by cluster, ascending within each
  std::vector<int4> counter{};   // one parent pool: unrelated partners of each offspring (1..n)
  std::vector<int4> lo{}, hi{};  // one parent pool: sorted parent pair of each member
  std::vector<int4> knownof{};   // family id (1..) -> known parent of its family
  std::vector<int4> entry1{}, entry2{};  // offspring (1..n) -> change-list entry per role
  std::vector<int4> eo{}, ec1{}, ec2{}, ep1{}, ep2{};  // entries of a move
  std::vector<int4> gstart{}, gcode{};                 // groups of equal entries, their codes
  std::vector<int4> run{};                             // a run of offspring with one code
  std::vector<int4> listo{}, lists{}, listd{};         // moving, staying, joined offspring
  std::vector<int4> cls{};                             // class order of the entries
  std::vector<real8> key{};
  std::vector<unsigned char> mark{};                   // ids / offspring marked (0 between uses)
  std::vector<int4> cnt{};                             // per offspring (1..n): unrelated terms
  std::vector<int4> pao{}, paold{}, panew{}, papos{};  // listed parent changes of one sex
};

// The configuration phase's scratch, one object.
struct ConfigurationWork {
  FamilyBuildWork family{};
  ConfigurationTableWork tables{};
  PairScoreWork pair_score{};
};

inline ConfigurationWork configuration_work{};

}  // namespace kinrad
