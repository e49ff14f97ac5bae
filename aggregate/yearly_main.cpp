#include "yearly.h"

int main(int argc, char** argv) { return aggregate::run_yearly(argc, argv); }
