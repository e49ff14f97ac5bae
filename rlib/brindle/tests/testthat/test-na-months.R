# NAvalue = NA: the months that are NA or NaN are the missing ones.

test_that("NA and NaN months are skipped and not counted", {
  # 2 cells x 3 months x 2 years
  x <- array(c(1, NA,   NaN, 20,   3, 30,
               NA, 5,   NaN, NA,   NA, -0), dim = c(2, 3, 2))
  r <- brindle(x, NAvalue = NA)
  expect_identical(r$sum, matrix(c(4, 50, NA, 5), 2))
  expect_identical(r$months, matrix(c(2L, 2L, 0L, 2L), 2))
})

test_that("with NA months the sums equal those with the months coded by a number", {
  set.seed(7)
  x <- array(rnorm(7 * 12 * 5) * 10^sample(-3:6, 7 * 12 * 5, TRUE), c(7, 12, 5))
  gone <- sample(length(x), 100)
  x[gone[1:50]] <- NA
  x[gone[51:100]] <- NaN
  x[, , 4] <- NA                           # a year without any month
  coded <- x
  coded[is.na(coded)] <- -9999
  r <- brindle(x, NA)
  ref <- brindle(coded, -9999)
  expect_identical(r$months, ref$months)
  expect_identical(r$months[, 4], rep(0L, 7))
  expect_identical(r$sum[ref$months > 0], ref$sum[ref$months > 0])   # bit for bit
  expect_true(all(is.na(r$sum[ref$months == 0])) && !any(is.nan(r$sum[ref$months == 0])))
})

test_that("a numeric NAvalue keeps its 1e-7 tolerance and counts NA months as present", {
  x <- array(c(-9999 + 5e-8, NA, 2, -9999 + 1e-7 * 2), c(1, 4, 1))
  r <- brindle(x, -9999)
  expect_identical(r$months, matrix(3L))
  expect_true(is.na(r$sum[1, 1]))
  r <- brindle(x, NA)
  expect_identical(r$months, matrix(3L))
  expect_identical(r$sum, matrix(-9999 + 5e-8 + 2 + (-9999 + 1e-7 * 2)))
})

test_that("NA months with dims and with no month at all", {
  expect_identical(brindle(c(NA, 1, 2, NaN), NA, dims = c(2, 2, 1)),
                   list(sum = matrix(c(2, 1), 2), months = matrix(c(1L, 1L), 2)))
  expect_identical(brindle(numeric(0), NA, dims = c(2, 0, 1)),
                   list(sum = matrix(NA_real_, 2, 1), months = matrix(0L, 2, 1)))
})
