// Writes the seed inputs into a folder, one file each: make_seeds DIR
#include <filesystem>
#include <fstream>
#include <iostream>

#include "fuzz/seeds.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " DIR\n";
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);
  for (const auto& seed : morva::fuzz::seedInputs()) {
    std::ofstream out(dir / seed.name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(seed.bytes.data()),
              static_cast<std::streamsize>(seed.bytes.size()));
    if (!out) {
      std::cerr << "cannot write " << (dir / seed.name) << "\n";
      return 1;
    }
  }
  return 0;
}
