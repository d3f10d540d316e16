#include "Boot/KestraneApp.h"

int main(int argc, char **argv) { return kestrane::KestraneMain(argc, argv); }
