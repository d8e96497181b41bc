// Prints what the utility library reports about itself.
#include <cstdio>

int main() {
  std::printf("tvan library report\n");
  return 0;
}
