#pragma once
// LU factorisation with partial pivoting and the inverse and determinant
// from it (column-oriented Gaussian elimination, as in the classic LINPACK
// routines). Matrices are column-major: element (i, j), 1-based, is
// a[(j−1)·lda + (i−1)].

namespace kurv {

// Factorises the n×n matrix a in place into L·U. pivots[k−1] is the row
// interchanged with row k at step k (1-based). info is 0, or the 1-based
// index of the last column found singular: a pivot exactly zero, or below
// 2⁻⁵² in absolute value (columns 1 … n−1 only).
void factorLU(double* a, int lda, int n, int* pivots, int& info);

// From the output of factorLU: job's tens digit computes the determinant as
// det[0]·10^det[1] with 1 ≤ |det[0]| < 10 (or det[0] = 0); job's units digit
// replaces a by its inverse. work holds n doubles. Call only after factorLU
// returned info 0 when the inverse is wanted.
void invertLU(double* a, int lda, int n, const int* pivots, double* det, double* work, int job);

}  // namespace kurv
