#include "map_tool.h"

int main(int argc, char** argv) { return maps::run_map(argc, argv); }
