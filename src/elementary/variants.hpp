// Each function of the table built twice: with Dekker's products (_plain)
// and with the CPU's fused multiply-add (_fused; the plain one where it is
// not built).  The same bits either way; elementary.cpp chooses at load.
// The function files define them and need nothing of each other.
#pragma once

namespace tallymat::elementary::variants {

// exponential.cpp
double exp_plain(double x);
double log_plain(double x);
double log10_plain(double x);
double pow_plain(double x, double y);
double exp_fused(double x);
double log_fused(double x);
double log10_fused(double x);
double pow_fused(double x, double y);

// trigonometric.cpp
double sin_plain(double x);
double cos_plain(double x);
double tan_plain(double x);
double asin_plain(double x);
double acos_plain(double x);
double atan_plain(double x);
double sin_fused(double x);
double cos_fused(double x);
double tan_fused(double x);
double asin_fused(double x);
double acos_fused(double x);
double atan_fused(double x);

}  // namespace tallymat::elementary::variants
