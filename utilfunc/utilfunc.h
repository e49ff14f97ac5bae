// The shared raster module: formats, half-offset roundings, failure conventions, statistics.
#pragma once

#include "buffer.h"
#include "failu.h"
#include "halfoffset.h"
#include "parallel.h"
#include "rasterfile.h"
#include "stats.h"
