# Runs the examples of every help page of the installed package (the 64-bit R):
#   Rscript run_examples.R LIBRARY
args <- commandArgs(trailingOnly = TRUE)
stopifnot(length(args) == 1L)
library(brindle, lib.loc = args[[1L]])
db <- tools::Rd_db("brindle", lib.loc = args[[1L]])
stopifnot(length(db) >= 4L)
for (page in names(db)) {
  ex <- tempfile(fileext = ".R")
  tools::Rd2ex(db[[page]], ex)
  if (!file.exists(ex)) stop(page, " has no example")
  cat("==", page, "\n")
  withCallingHandlers(source(ex, echo = TRUE, max.deparse.length = Inf, local = new.env()),
                      warning = function(w) stop("warning in the example of ", page, ": ",
                                                 conditionMessage(w)))
}
cat(sprintf("%d passed, 0 failed\n", length(db)))
