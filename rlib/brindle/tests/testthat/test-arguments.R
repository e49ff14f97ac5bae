# brindle() refuses what would make the unchecking C routine read or write out of bounds.

test_that("x must be numeric", {
  expect_error(brindle(array("1", c(1, 1, 1)), -9999), "'x' must be numeric.*character")
  expect_error(brindle(array(TRUE, c(1, 1, 1)), -9999), "'x' must be numeric.*logical")
  expect_error(brindle(factor(1:3), -9999, dims = c(1, 3, 1)), "'x' must be numeric.*factor")
  expect_error(brindle(array(1i, c(1, 1, 1)), -9999), "'x' must be numeric.*complex")
  expect_error(brindle(NULL, -9999, dims = c(0, 0, 0)), "'x' must be numeric.*NULL")
  expect_error(brindle(list(1, 2, 3), -9999, dims = c(1, 3, 1)), "'x' must be numeric.*list")
  expect_error(brindle(data.frame(a = 1:3), -9999, dims = c(1, 3, 1)), "'x' must be numeric")
})

test_that("x must be a 3-dimensional array unless dims are given", {
  expect_error(brindle(1:12, -9999), "3-dimensional array.*has no dimensions.*dims")
  expect_error(brindle(matrix(1:12, 3), -9999), "3-dimensional array.*has 2")
  expect_error(brindle(array(1:16, c(2, 2, 2, 2)), -9999), "3-dimensional array.*has 4")
})

test_that("dims must be three whole numbers, 0 or more, without NA", {
  expect_error(brindle(1:12, -9999, dims = c(3, 4)), "three numbers")
  expect_error(brindle(1:12, -9999, dims = c(3, 4, 1, 1)), "three numbers")
  expect_error(brindle(1:12, -9999, dims = c("3", "4", "1")), "three numbers")
  expect_error(brindle(1:12, -9999, dims = c(3, NA, 1)), "must not contain NA")
  expect_error(brindle(1:12, -9999, dims = c(NA_integer_, 4L, 1L)), "must not contain NA")
  expect_error(brindle(1:12, -9999, dims = c(3, NaN, 1)), "must not contain NA")
  expect_error(brindle(1:12, -9999, dims = c(-3, -4, 1)), "whole numbers, 0 or more")
  expect_error(brindle(1:12, -9999, dims = c(3, 4, -1)), "whole numbers, 0 or more")
  expect_error(brindle(1:12, -9999, dims = c(1.5, 8, 1)), "whole numbers, 0 or more")
  expect_error(brindle(1:12, -9999, dims = c(3, Inf, 1)), "whole numbers, 0 or more")
})

test_that("the length of x must match the dimensions", {
  expect_error(brindle(1:10, -9999, dims = c(2, 3, 2)), "'x' has length 10.*needs 12")
  expect_error(brindle(1:13, -9999, dims = c(2, 3, 2)), "'x' has length 13.*needs 12")
  expect_error(brindle(numeric(0), -9999, dims = c(1, 1, 1)), "'x' has length 0.*needs 1")
})

test_that("dimensions whose product reaches 2^31 are refused before anything is allocated", {
  expect_error(brindle(numeric(1), -9999, dims = c(2^16, 2^15, 1)), "reaches 2\\^31")
  expect_error(brindle(numeric(1), -9999, dims = c(46341, 46341, 1)), "reaches 2\\^31")
  expect_error(brindle(numeric(1), -9999, dims = c(1024, 12, 174763)), "reaches 2\\^31")
  expect_error(brindle(numeric(1), -9999, dims = c(2^31, 1, 1)), "below 2\\^31")
  expect_error(brindle(numeric(0), -9999, dims = c(2^31, 0, 1)), "below 2\\^31")
  expect_error(brindle(numeric(0), -9999, dims = c(1, 0, 2^40)), "below 2\\^31")
  # no month, but a result of 2^31 cells x years could not be passed to .C
  expect_error(brindle(numeric(0), -9999, dims = c(2^16, 0, 2^15)), "ncells x nyears")
  # 2^31 - 1 (a prime) is accepted: only the length check refuses it
  expect_error(brindle(numeric(1), -9999, dims = c(2^31 - 1, 1, 1)), "has length 1")
})

test_that("NAvalue must be one finite number or NA", {
  x <- array(1, c(1, 2, 1))
  expect_error(brindle(x), "NAvalue")
  expect_identical(brindle(x, NA), list(sum = matrix(2), months = matrix(2L)))
  expect_identical(brindle(x, NA_real_), list(sum = matrix(2), months = matrix(2L)))
  expect_identical(brindle(x, NA_integer_)$months, matrix(2L))
  expect_error(brindle(x, c(NA, NA)), "'NAvalue' must be one number")
  expect_error(brindle(x, NaN), "'NAvalue' must be finite")
  expect_error(brindle(x, Inf), "'NAvalue' must be finite")
  expect_error(brindle(x, -Inf), "'NAvalue' must be finite")
  expect_error(brindle(x, "-9999"), "'NAvalue' must be one number")
  expect_error(brindle(x, c(-9999, -999)), "'NAvalue' must be one number")
  expect_error(brindle(x, numeric(0)), "'NAvalue' must be one number")
  expect_error(brindle(x, TRUE), "'NAvalue' must be one number")
  expect_identical(brindle(x, -9999L)$sum, matrix(2))
})

test_that("errors do not show the internal call", {
  e <- tryCatch(brindle(1:3, -9999), error = identity)
  expect_null(conditionCall(e))
})
