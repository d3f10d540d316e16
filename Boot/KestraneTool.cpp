#include <cstdio>

int main(int argc, char **argv) {
  (void)argc;
  (void)argv;
  std::fputs("Usage: kestrane-tool create|import|eval ...\n", stderr);
  return 1;
}
