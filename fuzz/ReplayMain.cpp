// Feeds every file of the given directories (or the given files) to
// LLVMFuzzerTestOneInput once, so the fuzz corpus runs as a plain test in a
// build without libFuzzer.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool runFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int files = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    struct stat info;
    if (stat(argv[i], &info) != 0) {
      std::fprintf(stderr, "no such file or directory: %s\n", argv[i]);
      return 1;
    }
    if (!S_ISDIR(info.st_mode)) {
      ok = runFile(argv[i]) && ok;
      ++files;
      continue;
    }
    DIR* dir = opendir(argv[i]);
    if (dir == nullptr) return 1;
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = std::string(argv[i]) + "/" + name;
      if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
      ok = runFile(path) && ok;
      ++files;
    }
    closedir(dir);
  }
  std::printf("replayed %d inputs\n", files);
  return ok && files > 0 ? 0 : 1;
}
