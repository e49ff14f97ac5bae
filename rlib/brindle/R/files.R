# Raw raster files and grid files of the rastertools suite, read into and
# written from R. Both are headerless and little-endian.

read_raster <- function(file, npixel, nbands = NULL, skip = 0, allow_trailing = FALSE) {
  check_path(file)
  npixel <- check_count(npixel, "npixel", min = 1)
  skip <- check_count(skip, "skip", min = 0)
  check_flag(allow_trailing, "allow_trailing")
  size <- file.size(file)
  if (is.na(size)) stop(sprintf("cannot find raster file '%s'", file), call. = FALSE)
  if (dir.exists(file)) stop(sprintf("'%s' is a folder, not a raster file", file), call. = FALSE)
  refuse_other_format(file, size)
  bandbytes <- 4 * npixel
  infile <- size %/% bandbytes            # whole bands
  rest <- size %% bandbytes
  if (rest != 0 && !allow_trailing) {
    # Almost always a wrong npixel: the bands would not line up with the pixels.
    stop(sprintf(paste0("'%s' is %s bytes, not a whole number of bands of %s pixels ",
                        "(%s bytes each): is npixel right? (allow_trailing = TRUE ignores the ",
                        "last %s bytes)"), file, format(size, scientific = FALSE),
                 format(npixel, scientific = FALSE), format(bandbytes, scientific = FALSE),
                 format(rest, scientific = FALSE)), call. = FALSE)
  }
  if (rest != 0) {
    warning(sprintf(paste0("'%s' is %s bytes, not a whole number of bands of %s pixels; ",
                           "the last %s bytes are ignored"), file,
                    format(size, scientific = FALSE), format(npixel, scientific = FALSE),
                    format(rest, scientific = FALSE)), call. = FALSE)
  }
  if (skip > infile) {
    stop(sprintf("cannot skip %s bands: '%s' holds %s", skip, file, infile), call. = FALSE)
  }
  if (is.null(nbands)) {
    nbands <- infile - skip
  } else {
    nbands <- check_count(nbands, "nbands", min = 0)
    if (skip + nbands > infile) {
      stop(sprintf("'%s' holds %s bands of %s pixels; bands %s to %s were asked for", file,
                   infile, npixel, skip + 1, skip + nbands), call. = FALSE)
    }
  }
  n <- npixel * nbands
  if (n >= 2^31) stop("cannot read 2^31 values or more at once; read fewer bands", call. = FALSE)
  con <- file(file, "rb")
  on.exit(close(con))
  if (skip > 0) seek(con, where = skip * bandbytes, origin = "start")
  v <- readBin(con, what = "double", n = n, size = 4L, endian = "little")
  if (length(v) != n) stop(sprintf("short read from '%s'", file), call. = FALSE)
  matrix(v, nrow = npixel, ncol = nbands)
}

write_raster <- function(x, file, append = FALSE) {
  if (!is.numeric(x) || is.complex(x)) {
    stop("'x' must be numeric; it is ", describe_type(x), call. = FALSE)
  }
  check_path(file)
  check_flag(append, "append")
  con <- file(file, if (append) "ab" else "wb")
  on.exit(close(con))
  writeBin(as.double(x), con, size = 4L, endian = "little")
  invisible(file)
}

read_grid <- function(file, degrees = TRUE) {
  check_path(file)
  check_flag(degrees, "degrees")
  size <- file.size(file)
  if (is.na(size)) stop(sprintf("cannot find grid file '%s'", file), call. = FALSE)
  if (dir.exists(file)) stop(sprintf("'%s' is a folder, not a grid file", file), call. = FALSE)
  if (size == 0) stop(sprintf("grid file '%s' is empty", file), call. = FALSE)
  if (size %% 4 != 0) {
    stop(sprintf("grid file '%s' is %s bytes, not a whole number of 4-byte records", file,
                 format(size, scientific = FALSE)), call. = FALSE)
  }
  npixel <- size %/% 4
  con <- file(file, "rb")
  on.exit(close(con))
  v <- readBin(con, what = "integer", n = 2 * npixel, size = 2L, signed = TRUE,
               endian = "little")
  if (length(v) != 2 * npixel) stop(sprintf("short read from '%s'", file), call. = FALSE)
  g <- matrix(v, ncol = 2L, byrow = TRUE, dimnames = list(NULL, c("lon", "lat")))
  if (degrees) g / 100 else g
}

write_grid <- function(grid, file, degrees = TRUE) {
  if (is.data.frame(grid)) grid <- as.matrix(grid)
  if (!is.numeric(grid) || is.complex(grid) || !is.matrix(grid) || ncol(grid) != 2L) {
    stop("'grid' must be a numeric matrix or data frame with two columns, lon and lat",
         call. = FALSE)
  }
  check_path(file)
  check_flag(degrees, "degrees")
  v <- if (degrees) round(grid * 100) else grid
  if (anyNA(v) || any(!is.finite(v))) stop("'grid' must not contain NA or infinite values",
                                           call. = FALSE)
  if (!degrees && any(v != round(v))) {
    stop("with degrees = FALSE, 'grid' must hold whole hundredths of a degree", call. = FALSE)
  }
  if (any(v < -32768 | v > 32767)) {
    stop("a coordinate does not fit in a signed 16-bit integer (-327.68 to 327.67 degrees)",
         call. = FALSE)
  }
  con <- file(file, "wb")
  on.exit(close(con))
  writeBin(as.integer(t(v)), con, size = 2L, endian = "little")
  invisible(file)
}

# Files that are not raw, told by their first bytes as the suite's tools tell them: NetCDF
# classic ("CDF" 1, 2 or 5), NetCDF-4/HDF5 (its signature at 0, 512, 1024, ...), TIFF/GeoTIFF
# (with its first directory inside the file, or BigTIFF), PNG.
file_format <- function(file, size) {
  con <- file(file, "rb")
  on.exit(close(con))
  head <- readBin(con, "raw", 16L)
  at <- function(bytes, offset = 0L) {
    length(head) >= offset + length(bytes) &&
      identical(head[offset + seq_along(bytes)], as.raw(bytes))
  }
  hdf5 <- c(0x89, 0x48, 0x44, 0x46, 0x0d, 0x0a, 0x1a, 0x0a)
  if (at(c(0x43, 0x44, 0x46)) && length(head) >= 4L && as.integer(head[4L]) %in% c(1L, 2L, 5L)) {
    return("a NetCDF classic file")
  }
  if (at(hdf5)) return("a NetCDF-4/HDF5 file")
  offset <- 512
  while (offset + 8 <= size) {
    seek(con, offset)
    if (identical(readBin(con, "raw", 8L), as.raw(hdf5))) return("a NetCDF-4/HDF5 file")
    offset <- offset * 2
  }
  u32 <- function(bytes, big) sum(as.numeric(if (big) rev(bytes) else bytes) * 256^(0:3))
  if (length(head) >= 8L && (at(c(0x49, 0x49, 0x2a, 0x00)) || at(c(0x4d, 0x4d, 0x00, 0x2a)))) {
    ifd <- u32(head[5:8], head[1L] == as.raw(0x4d))
    if (ifd >= 8 && ifd < size) return("a TIFF/GeoTIFF file")
  }
  if (at(c(0x49, 0x49, 0x2b, 0x00, 0x08, 0x00, 0x00, 0x00)) ||
      at(c(0x4d, 0x4d, 0x00, 0x2b, 0x00, 0x08, 0x00, 0x00))) {
    return("a TIFF/GeoTIFF file")
  }
  if (at(c(0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a))) return("a PNG image")
  NULL
}

refuse_other_format <- function(file, size) {
  f <- file_format(file, size)
  if (is.null(f)) return(invisible())
  hint <- if (f == "a PNG image") "" else
    "; read it with terra::rast(), or make a raw file of it with 'rastertools import'"
  stop(sprintf("'%s' is %s, not a raw raster file%s", file, f, hint), call. = FALSE)
}

check_path <- function(file) {
  if (!is.character(file) || length(file) != 1L || is.na(file) || !nzchar(file)) {
    stop("'file' must be one file name", call. = FALSE)
  }
}

check_flag <- function(x, name) {
  if (!is.logical(x) || length(x) != 1L || is.na(x)) {
    stop(sprintf("'%s' must be TRUE or FALSE", name), call. = FALSE)
  }
}

check_count <- function(x, name, min) {
  if (!is.numeric(x) || length(x) != 1L || is.na(x) || !is.finite(x) || x != floor(x) ||
      x < min) {
    stop(sprintf("'%s' must be one whole number, %d or more", name, min), call. = FALSE)
  }
  as.double(x)
}
