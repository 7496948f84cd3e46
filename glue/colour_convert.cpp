// Colour conversions (HSL, HSY, bias) and the portable transcendental helpers they use.
#include "glue/colour_convert.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

constexpr double kLn2Hi = 6.93147180369123816490e-01;  // ln 2 split so k * hi is exact
constexpr double kLn2Lo = 1.90821492927058770002e-10;
constexpr double kLn2 = 0.69314718055994530942;
constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 6.28318530717958647692;

// 2^n as a double, exact for -1022 <= n <= 1023.
double PowerOfTwo(int n) {
  uint64_t bits = uint64_t(n + 1023) << 52;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// x * 2^n without ldexp, whose i686 runtime version goes through the x87 unit.
double ScaleByPowerOfTwo(double x, int n) {
  while (n > 1023) {
    x *= PowerOfTwo(1023);
    n -= 1023;
  }
  while (n < -1022) {
    x *= PowerOfTwo(-1022);
    n += 1022;
  }
  return x * PowerOfTwo(n);
}

// sin and cos of r for |r| <= pi/4 by their Taylor series up to r^19, where the next
// term is below 1e-17.
void SinCosSmall(double r, double& s, double& c) {
  double z = r * r;
  double sinSum = 0.0, cosSum = 0.0;
  for (int k = 9; k >= 0; --k) {
    double evenFact = 1.0;
    for (int i = 2; i <= 2 * k; ++i) evenFact *= i;
    double oddFact = evenFact * (2 * k + 1);
    double sign = (k % 2) ? -1.0 : 1.0;
    sinSum = sinSum * z + sign / oddFact;
    cosSum = cosSum * z + sign / evenFact;
  }
  s = r * sinSum;
  c = cosSum;
}

// atan(z) for 0 <= z <= 1: two half-angle steps bring z below tan(pi/16), where the
// alternating series converges fast.
double AtanUnit(double z) {
  z = z / (1.0 + std::sqrt(1.0 + z * z));
  z = z / (1.0 + std::sqrt(1.0 + z * z));
  double w = z * z;
  double sum = 0.0;
  for (int k = 31; k >= 1; k -= 2) {
    double term = 1.0 / k;
    sum = sum * w + ((k / 2) % 2 ? -term : term);
  }
  return 4.0 * z * sum;
}

}  // namespace

double PortableLog(double x) {
  if (x != x || x < 0) return std::numeric_limits<double>::quiet_NaN();
  if (x == 0) return -std::numeric_limits<double>::infinity();
  if (x > std::numeric_limits<double>::max()) return x;
  int k = 0;
  double m = std::frexp(x, &k);  // exact: x = m * 2^k, m in [0.5, 1)
  if (m < 0.70710678118654752440) {
    m *= 2.0;
    k -= 1;
  }
  // ln m = 2 atanh s with s = (m - 1) / (m + 1), |s| < 0.172.
  double s = (m - 1.0) / (m + 1.0);
  double z = s * s;
  double sum = 0.0;
  for (int n = 25; n >= 1; n -= 2) sum = sum * z + 1.0 / n;
  double lnM = 2.0 * s * sum;
  return k * kLn2Hi + (lnM + k * kLn2Lo);
}

double PortableExp2(double x) {
  if (x != x) return x;
  if (x > 1024.0) return std::numeric_limits<double>::infinity();
  if (x < -1080.0) return 0.0;
  double n = std::floor(x + 0.5);
  double t = (x - n) * kLn2;  // |t| <= ln2 / 2
  double sum = 1.0;
  for (int k = 17; k >= 1; --k) sum = 1.0 + sum * t / k;
  return ScaleByPowerOfTwo(sum, int(n));
}

double PortablePow(double x, double y) {
  if (x != x || y != y) return std::numeric_limits<double>::quiet_NaN();
  if (y == 0) return 1.0;
  if (x == 0) return y > 0 ? 0.0 : std::numeric_limits<double>::infinity();
  if (x < 0) return std::numeric_limits<double>::quiet_NaN();
  if (x == 1) return 1.0;
  return PortableExp2(y * (PortableLog(x) / kLn2));
}

void SinCosTurns(double turns, double& s, double& c) {
  if (!(turns == turns) || std::fabs(turns) > 1e15) {
    s = c = std::numeric_limits<double>::quiet_NaN();
    return;
  }
  double t = turns - std::floor(turns);  // [0, 1)
  double quarter = std::floor(t * 4.0 + 0.5);
  double r = (t - quarter * 0.25) * kTwoPi;  // [-pi/4, pi/4]
  double sr, cr;
  SinCosSmall(r, sr, cr);
  switch (int(quarter) & 3) {
    case 0: s = sr; c = cr; break;
    case 1: s = cr; c = -sr; break;
    case 2: s = -sr; c = -cr; break;
    default: s = -cr; c = sr; break;
  }
}

double PortableSin(double x) {
  double s, c;
  SinCosTurns(x / kTwoPi, s, c);
  return s;
}

double PortableCos(double x) {
  double s, c;
  SinCosTurns(x / kTwoPi, s, c);
  return c;
}

double AngleTurns(double x, double y) {
  double ax = std::fabs(x), ay = std::fabs(y);
  if (!(ax > 0) && !(ay > 0)) return 0.0;  // also NaN
  double angle = ay <= ax ? AtanUnit(ay / ax) : kPi * 0.5 - AtanUnit(ax / ay);
  if (x < 0) angle = kPi - angle;
  double turns = angle / kTwoPi;
  if (y < 0) turns = 1.0 - turns;
  return turns >= 1.0 ? 0.0 : turns;
}

void RgbToHsl(float r, float g, float b, float& h, float& s, float& l) {
  float v = r > g ? r : g;
  if (b > v) v = b;
  float m = r < g ? r : g;
  if (b < m) m = b;
  h = 0;
  s = 0;
  l = (v + m) * 0.5f;
  if (l <= 0) return;
  float delta = v - m;
  if (!(delta > 0)) return;
  s = l <= 0.5f ? delta / (v + m) : delta / (2.0f - v - m);
  // Exact float comparisons in this order: pure red lands on 6/6 = 1, not 0. Each
  // branch divides only for the distance it uses.
  if (r == v) {
    h = g == m ? 5.0f + (v - b) / delta : 1.0f - (v - g) / delta;
  } else if (g == v) {
    h = b == m ? 1.0f + (v - r) / delta : 3.0f - (v - b) / delta;
  } else {
    h = r == m ? 3.0f + (v - g) / delta : 5.0f - (v - r) / delta;
  }
  h = h * 0.16666667f;
}

void HslToRgb(float h, float s, float l, float& r, float& g, float& b) {
  float v = l <= 0.5f ? l * (1.0f + s) : l + s - l * s;
  if (v <= 0) {
    r = g = b = 0;
    return;
  }
  float m = l + l - v;
  float sv = (v - m) / v;
  float x = h * 6.0f;
  // trunc(x) without the library call: floats this large are whole numbers already,
  // and NaN stays NaN.
  float whole = x > -8388608.0f && x < 8388608.0f ? float(int32_t(x)) : x;
  float fract = x - whole;
  int sextant = 5;  // what a negative or non-numeric hue falls back to
  if (whole >= 6.0f) {
    sextant = 0;
  } else if (whole >= 0.0f) {
    sextant = int(whole);
  }
  float vsf = v * sv * fract;
  float mid1 = m + vsf;
  float mid2 = v - vsf;
  switch (sextant) {
    case 0: r = v; g = mid1; b = m; break;
    case 1: r = mid2; g = v; b = m; break;
    case 2: r = m; g = v; b = mid1; break;
    case 3: r = m; g = mid2; b = v; break;
    case 4: r = mid1; g = m; b = v; break;
    default: r = v; g = m; b = mid2; break;
  }
}

float HueBrightness(float h, float s) {
  float r, g, b;
  HslToRgb(h, s, 0.5f, r, g, b);
  return float(0.28 * r + 0.52 * g + 0.20 * b);
}

float LightnessToLuma(float d, float l) {
  if (l > 0.5f) return d + (l - 0.5f) * 2.0f * (1.0f - d);
  return l * 2.0f * d;
}

float LumaToLightness(float d, float y) {
  if (d < 0) d = 0;
  if (d > 1) d = 1;
  if (y >= 1) return 1;
  if (y <= 0) return 0;
  if (d < y) return (y - d) / (1.0f - d) * 0.5f + 0.5f;
  return y / d * 0.5f;
}

void RgbToHsy(float r, float g, float b, float& h, float& s, float& y) {
  float l;
  RgbToHsl(r, g, b, h, s, l);
  y = LightnessToLuma(HueBrightness(h, s), l);
}

void HsyToRgb(float h, float s, float y, float& r, float& g, float& b) {
  float l = LumaToLightness(HueBrightness(h, s), y);
  HslToRgb(h, s, l, r, g, b);
}

float Bias(float t, float b) {
  if (t == 0) return 0;
  if (!(t > 0)) return 0;
  if (!(b > 0)) return t >= 1 ? 1.0f : 0.0f;  // the limit of the curve as b -> 0
  // -log2 b, through the float-rounded constant the curve has always used.
  float e = float(PortableLog(b) * -1.4426950216293335);
  return float(PortablePow(t, e));
}
