// fennick: per-pixel dissimilarity (or similarity) of the vegetation composition of two periods.
#include "fennick.h"

int main(int argc, char** argv) {
  fennick::run(fennick::parse_args(argc, argv));
  return 0;
}
