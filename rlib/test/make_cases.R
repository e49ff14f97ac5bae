# Writes the cases for the cross-build comparison (run by the 64-bit R):
#   Rscript make_cases.R HELPER OUT.rds
# HELPER is tests/testthat/helper-cases.R of the package. The random arrays are drawn here once
# and serialized, so that every R (32-bit or 64-bit) runs on exactly the same input bits.
args <- commandArgs(trailingOnly = TRUE)
stopifnot(length(args) == 2L)
source(args[[1L]])
cases <- c(brindle_worked_examples(), brindle_random_cases())
dir.create(dirname(args[[2L]]), recursive = TRUE, showWarnings = FALSE)
saveRDS(cases, args[[2L]])
cat(sprintf("%d cases written to %s\n", length(cases), args[[2L]]))
