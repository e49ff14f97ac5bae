# The suite's pixels on the full longitude/latitude grid, as terra SpatRasters, and back.
# terra is a suggested package: nothing here is called unless the user asks for a SpatRaster.

# Resolutions tried, largest first, when the grid's longitudes must tell the resolution.
grid_res_candidates <- c(2, 1, 0.5, 0.25, 1 / 6, 1 / 12)
# Grid files store hundredths of a degree: coordinates sit on the grid within this distance.
grid_tolerance <- 0.005 + 1e-9

need_terra <- function() {
  if (!requireNamespace("terra", quietly = TRUE)) {
    stop("this needs the R package 'terra': install it with 'apt-get install r-cran-terra' ",
         "(Debian) or install.packages(\"terra\")", call. = FALSE)
  }
}

# Half-up rounding, as the suite's tools place pixels (R's round() rounds half to even).
round_half_up <- function(v) floor(v + 0.5)

on_lattice <- function(v, offset, res) {
  k <- round_half_up((v - offset) / res)
  all(abs(v - (offset + k * res)) <= grid_tolerance)
}

infer_res <- function(lon, west = -180) {
  for (r in grid_res_candidates) {
    if (on_lattice(lon, normal_west(west, r) + r / 2, r)) return(r)
  }
  stop(sprintf(paste0("the grid's longitudes fit none of the resolutions %s degrees; ",
                      "give 'res'"), paste(format(grid_res_candidates, digits = 4),
                                           collapse = ", ")), call. = FALSE)
}

check_lon_res <- function(lon, res, west = -180) {
  west <- normal_west(west, res)
  k <- round_half_up((lon - west - res / 2) / res)
  off <- which(abs(lon - (west + res / 2 + k * res)) > grid_tolerance)
  if (length(off)) {
    stop(sprintf("pixel %d (longitude %s) is not on a cell centre of a %s degree grid%s",
                 off[1L], format(lon[off[1L]]), format(res, digits = 4),
                 if (west == -180) "" else sprintf(" from %s", format(west, digits = 15))),
         call. = FALSE)
  }
  res
}

# The lattice origin (docs/import.md): column 0's western edge in (-180 - res, -180], row 0's
# northern edge in [90, 90 + res), as the suite's tools bring any origin there.
normal_west <- function(west, res) west + floor((-180 - west) / res + 1e-9) * res
normal_north <- function(north, res) north - floor((north - 90) / res + 1e-9) * res

# Degrees as sidecars write them: "0.5", "-180.5" or a fraction such as "2/3".
parse_degrees <- function(text, what) {
  parts <- strsplit(trimws(text), "/", fixed = TRUE)[[1L]]
  x <- suppressWarnings(as.numeric(parts))
  if (!length(x) || length(x) > 2L || anyNA(x) || (length(x) == 2L && x[2L] == 0)) {
    stop(sprintf("%s is not a number of degrees: '%s'", what, text), call. = FALSE)
  }
  if (length(x) == 2L) x[1L] / x[2L] else x
}

parse_origin <- function(text, what) {
  parts <- strsplit(trimws(text), "[[:space:]]+")[[1L]]
  if (length(parts) != 2L) stop(sprintf("%s is not two numbers W N: '%s'", what, text),
                                call. = FALSE)
  c(parse_degrees(parts[1L], what), parse_degrees(parts[2L], what))
}

infer_convention <- function(lat, res, north = 90) {
  centre <- abs(lat - (north - (round_half_up((north - lat) / res - 0.5) + 0.5) * res)) <=
    grid_tolerance
  edge <- abs(lat - (north - round_half_up((north - lat) / res) * res)) <= grid_tolerance
  if (all(centre)) return("centre")
  if (all(edge)) return("northedge")
  p <- which(!centre & !edge)[1L]
  stop(sprintf(paste0("pixel %d (latitude %s) lies neither on a cell centre nor on a cell edge ",
                      "of a %s degree grid; give 'convention'"), p, format(lat[p]),
               format(res, digits = 4)), call. = FALSE)
}

as_grid_matrix <- function(grid) {
  if (is.character(grid)) grid <- read_grid(grid)
  if (is.data.frame(grid)) grid <- as.matrix(grid)
  if (!is.numeric(grid) || !is.matrix(grid) || ncol(grid) != 2L) {
    stop("'grid' must be a grid file name or a two-column matrix of lon and lat (read_grid)",
         call. = FALSE)
  }
  if (anyNA(grid)) stop("'grid' must not contain NA", call. = FALSE)
  grid
}

check_res <- function(res) {
  if (!is.numeric(res) || length(res) != 1L || is.na(res) || !is.finite(res) || res <= 0 ||
      abs(180 / res - round(180 / res)) > 1e-6) {
    stop("'res' must be one positive number of degrees that divides 180", call. = FALSE)
  }
  as.double(res)
}

check_convention <- function(convention) {
  if (!is.character(convention) || length(convention) != 1L ||
      !convention %in% c("centre", "northedge")) {
    stop("'convention' must be \"centre\" or \"northedge\"", call. = FALSE)
  }
  convention
}

check_origin <- function(origin) {
  if (!is.numeric(origin) || length(origin) != 2L || anyNA(origin) || any(!is.finite(origin))) {
    stop("'origin' must be two numbers of degrees: the western edge of the first column and the ",
         "northern edge of the first row", call. = FALSE)
  }
  as.double(origin)
}

# Where every pixel of a grid lies on the full grid of its lattice: resolution, lattice origin,
# convention, 0-based rows and columns (row 0 at the north), and the grid's size.
grid_placement <- function(grid, res = NULL, convention = NULL, origin = NULL) {
  g <- as_grid_matrix(grid)
  lon <- g[, 1L]
  lat <- g[, 2L]
  origin <- if (is.null(origin)) c(-180, 90) else check_origin(origin)
  res <- if (is.null(res)) infer_res(lon, origin[1L]) else
    check_lon_res(lon, check_res(res), origin[1L])
  west <- normal_west(origin[1L], res)
  north <- normal_north(origin[2L], res)
  if (north - res / 2 >= 90 - 1e-9) {
    stop("the lattice origin puts cell centres on a pole (a node-registered grid)", call. = FALSE)
  }
  convention <- if (is.null(convention)) infer_convention(lat, res, north) else
    check_convention(convention)
  nlon <- round(360 / res)
  nlat <- ceiling((north + 90) / res - 0.5 - 1e-9)
  col <- round_half_up((lon - 360 * floor((lon - west) / 360) - west) / res - 0.5)
  row <- round_half_up((north - lat) / res - if (convention == "centre") 0.5 else 0)
  off <- which(col < 0 | col >= nlon | row < 0 | row >= nlat)
  if (length(off)) {
    stop(sprintf("pixel %d (lon %s, lat %s) falls outside the globe on a %s degree grid",
                 off[1L], format(lon[off[1L]]), format(lat[off[1L]]), format(res, digits = 4)),
         call. = FALSE)
  }
  cell <- row * nlon + col + 1
  dup <- which(duplicated(cell))
  if (length(dup)) {
    stop(sprintf("pixels %d and %d fall into the same cell of a %s degree grid",
                 match(cell[dup[1L]], cell), dup[1L], format(res, digits = 4)), call. = FALSE)
  }
  list(res = res, west = west, north = north, convention = convention, nlon = nlon,
       nlat = nlat, row = row, col = col, cell = cell, lon = west + (col + 0.5) * res,
       lat = north - (row + 0.5) * res)
}

# Layer names: years (and bands of the year) when the sidecar tells them, else band numbers.
layer_names <- function(bands, per_year = NULL, first_year = NULL) {
  if (is.null(per_year) || is.null(first_year)) return(sprintf("band_%d", bands))
  year <- first_year + (bands - 1) %/% per_year
  if (per_year == 1) return(sprintf("%d", year))
  sprintf("%d_%02d", year, (bands - 1) %% per_year + 1)
}

as_spatraster <- function(x, grid = NULL, res = NULL, convention = NULL, bands = NULL,
                          npixel = NULL, origin = NULL) {
  need_terra()
  meta <- list()
  if (is.character(x)) {
    meta <- raster_file_meta(x, grid, res, convention, npixel, origin)
    grid <- meta$grid
    res <- meta$res
    convention <- meta$convention
    origin <- meta$origin
    x <- read_bands(x, meta$npixel, meta$bands, bands)
    bands <- attr(x, "bands")
  } else {
    if (!is.numeric(x) || is.complex(x)) {
      stop("'x' must be a raw raster file name or a numeric matrix (pixels x bands); it is ",
           describe_type(x), call. = FALSE)
    }
    if (!is.matrix(x)) x <- matrix(x, ncol = 1L)
    if (!is.null(bands)) x <- x[, bands, drop = FALSE]
  }
  if (is.null(grid)) {
    stop("'grid' is needed: a grid file name or a matrix from read_grid()", call. = FALSE)
  }
  p <- grid_placement(grid, res, convention, origin)
  if (length(p$cell) != nrow(x)) {
    stop(sprintf("the grid has %d pixels, but 'x' has %d rows", length(p$cell), nrow(x)),
         call. = FALSE)
  }
  r <- terra::rast(nrows = p$nlat, ncols = p$nlon, nlyrs = ncol(x), xmin = p$west,
                   xmax = p$west + p$nlon * p$res, ymin = p$north - p$nlat * p$res,
                   ymax = p$north, crs = "EPSG:4326")
  v <- matrix(NA_real_, p$nlat * p$nlon, ncol(x))
  v[p$cell, ] <- x
  terra::values(r) <- v
  names(r) <- if (!is.null(colnames(x))) {
    colnames(x)
  } else {
    layer_names(if (is.null(bands)) seq_len(ncol(x)) else bands, meta$per_year, meta$first_year)
  }
  if (!is.null(meta$variable)) terra::varnames(r) <- meta$variable
  if (!is.null(meta$long_name)) terra::longnames(r) <- meta$long_name
  if (!is.null(meta$units)) terra::units(r) <- rep(meta$units, terra::nlyr(r))
  r
}

from_spatraster <- function(r, grid, res = NULL, convention = NULL, origin = NULL) {
  need_terra()
  if (!inherits(r, "SpatRaster")) {
    stop("'r' must be a terra SpatRaster; it is ", describe_type(r), call. = FALSE)
  }
  rres <- terra::res(r)
  if (abs(rres[1L] - rres[2L]) > 1e-9 * rres[1L]) {
    stop(sprintf("'r' has cells of %s x %s degrees; the suite's grids have square cells",
                 format(rres[1L]), format(rres[2L])), call. = FALSE)
  }
  p <- grid_placement(grid, res, convention, origin)
  if (any(abs(rres - p$res) > 1e-9 * p$res)) {
    stop(sprintf("'r' has cells of %s degrees, the grid %s degrees", format(rres[1L]),
                 format(p$res)), call. = FALSE)
  }
  cells <- terra::cellFromXY(r, cbind(p$lon, p$lat))
  m <- matrix(NaN, length(cells), terra::nlyr(r), dimnames = list(NULL, names(r)))
  inside <- which(!is.na(cells))
  if (length(inside)) {
    m[inside, ] <- as.matrix(terra::extract(r, cells[inside]))
  }
  m[is.na(m)] <- NaN
  m
}

# The raw file's sidecar and the arguments, merged: the arguments win.
raster_file_meta <- function(file, grid, res, convention, npixel, origin = NULL) {
  check_path(file)
  h <- read_sidecar(file)
  num <- function(key) if (!is.null(h[[key]])) as.numeric(h[[key]])
  hdr <- sidecar_path(file)
  samples <- num("samples")
  size <- file.size(file)
  # A sidecar belongs to the file when its pixels make whole bands of the file's size.
  if (!is.null(samples) && !is.na(size) && (is.na(samples) || samples <= 0 ||
                                            size %% (4 * samples) != 0)) {
    warning(sprintf(paste0("sidecar '%s' is not used for '%s': its %s pixels a band do not ",
                           "divide the file's %s bytes, so it describes another file"), hdr, file,
                    h[["samples"]], format(size, scientific = FALSE)), call. = FALSE)
    h <- list()
    samples <- NULL
  }
  key_of <- function(key) sprintf("'%s' of '%s'", key, hdr)
  if (is.null(res) && !is.null(h[["rastertools resolution"]])) {
    res <- parse_degrees(h[["rastertools resolution"]], key_of("rastertools resolution"))
  }
  if (is.null(origin) && !is.null(h[["rastertools lattice origin"]])) {
    origin <- parse_origin(h[["rastertools lattice origin"]], key_of("rastertools lattice origin"))
  }
  if (is.null(grid) && !is.null(h[["rastertools grid file"]])) {
    grid <- h[["rastertools grid file"]]
    if (!grepl("^/", grid)) grid <- file.path(dirname(hdr), grid)
  }
  if (is.null(npixel)) npixel <- samples
  if (is.null(npixel) && is.character(grid)) npixel <- nrow(read_grid(grid))
  if (is.null(npixel) && is.matrix(grid)) npixel <- nrow(grid)
  if (is.null(npixel)) {
    stop(sprintf("'%s' has no sidecar telling its pixels: give 'npixel' or 'grid'", file),
         call. = FALSE)
  }
  list(grid = grid, npixel = npixel, bands = num("bands"),
       res = res, origin = origin,
       convention = if (is.null(convention)) h[["rastertools grid convention"]] else convention,
       per_year = num("rastertools bands per year"), first_year = num("rastertools first year"),
       variable = h[["rastertools variable"]], units = h[["rastertools units"]],
       long_name = h[["rastertools long name"]])
}

read_bands <- function(file, npixel, nbands_hdr, bands) {
  if (is.null(bands)) {
    x <- read_raster(file, npixel, nbands = nbands_hdr)
    attr(x, "bands") <- seq_len(ncol(x))
    return(x)
  }
  if (!is.numeric(bands) || !length(bands) || anyNA(bands) || any(bands < 1) ||
      any(bands != floor(bands))) {
    stop("'bands' must be band numbers, 1 or more", call. = FALSE)
  }
  lo <- min(bands)
  x <- read_raster(file, npixel, nbands = max(bands) - lo + 1, skip = lo - 1)
  x <- x[, bands - lo + 1, drop = FALSE]
  attr(x, "bands") <- bands
  x
}

sidecar_path <- function(file) {
  base <- basename(file)
  stem <- sub("[.][^.]*$", "", base)
  if (!nzchar(stem)) stem <- base
  file.path(dirname(file), paste0(stem, ".hdr"))
}

read_sidecar <- function(file) {
  check_path(file)
  hdr <- sidecar_path(file)
  if (!file.exists(hdr)) return(list())
  lines <- readLines(hdr, warn = FALSE)
  if (!length(lines) || trimws(lines[1L]) != "ENVI") {
    stop(sprintf("'%s' is not an ENVI header: its first line is not 'ENVI'", hdr), call. = FALSE)
  }
  text <- paste(lines[-1L], collapse = "\n")
  out <- list()
  while (nzchar(trimws(text))) {
    m <- regmatches(text, regexec("^\\s*([^=\n]+?)[ \t]*=[ \t]*(\\{[^}]*\\}|[^\n]*)[ \t]*(\n|$)",
                                  text, perl = TRUE))[[1L]]
    if (!length(m)) {
      text <- sub("^[^\n]*(\n|$)", "", text)   # a line that is no key = value
      next
    }
    key <- tolower(gsub("\\s+", " ", m[2L]))
    value <- trimws(gsub("\\s+", " ", sub("^\\{(.*)\\}$", "\\1", m[3L])))
    out[[key]] <- value
    text <- substring(text, nchar(m[1L]) + 1L)
  }
  check_sidecar(out, hdr)
  out
}

check_sidecar <- function(h, hdr) {
  want <- c("data type" = "4", "byte order" = "0", "interleave" = "bsq", "header offset" = "0")
  for (k in names(want)) {
    if (!is.null(h[[k]]) && tolower(h[[k]]) != want[[k]]) {
      stop(sprintf("'%s' says %s = %s; raw raster files have %s = %s", hdr, k, h[[k]], k,
                   want[[k]]), call. = FALSE)
    }
  }
}
