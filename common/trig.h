// Sine and cosine in extended precision for the chain's oscillators, whose angles stay within
// (-2 pi, 2 pi).
#pragma once

// Both at once: *s = sin x, *c = cos x. Within one unit in the last place of the exact values
// for |x| <= 8; larger arguments are handed to the C library.
void ExtendedSinCos(long double x, long double* s, long double* c);
