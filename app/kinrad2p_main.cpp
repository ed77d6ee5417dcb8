#include "program/main_program.hpp"

int main(int argc, char** argv) {
  return kinrad::kinrad2p_main(argc, argv);
}
