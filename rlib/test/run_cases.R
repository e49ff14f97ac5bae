# Runs every case of make_cases.R through the routine brindle, in whichever R runs this script
# (the 64-bit R, or the 32-bit R through r-i386.sh), checks the known results, and writes the
# results as raw little-endian bytes, one file per case, for compare.R.
#   R -f run_cases.R --args helper=H cases=C.rds out=DIR lib=brindle.so rsrc=PKG/R
#   R -f run_cases.R --args helper=H cases=C.rds out=DIR pkg=LIBRARY
# lib=: dyn.load that library and call its exported symbol through .C; the R function
# brindle() is sourced from rsrc= and calls the same symbol. pkg=: the installed package.
kv <- commandArgs(trailingOnly = TRUE)
args <- setNames(sub("^[^=]*=", "", kv), sub("=.*$", "", kv))
source(args[["helper"]])
cases <- readRDS(args[["cases"]])

if (!is.na(args["lib"])) {
  dll <- dyn.load(normalizePath(args[["lib"]]))
  routine <- getNativeSymbolInfo("brindle", dll)
  env <- new.env()
  assign("C_brindle", routine, envir = env)
  for (f in list.files(args[["rsrc"]], pattern = "[.]R$", full.names = TRUE)) sys.source(f, env)
  brindle_fn <- get("brindle", envir = env)
  from <- normalizePath(args[["lib"]])
} else {
  library(brindle, lib.loc = args[["pkg"]])
  routine <- brindle:::C_brindle
  brindle_fn <- brindle::brindle
  from <- getLoadedDLLs()[["brindle"]][["path"]]
}
cat(sprintf("R %s.%s on %s (%d-bit pointers), routine from %s\n", R.version$major,
            R.version$minor, R.version$arch, 8L * .Machine$sizeof.pointer, from))

bytes_of <- function(s, m) {
  c(writeBin(as.double(s), raw(), size = 8L, endian = "little"),
    writeBin(as.integer(m), raw(), size = 4L, endian = "little"))
}

out <- args[["out"]]
unlink(out, recursive = TRUE)
dir.create(out, recursive = TRUE)
failed <- 0L
for (i in seq_along(cases)) {
  case <- cases[[i]]
  r <- brindle_call_c(case, routine)
  problems <- character()
  if (!is.null(case$sum) && !identical(r$sum, case$sum)) problems <- c(problems, "sums")
  if (!is.null(case$months) && !identical(r$months, case$months)) problems <- c(problems, "counts")
  bytes <- bytes_of(r$sum, r$months)
  if (brindle_case_for_wrapper(case)) {
    w <- brindle_fn(case$var_local, case$NAvalue,
                    dims = c(case$ncells, case$nmonths, case$nyears))
    if (!brindle_same_bits(w$sum, r$sum) || !identical(as.vector(w$months), r$months)) {
      problems <- c(problems, "brindle() differs from .C")
    }
    bytes <- c(bytes, bytes_of(w$sum, w$months))
  }
  writeBin(bytes, file.path(out, sprintf("case%02d.bin", i)))
  if (length(problems)) failed <- failed + 1L
  cat(sprintf("%s case %2d: %s%s\n", if (length(problems)) "FAIL" else "ok  ", i, case$name,
              if (length(problems)) paste0(" -- wrong ", paste(problems, collapse = ", ")) else ""))
}

# The argument checks of brindle() that keep the routine in bounds, in this R too.
refused <- function(expr, pattern) {
  msg <- tryCatch({
    expr
    "no error"
  }, error = conditionMessage)
  ok <- grepl(pattern, msg)
  cat(sprintf("%s brindle() refuses: %s\n", if (ok) "ok  " else "FAIL", msg))
  if (!ok) failed <<- failed + 1L
}
refused(brindle_fn(numeric(1), -9999, dims = c(2^16, 2^15, 1)), "reaches 2\\^31")
refused(brindle_fn(numeric(1), -9999, dims = c(2^31, 1, 1)), "below 2\\^31")
refused(brindle_fn(1:10, -9999, dims = c(2, 3, 2)), "has length 10")
refused(brindle_fn(array("a", c(1, 1, 1)), -9999), "must be numeric")
refused(brindle_fn(array(1, c(1, 1, 1)), NaN), "must be finite")

cat(sprintf("%d passed, %d failed\n", length(cases) + 5L - failed, failed))
if (failed) quit(status = 1L)
