// Writes a simulated project input file: make_sample FILE [key=value ...], the keys those of
// SampleParameters (their defaults otherwise); run without arguments it lists them.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "simulated_sample.hpp"

namespace {

void usage() {
  std::fprintf(stderr, "usage: make_sample FILE [key=value ...]\nkeys (default):\n%s",
               kinrad::bench::sample_keys().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    usage();
    return 1;
  }
  // A key in first place would otherwise become the name of the file written.
  if (std::strchr(argv[1], '=') != nullptr) {
    std::fprintf(stderr, "the first argument names the file to write, not a key: %s\n", argv[1]);
    usage();
    return 1;
  }
  kinrad::bench::SampleParameters p;
  for (int a = 2; a < argc; ++a)
    if (!kinrad::bench::set_sample_key(p, argv[a])) {
      std::fprintf(stderr, "not a key=value of the keys below: %s\n", argv[a]);
      usage();
      return 1;
    }
  std::ofstream out(argv[1], std::ios::binary);
  out << kinrad::bench::simulated_project(p, "simulated");
  return out ? 0 : 1;
}
