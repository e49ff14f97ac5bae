# Raw raster files (float32, band-sequential, little-endian) and grid files (int16 pairs).

test_that("write_raster writes little-endian float32 values in storage order", {
  f <- temp_file()
  write_raster(matrix(c(1, -2, 0.5, 65536), 2), f)
  expect_identical(readBin(f, "raw", 100),
                   as.raw(c(0x00, 0x00, 0x80, 0x3f,  0x00, 0x00, 0x00, 0xc0,
                            0x00, 0x00, 0x00, 0x3f,  0x00, 0x00, 0x80, 0x47)))
  expect_identical(read_raster(f, 2), matrix(c(1, -2, 0.5, 65536), 2))
})

test_that("read_raster reads whole bands, skips bands and refuses to read past the end", {
  f <- temp_file()
  x <- array(seq_len(5 * 12 * 3) / 8, c(5, 12, 3))
  write_raster(x, f)
  expect_identical(file.size(f), 5 * 12 * 3 * 4)
  m <- read_raster(f, npixel = 5)
  expect_identical(dim(m), c(5L, 36L))
  expect_identical(as.vector(m), as.vector(x))
  expect_identical(read_raster(f, 5, nbands = 12, skip = 12), matrix(x[, , 2], 5))
  expect_identical(read_raster(f, 5, nbands = 0), matrix(0, 5, 0))
  expect_error(read_raster(f, 5, nbands = 13, skip = 24), "holds 36 bands.*25 to 37")
  expect_error(read_raster(f, 5, skip = 37), "cannot skip 37 bands")
  # 180 values: 25 whole bands of 7 and 5 values (20 bytes) more, a wrong npixel
  expect_error(read_raster(f, 7),
               "720 bytes, not a whole number of bands of 7 pixels \\(28 bytes each\\): is npixel")
  expect_warning(m7 <- read_raster(f, 7, allow_trailing = TRUE),
                 "720 bytes.*the last 20 bytes are ignored")
  expect_identical(dim(m7), c(7L, 25L))
  expect_identical(as.vector(m7), as.vector(x)[1:175])
})

test_that("read_raster refuses bytes after the last whole band unless asked to ignore them", {
  f <- temp_file()
  write_raster(1:6, f)
  con <- file(f, "ab")
  writeBin(as.raw(1:3), con)
  close(con)
  expect_error(read_raster(f, 3), "27 bytes.*allow_trailing = TRUE ignores the last 3 bytes")
  expect_warning(m <- read_raster(f, 3, allow_trailing = TRUE), "last 3 bytes are ignored")
  expect_identical(m, matrix(as.double(1:6), 3))
  expect_error(read_raster(f, 3, allow_trailing = NA), "'allow_trailing' must be TRUE or FALSE")
})

test_that("read_raster refuses files of other formats by their first bytes", {
  f <- temp_file()
  raw_file <- function(...) writeBin(as.raw(c(...)), f)
  raw_file(0x43, 0x44, 0x46, 0x01, rep(0, 28))                        # NetCDF classic
  expect_error(read_raster(f, 1), "is a NetCDF classic file, not a raw raster file; read it")
  raw_file(0x89, 0x48, 0x44, 0x46, 0x0d, 0x0a, 0x1a, 0x0a, rep(0, 8))  # NetCDF-4/HDF5
  expect_error(read_raster(f, 1), "is a NetCDF-4/HDF5 file")
  raw_file(rep(0, 512), 0x89, 0x48, 0x44, 0x46, 0x0d, 0x0a, 0x1a, 0x0a)  # after a user block
  expect_error(read_raster(f, 1), "is a NetCDF-4/HDF5 file")
  raw_file(0x4d, 0x4d, 0x00, 0x2a, 0, 0, 0, 8, rep(0, 8))             # big-endian TIFF
  expect_error(read_raster(f, 1), "is a TIFF/GeoTIFF file")
  raw_file(0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a)             # PNG
  expect_error(read_raster(f, 1), "is a PNG image, not a raw raster file$")
  # TIFF's first bytes with a directory past the end: two raw values
  raw_file(0x49, 0x49, 0x2a, 0x00, 0xff, 0xff, 0xff, 0x7f)
  expect_identical(dim(read_raster(f, 2)), c(2L, 1L))
  expect_error(read_raster(tempdir(), 1), "is a folder")
})

test_that("float32 rounding and appending", {
  f <- temp_file()
  write_raster(0.1, f)
  write_raster(c(1e39, NA, NaN), f, append = TRUE)
  v <- read_raster(f, 1)
  expect_identical(v[1], 0.100000001490116119384765625)      # 0.1f
  expect_identical(v[2], Inf)
  expect_true(is.nan(v[4]))
  expect_identical(ncol(v), 4L)
})

test_that("raster helper arguments are checked", {
  f <- temp_file()
  write_raster(1:4, f)
  expect_error(read_raster(tempfile(), 1), "cannot find raster file")
  expect_error(read_raster(f, 0), "'npixel' must be one whole number, 1 or more")
  expect_error(read_raster(f, 2.5), "'npixel'")
  expect_error(read_raster(f, NA), "'npixel'")
  expect_error(read_raster(f, 1, skip = -1), "'skip'")
  expect_error(read_raster(f, 1, nbands = "2"), "'nbands'")
  expect_error(read_raster(c(f, f), 1), "'file' must be one file name")
  expect_error(write_raster("a", f), "'x' must be numeric")
  expect_error(write_raster(1, f, append = NA), "'append' must be TRUE or FALSE")
})

test_that("write_grid and read_grid: int16 pairs lon*100, lat*100, little-endian", {
  f <- temp_file()
  g <- cbind(lon = c(12.34, -179.75), lat = c(-0.01, 89.75))
  write_grid(g, f)
  expect_identical(readBin(f, "raw", 100),
                   as.raw(c(0xd2, 0x04, 0xff, 0xff,  0xc9, 0xb9, 0x0f, 0x23)))
  expect_identical(read_grid(f), g)
  expect_identical(read_grid(f, degrees = FALSE),
                   cbind(lon = c(1234L, -17975L), lat = c(-1L, 8975L)))
  write_grid(data.frame(lon = c(1L, 2L), lat = c(-3L, 4L)), f, degrees = FALSE)
  expect_identical(read_grid(f, degrees = FALSE), cbind(lon = c(1L, 2L), lat = c(-3L, 4L)))
})

test_that("grid coordinates must fit in int16 and be finite", {
  f <- temp_file()
  expect_error(write_grid(cbind(360, 0), f), "signed 16-bit")
  expect_error(write_grid(cbind(0, -327.69), f), "signed 16-bit")
  expect_silent(write_grid(cbind(327.67, -327.68), f))
  expect_error(write_grid(cbind(NA, 0), f), "NA or infinite")
  expect_error(write_grid(cbind(0.5, 0), f, degrees = FALSE), "whole hundredths")
  expect_error(write_grid(1:4, f), "two columns")
  expect_error(write_grid(cbind(1, 2, 3), f), "two columns")
  expect_error(read_grid(tempfile()), "cannot find grid file")
  writeBin(as.raw(1:6), f)
  expect_error(read_grid(f), "is 6 bytes, not a whole number of 4-byte records")
  writeBin(raw(0), f)
  expect_error(read_grid(f), "is empty")
})

test_that("monthly bands read from a raster file go into brindle()", {
  f <- temp_file()
  x <- array(c(1, 2, 3, -9999), c(2, 12, 2))
  write_raster(x, f)
  m <- read_raster(f, 2)
  r <- brindle(m, -9999, dims = c(2, 12, 2))
  expect_identical(r$sum, brindle(x, -9999)$sum)
  expect_identical(r$months, matrix(c(12L, 6L, 12L, 6L), 2))
  dim(m) <- c(2, 12, 2)
  expect_identical(brindle(m, -9999), r)
})
