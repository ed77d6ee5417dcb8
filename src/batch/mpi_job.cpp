// The runner's only contact with MPI: start-up, rank and size, the final barrier and shut-down.
// Kept apart from the rest of the runner so that only this file needs the MPI headers.
#include <mpi.h>

#include <iostream>

#include "batch/batch_runner.hpp"
#include "core/command_line.hpp"
#include "core/format_write.hpp"

namespace kinrad::batch {

namespace {

// Returns false when MPI could not start; that process has then said so itself.
bool initializethreads(int& argc, char**& argv) {
  variables.threadid = 0;
  variables.numthreads = 1;
  if (MPI_Init(&argc, &argv) != MPI_SUCCESS) {
    fwrite(std::cout, "*", "Error in initialising MPI threads!");
    std::cout.flush();
    return false;
  }
  int rank = 0;
  int size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  variables.threadid = rank;
  variables.numthreads = size;
  variables.threadic = adjustl(fwrite_string("(I8)", variables.threadid));
  return true;
}

}  // namespace

int kinradbatchrun_main(int argc, char** argv) {
  if (!initializethreads(argc, argv)) return 1;
  set_command_line(argc, argv);
  if (variables.threadid == 0) fwrite(std::cout, "(A)", "Reading kinrad input file names...");
  // Every process reaches the same verdict on the names, so all of them stop together and
  // each shuts MPI down, which lets the launcher end the job cleanly with the failure status.
  if (!readfilename()) {
    MPI_Finalize();
    return 1;
  }
  const bool allok = runfiles();
  if (variables.numthreads >= 2) MPI_Barrier(MPI_COMM_WORLD);
  MPI_Finalize();
  return allok ? 0 : 1;
}

}  // namespace kinrad::batch
