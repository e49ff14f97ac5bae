# brindle(): sums of the months present per cell and year, through the C routine.
# The C routine checks nothing, so every argument is checked here before .C is called: the
# routine must never read or write outside the vectors that R passes it.

brindle <- function(x, NAvalue, dims = NULL) {
  if (inherits(x, "SpatRaster")) return(brindle_spatraster(x, NAvalue, dims))
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
  na_months <- is_na_code(NAvalue)
  if (!na_months) check_navalue(NAvalue)

  n <- as.integer(dims)
  nout <- n[1L] * n[3L]
  v <- as.double(x)
  if (na_months) {
    missing <- is.na(v)
    v[missing] <- 0   # adds nothing: the running sum starts at +0
  }
  # With NA months the routine is given NaN as its code, which marks no month as missing; the
  # NA months are zeros in v and taken off the counts below.
  res <- .C(C_brindle,
            var_local = v,
            ncells = n[1L], nmonths = n[2L], nyears = n[3L],
            NAvalue = if (na_months) NaN else as.double(NAvalue),
            var_sum = double(nout),
            return_months = integer(nout),
            NAOK = TRUE)
  if (na_months) {
    res$return_months <- res$return_months - count_missing(missing, n)
    res$var_sum[res$return_months == 0L] <- NA_real_
  }

  rdn <- if (!is.null(dn)) list(dn[[1L]], dn[[3L]])
  names(rdn) <- names(dn)[c(1L, 3L)]
  list(sum = matrix(res$var_sum, n[1L], n[3L], dimnames = rdn),
       months = matrix(res$return_months, n[1L], n[3L], dimnames = rdn))
}

# NAvalue = NA (any NA but NaN) marks NA and NaN months as missing.
is_na_code <- function(NAvalue) {
  length(NAvalue) == 1L && (is.logical(NAvalue) || is.numeric(NAvalue)) && is.na(NAvalue) &&
    !is.nan(NAvalue)
}

check_navalue <- function(NAvalue) {
  if (!is.numeric(NAvalue) || is.complex(NAvalue) || length(NAvalue) != 1L) {
    stop("'NAvalue' must be one number, the code of a missing month, or NA", call. = FALSE)
  }
  if (!is.finite(NAvalue)) {
    stop("'NAvalue' must be finite: NaN or an infinite code would mark no month as missing ",
         "(NAvalue = NA marks NA and NaN months as missing)", call. = FALSE)
  }
}

# Missing months per cell and year, cells fastest (the layout of the routine's results).
count_missing <- function(missing, n) {
  if (n[2L] == 0L || n[1L] == 0L || n[3L] == 0L) return(integer(n[1L] * n[3L]))
  dim(missing) <- n
  as.integer(colSums(aperm(missing, c(2L, 1L, 3L))))
}

# A SpatRaster of cells x (months of every year) layers: the sums and counts as matrices, as
# for an array, and as SpatRasters of one layer per year on the same grid.
brindle_spatraster <- function(x, NAvalue, dims) {
  need_terra()
  nl <- terra::nlyr(x)
  nc <- terra::ncell(x)
  if (is.null(dims)) {
    if (nl %% 12L != 0L) {
      stop(sprintf(paste0("'x' has %d layers, not whole years of 12 months; give ",
                          "'dims = c(ncell(x), nmonths, nyears)'"), nl), call. = FALSE)
    }
    dims <- c(nc, 12, nl %/% 12L)
  } else {
    dims <- check_dims(dims)
    if (dims[1L] != nc || dims[2L] * dims[3L] != nl) {
      stop(sprintf("'dims' (%s) does not fit a SpatRaster of %s cells and %d layers",
                   paste(dims, collapse = " x "), format(nc, scientific = FALSE), nl),
           call. = FALSE)
    }
  }
  out <- brindle(terra::values(x, mat = TRUE), NAvalue, dims = dims)
  years <- year_names(names(x), dims[2L], dims[3L])
  out$sum_rast <- terra::rast(x, nlyrs = dims[3L], names = years, vals = out$sum)
  out$months_rast <- terra::rast(x, nlyrs = dims[3L], names = years, vals = out$months)
  out
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

# Layers named YEAR_BAND (as as_spatraster names them) give the years' names; else year_1, ...
year_names <- function(layers, nmonths, nyears) {
  first <- layers[(seq_len(nyears) - 1) * nmonths + 1]
  if (nmonths > 0 && length(first) && all(grepl("^[0-9]+_[0-9]+$", first))) {
    return(sub("_.*$", "", first))
  }
  sprintf("year_%d", seq_len(nyears))
}
