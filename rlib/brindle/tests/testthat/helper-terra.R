# Files bundled with the package, and a raw file with a sidecar written by the test.
extdata <- function(name) system.file("extdata", name, package = "brindle", mustWork = TRUE)

write_sidecar_for <- function(file, ...) {
  keys <- list(...)
  hdr <- sub("[.][^.]*$", ".hdr", file)
  writeLines(c("ENVI", sprintf("%s = %s", gsub("_", " ", names(keys)), unlist(keys))), hdr)
  hdr
}
