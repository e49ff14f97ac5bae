#include "jobs.h"

int main(int argc, char** argv) { return jobs::run_change(argc, argv); }
