#include <cstdio>

int main(int argc, char **argv) {
  (void)argv;
  if (argc != 2) {
    std::fputs("Usage: Kestrane parameter.file\n", stderr);
    return 1;
  }
  return 0;
}
