# Runs the package's testthat tests on the installed package (the 64-bit R):
#   Rscript run_testthat.R TESTDIR LIBRARY
args <- commandArgs(trailingOnly = TRUE)
stopifnot(length(args) == 2L)
library(brindle, lib.loc = args[[2L]])
cat("brindle", format(packageVersion("brindle", lib.loc = args[[2L]])), "from",
    find.package("brindle"), "\n")
stopifnot(normalizePath(dirname(find.package("brindle"))) == normalizePath(args[[2L]]))
testthat::test_dir(args[[1L]], package = "brindle", load_package = "installed",
                   reporter = "summary", stop_on_failure = TRUE, stop_on_warning = TRUE)
