# Every worked example, through the registered routine and through brindle().

for (case in brindle_worked_examples()) {
  test_that(paste("routine:", case$name), {
    r <- brindle_call_c(case, brindle:::C_brindle)
    expect_identical(r$sum, case$sum)
    expect_identical(r$months, case$months)
  })
  if (brindle_case_for_wrapper(case)) {
    test_that(paste("brindle():", case$name), {
      r <- brindle(case$var_local, case$NAvalue,
                   dims = c(case$ncells, case$nmonths, case$nyears))
      expect_identical(dim(r$sum), c(case$ncells, case$nyears))
      expect_identical(dim(r$months), c(case$ncells, case$nyears))
      expect_identical(as.vector(r$sum), case$sum)
      expect_identical(as.vector(r$months), case$months)
    })
  }
}

test_that("the routine leaves its inputs alone and sees each argument by address", {
  x <- c(1, -9999, 3, 4, 5, -9999)
  r <- .C(brindle:::C_brindle, var_local = x, ncells = 2L, nmonths = 3L, nyears = 1L,
          NAvalue = -9999, var_sum = double(2), return_months = integer(2))
  expect_identical(r$var_local, x)
  expect_identical(r[c("ncells", "nmonths", "nyears", "NAvalue")],
                   list(ncells = 2L, nmonths = 3L, nyears = 1L, NAvalue = -9999))
  expect_identical(r$var_sum, c(1 + 3 + 5, 4))          # cell 0: months 1, 3, 5; cell 1: 4
  expect_identical(r$return_months, c(3L, 1L))
})

test_that("the routine is registered for .C with seven typed arguments", {
  info <- getDLLRegisteredRoutines("brindle")$.C$brindle
  expect_identical(info$name, "brindle")
  expect_identical(info$numParameters, 7L)
  # .C refuses a wrong type through the registration
  expect_error(.C(brindle:::C_brindle, 1L, 1L, 1L, 1L, 0, double(1), integer(1)))
})

test_that("brindle() returns cells x years matrices with the dimnames of x", {
  x <- array(c(1, 2, -9999, 4, 5, 6, 7, 8, 9, 10, 11, -9999), dim = c(2, 3, 2),
             dimnames = list(cell = c("a", "b"), month = c("jan", "feb", "mar"),
                             year = c("2001", "2002")))
  r <- brindle(x, -9999)
  expect_named(r, c("sum", "months"))
  expected_dn <- list(cell = c("a", "b"), year = c("2001", "2002"))
  expect_identical(dimnames(r$sum), expected_dn)
  expect_identical(dimnames(r$months), expected_dn)
  expect_identical(r$sum[, "2001"], c(a = 1 + 5, b = 2 + 4 + 6))
  expect_identical(r$sum[, "2002"], c(a = 7 + 9 + 11, b = 8 + 10))
  expect_identical(r$months[, "2002"], c(a = 3L, b = 2L))
  expect_true(is.double(r$sum))
  expect_true(is.integer(r$months))
})

test_that("brindle() takes integer arrays, zero extents and the dims of a plain vector", {
  x <- array(1:24, dim = c(2, 3, 4))
  r <- brindle(x, -1L)
  expect_identical(r$sum, apply(x, c(1, 3), function(v) as.double(sum(v))))
  expect_identical(brindle(as.vector(x), -1, dims = c(2, 3, 4)), r)
  # dims win over the dim attribute of x: a cells x (months * years) matrix
  expect_identical(brindle(matrix(x, 2), -1, dims = c(2, 3, 4)), r)
  expect_identical(dim(brindle(numeric(0), -9999, dims = c(0, 12, 5))$sum), c(0L, 5L))
  expect_identical(dim(brindle(numeric(0), -9999, dims = c(4, 12, 0))$months), c(4L, 0L))
  z <- brindle(array(0, c(3, 0, 2)), 7.5)
  expect_identical(z$sum, matrix(7.5, 3, 2))
  expect_identical(z$months, matrix(0L, 3, 2))
})
