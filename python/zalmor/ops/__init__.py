"""Vector kernels and matrix inversion."""
