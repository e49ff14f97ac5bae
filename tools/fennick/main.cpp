// fennick: per-pixel dissimilarity (or similarity) of the vegetation composition of two periods.
#include "fennick.h"

int main(int argc, char** argv) { return fennick::run_fennick(argc, argv); }
