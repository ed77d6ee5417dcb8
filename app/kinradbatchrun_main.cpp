#include "batch/batch_runner.hpp"

int main(int argc, char** argv) {
  return kinrad::batch::kinradbatchrun_main(argc, argv);
}
