# The routine against R's own arithmetic on random arrays.

test_that("random arrays: sums as R adds them, counts of the months present", {
  for (case in brindle_random_cases()) {
    r <- brindle_call_c(case, brindle:::C_brindle)
    # left-to-right double-precision sums (Reduce) give the very same bits
    expect_true(brindle_same_bits(r$sum, case$sum), label = case$name)
    expect_identical(r$months, case$months, label = case$name)
    # R's sum() accumulates in long double: the same up to rounding
    d <- c(case$ncells, case$nmonths, case$nyears)
    w <- brindle(case$var_local, case$NAvalue, dims = d)
    a <- array(case$var_local, d)
    na <- case$NAvalue
    by_apply <- apply(a, c(1, 3), function(v) {
      p <- v[abs(v - na) >= 1e-7]
      if (length(p)) sum(p) else na
    })
    expect_equal(w$sum, by_apply, tolerance = 1e-12, label = case$name)
    expect_identical(w$months, apply(abs(a - na) >= 1e-7, c(1, 3), sum), label = case$name)
  }
})

test_that("random arrays of exactly representable values equal apply() and sum() exactly", {
  set.seed(7)
  for (d in list(c(10, 12, 4), c(123, 12, 10), c(5, 31, 12))) {
    n <- prod(d)
    x <- array(round(runif(n, -4000, 4000) * 4) / 4, d)    # quarters: sums are exact
    x[runif(n) < 0.3] <- -9999
    x[1, , 1] <- -9999                                      # one cell-year without months
    r <- brindle(x, -9999)
    expected_sum <- apply(x, c(1, 3), function(v) {
      if (any(v != -9999)) sum(v[v != -9999]) else -9999
    })
    expect_identical(r$sum, expected_sum)
    expect_identical(r$months, apply(x != -9999, c(1, 3), sum))
    expect_identical(r$months[1, 1], 0L)
    expect_identical(r$sum[1, 1], -9999)
  }
})

test_that("months within 1e-7 of NAvalue are missing, at 1e-7 or more present", {
  na <- 123.25
  x <- array(c(na + 9e-8, na - 9e-8, na + 2e-7, na - 2e-7, na, na + 1e-6), c(1, 6, 1))
  r <- brindle(x, na)
  expect_identical(r$months[1, 1], 3L)
  expect_identical(r$sum[1, 1], (na + 2e-7) + (na - 2e-7) + (na + 1e-6))
})
