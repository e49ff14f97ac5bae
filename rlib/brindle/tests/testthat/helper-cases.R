# Cases for the routine brindle, in base R only: the testthat tests use them, and
# so do the scripts in rlib/test that run them in the 32-bit and the 64-bit R and compare
# the results bit for bit.
#
# A case holds the seven arguments of the routine as .C passes them (var_local, ncells,
# nmonths, nyears, NAvalue, and the lengths of the two outputs) and, where known, the results
# that it must give (sum, months). Outputs start filled with a sentinel, so that a test also
# sees what the routine left alone.

brindle_sentinel_sum <- -123456.75
brindle_sentinel_months <- -77L

brindle_case <- function(name, var_local, ncells, nmonths, nyears, NAvalue, sum = NULL,
                         months = NULL, nout = max(0L, ncells) * max(0L, nyears)) {
  list(name = name, var_local = as.double(var_local), ncells = as.integer(ncells),
       nmonths = as.integer(nmonths), nyears = as.integer(nyears),
       NAvalue = as.double(NAvalue), nout = as.integer(nout),
       sum = if (!is.null(sum)) as.double(sum), months = if (!is.null(months)) as.integer(months))
}

# Whether the R function brindle() accepts the case (the raw routine takes more).
brindle_case_for_wrapper <- function(case) {
  case$ncells >= 0 && case$nmonths >= 0 && case$nyears >= 0 && is.finite(case$NAvalue) &&
    length(case$var_local) == case$ncells * case$nmonths * case$nyears &&
    case$nout == case$ncells * case$nyears
}

# The worked examples (and a few more of the same kind), with their results.
brindle_worked_examples <- function() {
  # 2 cells x 12 months x 2 years, all 1 but element 25 (0-based): cell 1, month 0, year 1
  idx <- rep(1, 48)
  idx[25 + 1] <- 100
  idx_missing <- rep(1, 48)
  idx_missing[25 + 1] <- -9999
  b <- 1e-7                       # the double nearest 1e-7
  below <- b - 2^-76              # the next double below it (1e-7 lies in [2^-24, 2^-23))
  list(
    brindle_case("1, NAvalue, 3: sum 4, count 2", c(1, -9999, 3), 1, 3, 1, -9999,
                 sum = 4, months = 2),
    brindle_case("all months missing: NAvalue, count 0", rep(-9999, 3), 1, 3, 1, -9999,
                 sum = -9999, months = 0),
    brindle_case("-9999.00000005 is missing, -9998.9 is summed",
                 c(-9999.00000005, -9998.9, 2), 1, 3, 1, -9999,
                 sum = -9998.9 + 2, months = 2),
    brindle_case("-9998.9 alone", c(-9999, -9998.9, -9999), 1, 3, 1, -9999,
                 sum = -9998.9, months = 1),
    brindle_case("distance exactly 1e-7 is summed; just below 1e-7 is missing",
                 c(b, -b, below, -below, 2), 1, 5, 1, 0, sum = b + -b + 2, months = 3),
    brindle_case("NAvalue -1: -1 + 2^-23 (1.19e-7 away) is summed, -1 + 2^-24 is missing",
                 c(-1 + 2^-23, -1 + 2^-24, -1), 1, 3, 1, -1, sum = -1 + 2^-23, months = 1),
    brindle_case("nmonths 0: NAvalue and count 0", numeric(0), 3, 0, 2, -9999,
                 sum = rep(-9999, 6), months = rep(0, 6)),
    brindle_case("nmonths -2: NAvalue and count -2", numeric(0), 2, -2, 2, -9999,
                 sum = rep(-9999, 4), months = rep(-2, 4)),
    brindle_case("index: cell 1, month 0, year 1 is element 25, result element 3", idx, 2, 12,
                 2, -9999, sum = c(12, 12, 12, 111), months = c(12, 12, 12, 12)),
    brindle_case("index: element 25 missing makes result element 3 count 11", idx_missing, 2,
                 12, 2, -9999, sum = c(12, 12, 12, 11), months = c(12, 12, 12, 11)),
    # cell 0: months 1, 3, 5; cell 1: NaN, 4, 6
    brindle_case("a NaN month is counted and makes the sum NaN", c(1, NaN, 3, 4, 5, 6), 2, 3, 1,
                 -9999, sum = c(1 + 3 + 5, NaN), months = c(3, 3)),
    brindle_case("an NA month is counted and makes the sum NA", c(1, NA, 3), 1, 3, 1, -9999,
                 sum = NA_real_, months = 3),
    brindle_case("NaN NAvalue marks nothing missing", c(1, NaN, 3), 1, 3, 1, NaN,
                 sum = NaN, months = 3),
    brindle_case("sums in double precision, in month order: 1e16 + 1 - 1e16 is 0",
                 c(1e16, 1, -1e16, 2^53, 1, 1), 1, 3, 2, -9999, sum = c(0, 2^53), months = c(3, 3)),
    brindle_case("infinite months are present", c(Inf, 1, -Inf, 2, Inf, 3), 2, 3, 1, -9999,
                 sum = c(NaN, 6), months = c(3, 3)),
    brindle_case("ncells 0 writes nothing", numeric(0), 0, 12, 3, -9999, nout = 2,
                 sum = rep(brindle_sentinel_sum, 2), months = rep(brindle_sentinel_months, 2)),
    brindle_case("nyears -1 writes nothing", numeric(0), 4, 12, -1, -9999, nout = 2,
                 sum = rep(brindle_sentinel_sum, 2), months = rep(brindle_sentinel_months, 2))
  )
}

# Random arrays whose results come from R's own arithmetic. Present months are far from
# NAvalue; the months set missing are exactly NAvalue, or within 1e-7 of it.
brindle_random_cases <- function(seed = 20260701L) {
  old <- if (exists(".Random.seed", globalenv())) get(".Random.seed", globalenv())
  on.exit(if (!is.null(old)) assign(".Random.seed", old, globalenv()))
  set.seed(seed)
  shapes <- list(c(1, 12, 1), c(7, 12, 5), c(50, 12, 30), c(3, 1, 9), c(333, 4, 11),
                 c(20, 365, 2), c(1000, 12, 3))
  out <- list()
  for (i in seq_along(shapes)) {
    d <- shapes[[i]]
    n <- prod(d)
    na <- c(-9999, 1e20, 0, -1, 3.5)[(i - 1) %% 5 + 1]
    # full-precision doubles over many magnitudes, none within 1e-7 of NAvalue
    v <- (runif(n) - 0.5) * 10^sample(-3:6, n, replace = TRUE)
    v[abs(v - na) < 1e-3] <- na + 1
    missing <- runif(n) < 0.25
    # some cell-years with every month missing
    dead <- sample(d[1] * d[3], max(1, (d[1] * d[3]) %/% 10))
    arr <- array(missing, d)
    for (k in dead) arr[(k - 1) %% d[1] + 1, , (k - 1) %/% d[1] + 1] <- TRUE
    missing <- as.vector(arr)
    jitter <- runif(n, -0.9e-7, 0.9e-7) * (runif(n) < 0.5)
    v[missing] <- na + jitter[missing]
    # make sure the jitter keeps them within the tolerance after rounding
    v[missing & abs(v - na) >= 1e-7] <- na
    ref <- brindle_reference(v, d, na, !missing)
    out[[i]] <- brindle_case(sprintf("random %d x %d x %d, NAvalue %g", d[1], d[2], d[3], na), v,
                             d[1], d[2], d[3], na, sum = ref$sum, months = ref$months)
  }
  out
}

# The results by R's arithmetic: months present given by the mask, summed left to right in
# double precision (Reduce), which is what the routine does.
brindle_reference <- function(v, d, na, present) {
  a <- array(v, d)
  p <- array(present, d)
  sums <- matrix(na, d[1], d[3])
  months <- matrix(0L, d[1], d[3])
  for (y in seq_len(d[3])) {
    for (c in seq_len(d[1])) {
      keep <- a[c, , y][p[c, , y]]
      months[c, y] <- length(keep)
      if (length(keep)) sums[c, y] <- Reduce(`+`, keep, 0)
    }
  }
  list(sum = as.vector(sums), months = as.vector(months))
}

# Calls the routine through .C: `routine` is a registered or a dynamically found symbol.
brindle_call_c <- function(case, routine) {
  r <- .C(routine,
          var_local = case$var_local, ncells = case$ncells, nmonths = case$nmonths,
          nyears = case$nyears, NAvalue = case$NAvalue,
          var_sum = rep(brindle_sentinel_sum, case$nout),
          return_months = rep(brindle_sentinel_months, case$nout), NAOK = TRUE)
  list(sum = r$var_sum, months = r$return_months)
}

# Bit-for-bit equality of doubles (identical() takes -0 for 0 and any NaN for any other).
brindle_same_bits <- function(a, b) {
  length(a) == length(b) &&
    identical(writeBin(as.double(a), raw(), endian = "little"),
              writeBin(as.double(b), raw(), endian = "little"))
}
