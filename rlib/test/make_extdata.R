# Writes the small sample files bundled with the package (inst/extdata), from the suite's 2 degree
# land grid:   Rscript rlib/test/make_extdata.R   (from the repository's root)
#  - europe_2deg.grid: the land pixels of 12W-42E, 34N-72N (northern-edge latitudes)
#  - europe_tas.bin and its sidecar europe_tas.hdr: a made-up monthly temperature, 2 years
out <- "rlib/brindle/inst/extdata"
f <- "data/grid_2deg_northedge.bin"
g <- matrix(readBin(f, "integer", n = file.size(f) / 2, size = 2, signed = TRUE,
                    endian = "little"), ncol = 2, byrow = TRUE)
keep <- g[, 1] >= -1200 & g[, 1] <= 4200 & g[, 2] >= 3400 & g[, 2] <= 7200
g <- g[keep, ]
writeBin(as.integer(t(g)), file.path(out, "europe_2deg.grid"), size = 2L, endian = "little")

lat <- g[, 2] / 100 - 1       # cell centres
lon <- g[, 1] / 100
month <- rep(1:12, 2)
v <- sapply(seq_along(month), function(b) {
  288 - 0.6 * (lat - 45) + 10 * cos(2 * pi * (month[b] - 7) / 12) * (1 + lon / 60) + 0.1 * (b > 12)
})
writeBin(as.double(v), file.path(out, "europe_tas.bin"), size = 4L, endian = "little")
writeLines(c("ENVI", "description = {rastertools raster file}", sprintf("samples = %d", nrow(g)),
             "lines = 1", sprintf("bands = %d", length(month)), "header offset = 0",
             "file type = ENVI Standard", "data type = 4", "interleave = bsq", "byte order = 0",
             "rastertools grid file = europe_2deg.grid", "rastertools resolution = 2",
             "rastertools grid convention = northedge", "rastertools bands per year = 12",
             "rastertools first year = 2001", "rastertools variable = tas",
             "rastertools units = K", "rastertools long name = Near-Surface Air Temperature"),
           file.path(out, "europe_tas.hdr"))
cat(nrow(g), "pixels\n")
