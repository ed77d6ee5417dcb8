#pragma once
// The opening steps of an analysis, in the program's order: read the project, initialise,
// prepare the data, check it against the data copy, and build the per-analysis tables. The
// program runs them through run_sequence; tests and benchmarks that need prepared data call the
// same steps here.

namespace kinrad {

struct PrepareOptions {
  bool quiet = false;        // no screen lines after the project is read (tests, benchmarks)
  bool check_data = true;    // compare with the data copy, delete stale checkpoints and caches
  bool tables = true;        // build the per-analysis tables (analysis_tables)
  bool named_phases = true;  // each step through run_phase (a failed allocation names it)
};

// The per-analysis tables: initialfsprob over every locus, then the dyad tables and the
// best-candidate lists the pairwise step reads, then, in a species with selfing, the selfed
// parent-offspring tables.
void analysis_tables();

// readdata, initialize, dataprocess, checkdata (process 0) and analysis_tables, as chosen.
void prepare_analysis(const PrepareOptions& options = {});

}  // namespace kinrad
