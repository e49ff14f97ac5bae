# The pixels of a grid on the full longitude/latitude grid as terra SpatRasters, and back.

test_that("a raw file with its sidecar becomes a global EPSG:4326 SpatRaster", {
  skip_if_not_installed("terra")
  r <- as_spatraster(extdata("europe_tas.bin"))
  expect_s4_class(r, "SpatRaster")
  expect_identical(dim(r), c(90, 180, 24))
  expect_equal(as.vector(terra::ext(r)), c(xmin = -180, xmax = 180, ymin = -90, ymax = 90))
  expect_identical(terra::res(r), c(2, 2))
  expect_identical(terra::crs(r, describe = TRUE)$code, "4326")
  expect_identical(names(r)[c(1, 12, 13, 24)], c("2001_01", "2001_12", "2002_01", "2002_12"))
  expect_identical(terra::units(r)[1], "K")
  expect_identical(terra::varnames(r), "tas")
  # 300 land pixels, NA everywhere else
  expect_identical(sum(!is.na(terra::values(r[[1]]))), 300L)
})

test_that("raw -> SpatRaster -> pixels is bit-identical", {
  skip_if_not_installed("terra")
  f <- extdata("europe_tas.bin")
  g <- extdata("europe_2deg.grid")
  x <- read_raster(f, npixel = 300)
  m <- from_spatraster(as_spatraster(f), g)
  expect_identical(unname(m), x)
  expect_identical(colnames(m)[1], "2001_01")
})

test_that("pixels land in their cells, for both conventions and several resolutions", {
  skip_if_not_installed("terra")
  cases <- list(
    list(res = 0.5, conv = "centre", lon = c(-179.75, 0.25, 179.75), lat = c(89.75, -0.25, -89.75),
         row = c(1, 181, 360), col = c(1, 361, 720)),
    list(res = 0.5, conv = "northedge", lon = c(-179.75, 0.25, 179.75), lat = c(90, 0, -89.5),
         row = c(1, 181, 360), col = c(1, 361, 720)),
    list(res = 2, conv = "northedge", lon = c(-179, 13, 179), lat = c(84, -52, 0),
         row = c(4, 72, 46), col = c(1, 97, 180)),
    list(res = 1 / 12, conv = "centre", lon = c(-179.96, 0.04), lat = c(89.96, -0.04),
         row = c(1, 1081), col = c(1, 2161)))
  for (k in cases) {
    g <- cbind(lon = k$lon, lat = k$lat)
    x <- cbind(seq_along(k$lon) + 0.5, -seq_along(k$lon))
    r <- as_spatraster(x, g)
    expect_identical(terra::res(r), c(k$res, k$res), label = paste(k$res, k$conv))
    expect_identical(dim(r), c(round(180 / k$res), round(360 / k$res), 2))
    cells <- terra::cellFromRowCol(r, k$row, k$col)
    expect_identical(unname(as.matrix(terra::extract(r, cells))), x, label = paste(k$res, k$conv))
    expect_identical(sum(!is.na(terra::values(r[[2]]))), length(k$lon))
    expect_identical(from_spatraster(r, g), cbind(band_1 = x[, 1], band_2 = x[, 2]))
  }
})

test_that("the convention and the resolution can be given, and are checked", {
  skip_if_not_installed("terra")
  g <- cbind(c(0.25, 1.25), c(10, 10.5))      # edges at 0.5 degrees
  expect_identical(terra::rowFromY(as_spatraster(c(1, 2), g), 9.9), 161)
  # the same latitudes read as centres of a 0.25 degree grid would need another res
  r <- as_spatraster(c(1, 2), g, res = 0.5, convention = "northedge")
  expect_identical(terra::extract(r, cbind(c(0.25, 1.25), c(9.75, 10.25)))[[1]], c(1, 2))
  expect_error(as_spatraster(c(1, 2), cbind(c(0.25, 1.25), c(10.1, 10))),
               "pixel 1 \\(latitude 10.1\\) lies neither on a cell centre nor on a cell edge")
  expect_error(as_spatraster(1, cbind(0.33, 10)), "fit none of the resolutions")
  expect_error(as_spatraster(c(1, 2), cbind(c(0.25, 0.25), c(10, 10))), "pixels 1 and 2 fall")
  expect_error(as_spatraster(1:3, g), "the grid has 2 pixels, but 'x' has 3 rows")
  expect_error(as_spatraster(1, cbind(0.25, 10), res = 0.7), "'res' must be")
  expect_error(as_spatraster(1, cbind(1, 10), res = 0.5),
               "pixel 1 \\(longitude 1\\) is not on a cell centre of a 0.5 degree grid")
  expect_error(as_spatraster(1, cbind(0.25, 10), convention = "south"), "'convention' must be")
  expect_error(as_spatraster("a"), "cannot find raster file|needs 'npixel'|give 'npixel'")
  expect_error(as_spatraster(1), "'grid' is needed")
  expect_error(as_spatraster(list(1), cbind(0.25, 10)), "'x' must be a raw raster file name")
})

test_that("from_spatraster: NA cells and cells outside the raster give NaN", {
  skip_if_not_installed("terra")
  g <- cbind(c(-179, 1, 3), c(85, 1, -1))   # 2 degree centres
  r <- as_spatraster(c(1, NA, 3), g)
  m <- from_spatraster(r, g)
  expect_identical(m[, 1], c(1, NaN, 3))
  small <- terra::crop(r, terra::ext(0, 10, -10, 10))
  expect_identical(from_spatraster(small, g)[, 1], c(NaN, NaN, 3))
  expect_error(from_spatraster(terra::rast(nrows = 180, ncols = 180), g), "square cells")
  expect_error(from_spatraster(terra::rast(nrows = 360, ncols = 720), g),
               "cells of 0.5 degrees, the grid 2 degrees")
  expect_error(from_spatraster(matrix(1), g), "'r' must be a terra SpatRaster")
})

test_that("a sidecar gives the defaults; arguments win; bad headers are refused", {
  skip_if_not_installed("terra")
  d <- tempfile()
  dir.create(d)
  on.exit(unlink(d, recursive = TRUE))
  file.copy(extdata("europe_2deg.grid"), file.path(d, "g.grid"))
  f <- file.path(d, "x.bin")
  write_raster(matrix(seq_len(300 * 3), 300), f)
  write_sidecar_for(f, samples = 300, bands = 3, rastertools_grid_file = "g.grid",
                    rastertools_bands_per_year = 1, rastertools_first_year = 1990)
  r <- as_spatraster(f)
  expect_identical(names(r), c("1990", "1991", "1992"))
  expect_identical(names(as_spatraster(f, bands = c(3, 2))), c("1992", "1991"))
  expect_identical(unname(from_spatraster(as_spatraster(f, bands = 2), file.path(d, "g.grid"))),
                   matrix(as.double(301:600), 300))
  # no year keys: band numbers
  write_sidecar_for(f, samples = 300, rastertools_grid_file = "g.grid")
  expect_identical(names(as_spatraster(f)), c("band_1", "band_2", "band_3"))
  # a header spread over lines with braces and upper-case keys
  writeLines(c("ENVI", "Description = {a file", "  over two lines}", "SAMPLES = 300",
               "rastertools grid file = g.grid"), file.path(d, "x.hdr"))
  expect_identical(read_sidecar(f)$description, "a file over two lines")
  expect_identical(dim(as_spatraster(f)), c(90, 180, 3))
  writeLines(c("ENVI", "samples = 300", "data type = 5"), file.path(d, "x.hdr"))
  expect_error(read_sidecar(f), "x.hdr' says data type = 5")
  writeLines(c("NOT ENVI"), file.path(d, "x.hdr"))
  expect_error(as_spatraster(f), "is not an ENVI header")
  # a sidecar of another file (its 299 pixels do not divide 3600 bytes) is not used
  write_sidecar_for(f, samples = 299, rastertools_grid_file = "nowhere.grid")
  expect_warning(r <- as_spatraster(f, grid = file.path(d, "g.grid")),
                 "x.hdr' is not used for .*x.bin': its 299 pixels a band do not divide")
  expect_identical(dim(r), c(90, 180, 3))
})

test_that("the sidecar's lattice origin and exact resolution place the pixels", {
  skip_if_not_installed("terra")
  d <- tempfile()
  dir.create(d)
  on.exit(unlink(d, recursive = TRUE))
  # CDO's r360x180: centres on whole degrees, the first column from 180.5 W
  g <- cbind(c(0, 179, -180), c(89.5, 0.5, -89.5))
  write_grid(g, file.path(d, "g.grid"))
  f <- file.path(d, "x.bin")
  write_raster(matrix(c(1, 2, 3), 3), f)
  write_sidecar_for(f, samples = 3, bands = 1, rastertools_grid_file = "g.grid",
                    rastertools_resolution = "1", rastertools_lattice_origin = "-180.5 90",
                    rastertools_grid_convention = "centre")
  r <- as_spatraster(f)
  expect_equal(as.vector(terra::ext(r)), c(xmin = -180.5, xmax = 179.5, ymin = -90, ymax = 90))
  expect_identical(terra::extract(r, g)[[1]], c(1, 2, 3))
  expect_identical(terra::colFromX(r, c(-180, 0, 179)), c(1, 181, 360))
  expect_identical(unname(from_spatraster(r, file.path(d, "g.grid"),
                                          origin = c(-180.5, 90))[, 1]), c(1, 2, 3))
  # without the origin, whole degrees are no cell centres of a 1 degree grid
  expect_error(as_spatraster(c(1, 2, 3), g, res = 1), "is not on a cell centre of a 1 degree")
  # a resolution written as a fraction
  g3 <- cbind(-180 + 1 / 3, 90 - 1 / 3)
  write_grid(g3, file.path(d, "g.grid"))
  write_sidecar_for(f, samples = 1, rastertools_grid_file = "g.grid",
                    rastertools_resolution = "2/3", rastertools_grid_convention = "centre")
  write_raster(matrix(7, 1), f)
  r3 <- as_spatraster(f)
  expect_identical(terra::res(r3), c(2 / 3, 2 / 3))
  expect_identical(dim(r3), c(270, 540, 1))
  write_sidecar_for(f, samples = 1, rastertools_grid_file = "g.grid",
                    rastertools_resolution = "2/x")
  expect_error(as_spatraster(f), "'rastertools resolution' of .* is not a number of degrees")
})

test_that("brindle() on a SpatRaster equals brindle() on its matrix", {
  skip_if_not_installed("terra")
  r <- as_spatraster(extdata("europe_tas.bin"))
  m <- terra::values(r, mat = TRUE)
  for (na in list(NA, -9999)) {
    b <- brindle(r, na)
    ref <- brindle(m, na, dims = c(terra::ncell(r), 12, 2))
    expect_identical(b[c("sum", "months")], ref)
    expect_identical(unname(terra::values(b$sum_rast, mat = TRUE)), ref$sum)
    expect_identical(unname(terra::values(b$months_rast, mat = TRUE)), ref$months + 0)
    expect_identical(names(b$sum_rast), c("2001", "2002"))
    expect_true(terra::compareGeom(b$sum_rast, r))
  }
  b <- brindle(r, NA)
  expect_identical(sum(b$months[, 1] == 12L), 300L)
  expect_identical(sum(b$months[, 1] == 0L), 90L * 180L - 300L)
  expect_error(brindle(r[[1:5]], NA), "has 5 layers, not whole years")
  b6 <- brindle(r, NA, dims = c(terra::ncell(r), 6, 4))
  expect_identical(terra::nlyr(b6$sum_rast), 4)
  expect_identical(names(b6$sum_rast), c("2001", "2001", "2002", "2002"))
  names(r) <- paste0("m", 1:24)
  expect_identical(names(brindle(r, NA)$months_rast), c("year_1", "year_2"))
  expect_error(brindle(r, NA, dims = c(10, 12, 2)), "does not fit a SpatRaster")
})

test_that("NA months of a SpatRaster are skipped", {
  skip_if_not_installed("terra")
  g <- cbind(c(1, 3), c(1, 1))
  x <- matrix(c(1, 2,  NA, 4,  NaN, 6), 2)       # 2 pixels, 3 months, 1 year
  r <- as_spatraster(x, g)
  b <- brindle(r, NA, dims = c(terra::ncell(r), 3, 1))
  v <- terra::extract(b$sum_rast, cbind(c(1, 3), c(1, 1)))[[1]]
  expect_identical(v, c(1, 12))
  expect_identical(terra::extract(b$months_rast, cbind(c(1, 3), c(1, 1)))[[1]], c(1L, 3L))
})

test_that("without terra the terra functions say what to install", {
  lib <- dirname(find.package("brindle"))
  if (file.exists(file.path(lib, "terra"))) skip("terra is installed next to brindle")
  # an R whose libraries are brindle's and R's own: no terra
  code <- sprintf(paste0("assign('.lib.loc', c('%s', .Library), envir = environment(.libPaths)); ",
                         "library(brindle); ",
                         "r <- tryCatch(as_spatraster(1, cbind(0.25, 10)), error = conditionMessage); ",
                         "cat(r, '|', brindle(array(1, c(1, 1, 1)), NA)$months)"), lib)
  out <- system2(file.path(R.home("bin"), "Rscript"), c("-e", shQuote(code)), stdout = TRUE,
                 stderr = TRUE)
  expect_match(paste(out, collapse = " "),
               "needs the R package 'terra'.*r-cran-terra.*install.packages.*[|] 1$")
})
