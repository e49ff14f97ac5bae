# A temporary file removed when the calling test ends (without needing the withr package).
temp_file <- function(env = parent.frame()) {
  f <- tempfile(fileext = ".bin")
  do.call(on.exit, list(substitute(unlink(f), list(f = f)), add = TRUE), envir = env)
  f
}
