// The shared raster module: formats, half-offset roundings, failure conventions, arguments,
// the pixel-block schedule, statistics.
#pragma once

#include "args.h"
#include "buffer.h"
#include "halfoffset.h"
#include "parallel.h"
#include "pixelblocks.h"
#include "rasterfile.h"
#include "report.h"
#include "stats.h"
