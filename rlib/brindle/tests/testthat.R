library(testthat)
library(brindle)

test_check("brindle")
