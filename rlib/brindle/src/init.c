/* init.c - registers the routine brindle with R for .C (R loads this as R_init_brindle). */
#include <R.h>
#include <R_ext/Rdynload.h>
#include <Rinternals.h> /* REALSXP, INTSXP */
#include <stddef.h>

#include "brindle.h"

/* The seven arguments of brindle, in order, as R's types: .C checks them on every call. */
static R_NativePrimitiveArgType brindle_types[] = {REALSXP, INTSXP,  INTSXP, INTSXP,
                                                   REALSXP, REALSXP, INTSXP};

static const R_CMethodDef c_methods[] = {
    /* Through void (*)(void), which matches every function type, to R's DL_FUNC. */
    {"brindle", (DL_FUNC)(void (*)(void))brindle, 7, brindle_types},
    {NULL, NULL, 0, NULL}};

void R_init_brindle(DllInfo *dll);

void R_init_brindle(DllInfo *dll) {
  R_registerRoutines(dll, c_methods, NULL, NULL, NULL);
  R_useDynamicSymbols(dll, FALSE);
}
