# Compares, bit for bit, the results that run_cases.R wrote for several builds.
#   Rscript compare.R CASES.rds DIR1 DIR2 [DIR3...]
# Each case file holds var_sum (nout doubles) and return_months (nout ints) from .C, and the
# same again from brindle() where the R function takes the case.
args <- commandArgs(trailingOnly = TRUE)
cases <- readRDS(args[[1L]])
dirs <- args[-1L]
stopifnot(length(dirs) >= 2L)

read_bytes <- function(p) readBin(p, "raw", file.size(p))
element_bytes <- function(x, n) {
  # one entry per element: its 8 sum bytes and its 4 count bytes (first block only)
  vapply(seq_len(n), function(e) {
    paste(c(x[(e - 1L) * 8L + 1:8], x[8L * n + (e - 1L) * 4L + 1:4]), collapse = "")
  }, "")
}

failed <- 0L
for (i in seq_along(cases)) {
  f <- file.path(dirs, sprintf("case%02d.bin", i))
  missing <- f[!file.exists(f)]
  if (length(missing)) stop("missing results: ", paste(missing, collapse = ", "))
  b <- lapply(f, read_bytes)
  n <- cases[[i]]$nout
  bad <- FALSE
  for (k in seq_along(dirs)[-1L]) {
    if (identical(b[[1L]], b[[k]])) next
    bad <- TRUE
    j <- which(element_bytes(b[[1L]], n) != element_bytes(b[[k]], n))
    at <- if (length(j)) {
      e <- j[1L]
      s <- function(x) readBin(x[(e - 1L) * 8L + 1:8], "double", size = 8L, endian = "little")
      m <- function(x) readBin(x[8L * n + (e - 1L) * 4L + 1:4], "integer", size = 4L,
                               endian = "little")
      sprintf("first at element %d: sum %.17g vs %.17g, count %d vs %d", e - 1L, s(b[[1L]]),
              s(b[[k]]), m(b[[1L]]), m(b[[k]]))
    } else {
      "in the results of brindle()"
    }
    cat(sprintf("DIFFER case %2d (%s): %s vs %s, %s\n", i, cases[[i]]$name, dirs[1L], dirs[k],
                at))
  }
  if (bad) failed <- failed + 1L else cat(sprintf("same bits case %2d: %s\n", i, cases[[i]]$name))
}
cat(sprintf("%d cases compared bit for bit across %d builds\n", length(cases), length(dirs)))
cat(sprintf("%d passed, %d failed\n", length(cases) - failed, failed))
if (failed) quit(status = 1L)
