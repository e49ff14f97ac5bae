// slivet: keeps bands startband..endband of every block of nbands bands, copied bit for bit.
#include "bandmath.h"

int main(int argc, char** argv) { return bandmath::run_slivet(argc, argv); }
