// Replays a fuzz target's seed corpus, then seeded mutations of each seed
// (bit flips, byte sets, truncations, insertions), so the test suite exercises
// every parser of outside files under the sanitizers without libFuzzer.
// replay <corpus-dir> [mutations-per-seed]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  std::vector<std::vector<uint8_t>> seeds;
  if (argc > 1 && std::filesystem::is_directory(argv[1])) {
    for (const auto& e : std::filesystem::directory_iterator(argv[1])) {
      if (!e.is_regular_file()) continue;
      std::ifstream in(e.path(), std::ios::binary);
      seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  seeds.push_back({});
  long mutations = argc > 2 ? std::atol(argv[2]) : 1000;
  std::mt19937 rng(12345);
  long runs = 0;
  for (const auto& seed : seeds) {
    LLVMFuzzerTestOneInput(seed.data(), seed.size());
    ++runs;
    for (long m = 0; m < mutations; ++m) {
      std::vector<uint8_t> d = seed;
      int edits = 1 + int(rng() % 8);
      for (int k = 0; k < edits; ++k) {
        switch (rng() % 5) {
          case 0: if (!d.empty()) d[rng() % d.size()] ^= uint8_t(1u << (rng() % 8)); break;
          case 1: if (!d.empty()) d[rng() % d.size()] = uint8_t(rng()); break;
          case 2: if (!d.empty()) d.resize(rng() % d.size()); break;
          case 3: d.insert(d.begin() + (d.empty() ? 0 : long(rng() % d.size())), uint8_t(rng())); break;
          case 4: if (d.size() >= 4) { size_t i = rng() % (d.size() - 3); uint32_t v = (rng() % 2) ? 0xFFFFFFFFu : uint32_t(rng() % 70000); for (int b = 0; b < 4; ++b) d[i + b] = uint8_t(v >> (24 - 8 * b)); } break;
        }
      }
      LLVMFuzzerTestOneInput(d.data(), d.size());
      ++runs;
    }
  }
  std::printf("replayed %ld inputs from %zu seeds\n", runs, seeds.size());
  return 0;
}
