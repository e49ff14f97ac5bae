# brindle(): sums of the months present per cell and year, through the C routine.
# The C routine checks nothing, so every argument is checked here before .C is called: the
# routine must never read or write outside the vectors that R passes it.

brindle <- function(x, NAvalue, dims = NULL) {
  if (!is.numeric(x) || is.complex(x)) {
    stop("'x' must be numeric (a cells x months x years array, or a vector with 'dims'); ",
         "it is ", describe_type(x), call. = FALSE)
  }
  if (is.null(dims)) {
    d <- dim(x)
    if (length(d) != 3L) {
      stop("'x' must be a 3-dimensional array (cells x months x years), but it ",
           if (is.null(d)) "has no dimensions" else sprintf("has %d", length(d)),
           "; give them as 'dims = c(ncells, nmonths, nyears)'", call. = FALSE)
    }
    dims <- d
    dn <- dimnames(x)
  } else {
    dims <- check_dims(dims)
    dn <- NULL
  }
  if (any(dims > .Machine$integer.max)) {
    stop("every dimension must be below 2^31", call. = FALSE)
  }
  total <- prod(as.double(dims))
  if (total >= 2^31) {
    stop(sprintf(paste0("ncells x nmonths x nyears = %s reaches 2^31: the routine indexes ",
                        "with 32-bit integers; split the cells into smaller pieces"),
                 format(total, big.mark = ",", scientific = FALSE)), call. = FALSE)
  }
  # total < 2^31 also bounds ncells x nyears unless nmonths is 0
  if (as.double(dims[1L]) * dims[3L] >= 2^31) {
    stop("ncells x nyears reaches 2^31: the results would not fit in an R vector for .C",
         call. = FALSE)
  }
  if (length(x) != total) {
    stop(sprintf("'x' has length %s, but %s (cells x months x years) needs %s values",
                 format(length(x), scientific = FALSE), paste(dims, collapse = " x "),
                 format(total, scientific = FALSE)), call. = FALSE)
  }
  if (!is.numeric(NAvalue) || is.complex(NAvalue) || length(NAvalue) != 1L) {
    stop("'NAvalue' must be one number, the code of a missing month", call. = FALSE)
  }
  if (!is.finite(NAvalue)) {
    stop("'NAvalue' must be finite: NA, NaN or an infinite code would mark no month as missing",
         call. = FALSE)
  }

  n <- as.integer(dims)
  nout <- n[1L] * n[3L]
  res <- .C(C_brindle,
            var_local = as.double(x),
            ncells = n[1L], nmonths = n[2L], nyears = n[3L],
            NAvalue = as.double(NAvalue),
            var_sum = double(nout),
            return_months = integer(nout),
            NAOK = TRUE)

  rdn <- if (!is.null(dn)) list(dn[[1L]], dn[[3L]])
  names(rdn) <- names(dn)[c(1L, 3L)]
  list(sum = matrix(res$var_sum, n[1L], n[3L], dimnames = rdn),
       months = matrix(res$return_months, n[1L], n[3L], dimnames = rdn))
}

check_dims <- function(dims) {
  if (!is.numeric(dims) || is.complex(dims) || length(dims) != 3L) {
    stop("'dims' must be three numbers: c(ncells, nmonths, nyears)", call. = FALSE)
  }
  if (anyNA(dims)) stop("'dims' must not contain NA", call. = FALSE)
  if (any(!is.finite(dims) | dims < 0 | dims != floor(dims))) {
    stop("'dims' must be whole numbers, 0 or more", call. = FALSE)
  }
  dims
}

describe_type <- function(x) {
  if (is.object(x)) {
    sprintf("an object of class \"%s\"", class(x)[1L])
  } else {
    sprintf("of type \"%s\"", typeof(x))
  }
}
