#include "main/cli.h"

int main(int argc, char **argv) { return reflasher_main(argc, argv); }
