// nibtool: the portable core from the command line, for benchmarks and for
// checking by hand.
//   nibtool zip <folder> <archive>   pack as the upload does; prints the count
//   nibtool gb2big5                  GB2312 on standard input to Big5 on standard output
//   nibtool unique-name              a fresh unique name

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "services/Gb2Big5.h"
#include "services/UniqueName.h"
#include "zip/ZipWriter.h"

namespace {

int Usage() {
  std::cerr << "usage: nibtool zip <folder> <archive> | nibtool gb2big5 | nibtool unique-name\n";
  return 2;
}

int Zip(const std::string& folder, const std::string& archive) {
  if (!std::filesystem::is_directory(folder)) {
    std::cerr << "nibtool: cannot read the folder " << folder << "\n";
    return 1;
  }
  nib::ZipWriter writer;
  writer.SetRootFolder(folder);
  writer.AddMask("*.*");
  writer.SetRelativePaths(true);
  writer.SetArchiveName(archive);
  try {
    std::cout << writer.Pack() << "\n";
  } catch (const std::exception& e) {
    std::cerr << "nibtool: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

int Gb2Big5() {
  // Piece by piece, so memory does not grow with the input.
  std::string pending, big5;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    size_t read = std::fread(buffer.data(), 1, buffer.size(), stdin);
    pending.append(buffer.data(), read);
    big5.clear();
    pending.erase(0, nib::GbToBig5Append(pending, big5, read == 0));
    if (std::fwrite(big5.data(), 1, big5.size(), stdout) != big5.size()) return 1;
    if (read == 0) break;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int UniqueName() {
  std::random_device random;
  char guid[39];
  unsigned parts[4] = {random(), random(), random(), random()};
  std::snprintf(guid, sizeof guid, "{%08X-%04X-%04X-%04X-%04X%08X}", parts[0], parts[1] >> 16, parts[1] & 0xFFFF,
                parts[2] >> 16, parts[2] & 0xFFFF, parts[3]);
  std::cout << nib::UniqueNameOfGuidText(guid) << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "zip" && argc == 4) return Zip(argv[2], argv[3]);
  if (command == "gb2big5" && argc == 2) return Gb2Big5();
  if (command == "unique-name" && argc == 2) return UniqueName();
  return Usage();
}
