// Writes glue/colour_cubes.cpp: the forward (RGB -> L a* b*) and inverse colour cubes of
// the opponent-space glue modes, as byte tables.
//
// Usage: make_colour_cubes <output.cpp>   (prints a summary of the checks to stdout)
//
// The space is CIELAB of an RGB with a 1.8 transfer curve, primaries red (0.638, 0.343),
// green (0.310, 0.583), blue (0.127, 0.095) and the D65 white, L scaled to 0..255 and
// a*, b* scaled by 1.0136 around 128. Two small corrections then pin down the values the
// glue modes were tuned with: L passes through a monotone curve that puts the sixteen
// grey nodes on their fixed levels, and the six chromatic corners get their fixed
// values through a correction spread by tetrahedral interpolation over the cube (zero
// on the grey axis, so greys stay neutral). The inverse cube inverts that same
// continuous forward map and clips to the RGB cube; its nodes are then refined for the
// best round trip through both interpolated cubes (see BuildInverse) while its three
// fixed nodes keep their values. The two fixed nodes at L = 255 are what the inversion
// gives anyway; node (8, 8, 8) sits about 19 levels brighter than the exact inverse, and
// its neighbours absorb most of that. The program fails (exit 1) when any fixed value is
// missed.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kSide = 16;
constexpr double kGamma = 1.8;
constexpr double kChromaScale = 1.0136;

const int kGreyLevels[kSide] = {0,   17,  48,  72,  93,  112, 130, 147,
                                163, 177, 191, 204, 218, 230, 243, 255};

struct Fixed {
  int node[3];
  int value[3];
};
// Forward cube corners (red, green, blue, yellow, magenta, cyan), in node indices.
const Fixed kCorners[6] = {
    {{15, 0, 0}, {144, 208, 208}},  {{0, 15, 0}, {214, 51, 207}},
    {{0, 0, 15}, {104, 158, 33}},   {{15, 15, 0}, {243, 119, 222}},
    {{15, 0, 15}, {170, 204, 77}},  {{0, 15, 15}, {228, 75, 111}},
};
const Fixed kInverseFixed[3] = {
    {{15, 7, 7}, {225, 255, 255}},
    {{15, 8, 8}, {255, 249, 237}},
    {{8, 8, 8}, {144, 121, 112}},
};

double gToXyz[3][3];
double gFromXyz[3][3];
double gWhite[3];
double gGreyModelL[kSide];
double gCornerDelta[8][3];  // indexed by the corner's bit mask red 1, green 2, blue 4

void Invert3(const double m[3][3], double out[3][3]) {
  double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
               m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
      out[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
    }
}

void BuildMatrix() {
  const double xy[3][2] = {{0.638, 0.343}, {0.310, 0.583}, {0.127, 0.095}};
  const double white[2] = {0.3127, 0.3290};
  double primaries[3][3];
  for (int c = 0; c < 3; ++c) {
    primaries[0][c] = xy[c][0] / xy[c][1];
    primaries[1][c] = 1.0;
    primaries[2][c] = (1.0 - xy[c][0] - xy[c][1]) / xy[c][1];
  }
  gWhite[0] = white[0] / white[1];
  gWhite[1] = 1.0;
  gWhite[2] = (1.0 - white[0] - white[1]) / white[1];
  double inverse[3][3];
  Invert3(primaries, inverse);
  double weight[3];
  for (int c = 0; c < 3; ++c)
    weight[c] = inverse[c][0] * gWhite[0] + inverse[c][1] * gWhite[1] + inverse[c][2] * gWhite[2];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) gToXyz[r][c] = primaries[r][c] * weight[c];
  Invert3(gToXyz, gFromXyz);
}

// Sign-symmetric extensions keep the maps invertible outside the RGB cube.
double Linearise(double v) { return v < 0 ? -std::pow(-v, kGamma) : std::pow(v, kGamma); }
double Delinearise(double v) {
  return v < 0 ? -std::pow(-v, 1.0 / kGamma) : std::pow(v, 1.0 / kGamma);
}
double LabF(double t) {
  return t > 216.0 / 24389.0 ? std::cbrt(t) : (24389.0 / 27.0 * t + 16.0) / 116.0;
}
double LabFInverse(double f) {
  return f > 6.0 / 29.0 ? f * f * f : (116.0 * f - 16.0) * 27.0 / 24389.0;
}

// The uncorrected space, in byte units.
void ModelLab(const double rgb[3], double lab[3]) {
  double lin[3], xyz[3];
  for (int c = 0; c < 3; ++c) lin[c] = Linearise(rgb[c]);
  for (int r = 0; r < 3; ++r)
    xyz[r] = gToXyz[r][0] * lin[0] + gToXyz[r][1] * lin[1] + gToXyz[r][2] * lin[2];
  double fx = LabF(xyz[0] / gWhite[0]), fy = LabF(xyz[1] / gWhite[1]),
         fz = LabF(xyz[2] / gWhite[2]);
  lab[0] = (116.0 * fy - 16.0) * 2.55;
  lab[1] = 128.0 + 500.0 * (fx - fy) * kChromaScale;
  lab[2] = 128.0 + 200.0 * (fy - fz) * kChromaScale;
}

void ModelRgb(const double lab[3], double rgb[3]) {
  double fy = (lab[0] / 2.55 + 16.0) / 116.0;
  double fx = fy + (lab[1] - 128.0) / (500.0 * kChromaScale);
  double fz = fy - (lab[2] - 128.0) / (200.0 * kChromaScale);
  double xyz[3] = {gWhite[0] * LabFInverse(fx), gWhite[1] * LabFInverse(fy),
                   gWhite[2] * LabFInverse(fz)};
  for (int r = 0; r < 3; ++r)
    rgb[r] = Delinearise(gFromXyz[r][0] * xyz[0] + gFromXyz[r][1] * xyz[1] +
                         gFromXyz[r][2] * xyz[2]);
}

// Piecewise-linear map through (model grey L, fixed grey level); linear beyond the ends.
double Interpolate(const double* xs, const double* ys, double x) {
  int i = 0;
  while (i < kSide - 2 && x > xs[i + 1]) ++i;
  return ys[i] + (x - xs[i]) * (ys[i + 1] - ys[i]) / (xs[i + 1] - xs[i]);
}
double GreyCurve(double modelL) {
  double levels[kSide];
  for (int i = 0; i < kSide; ++i) levels[i] = kGreyLevels[i];
  return Interpolate(gGreyModelL, levels, modelL);
}
double GreyCurveInverse(double l) {
  double levels[kSide];
  for (int i = 0; i < kSide; ++i) levels[i] = kGreyLevels[i];
  return Interpolate(levels, gGreyModelL, l);
}

// Tetrahedral interpolation of the corner corrections (black and white carry none).
void CornerCorrection(const double rgbIn[3], double out[3]) {
  double v[3];
  for (int c = 0; c < 3; ++c) v[c] = rgbIn[c] < 0 ? 0 : rgbIn[c] > 1 ? 1 : rgbIn[c];
  int order[3] = {0, 1, 2};  // descending by value
  for (int i = 0; i < 3; ++i)
    for (int j = i + 1; j < 3; ++j)
      if (v[order[j]] > v[order[i]]) {
        int t = order[i];
        order[i] = order[j];
        order[j] = t;
      }
  int primary = 1 << order[0];
  int secondary = primary | (1 << order[1]);
  double wPrimary = v[order[0]] - v[order[1]];
  double wSecondary = v[order[1]] - v[order[2]];
  for (int c = 0; c < 3; ++c)
    out[c] = wPrimary * gCornerDelta[primary][c] + wSecondary * gCornerDelta[secondary][c];
}

void ForwardUncorrected(const double rgb[3], double lab[3]) {
  ModelLab(rgb, lab);
  lab[0] = GreyCurve(lab[0]);
}

void Forward(const double rgb[3], double lab[3]) {
  ForwardUncorrected(rgb, lab);
  double delta[3];
  CornerCorrection(rgb, delta);
  for (int c = 0; c < 3; ++c) lab[c] += delta[c];
}

// Unclipped inverse of Forward: undo the corner correction by fixed-point iteration.
void Inverse(const double lab[3], double rgb[3]) {
  double target[3] = {lab[0], lab[1], lab[2]};
  for (int iteration = 0; iteration < 60; ++iteration) {
    double delta[3];
    CornerCorrection(rgb, delta);
    double corrected[3] = {GreyCurveInverse(target[0] - delta[0]), target[1] - delta[1],
                           target[2] - delta[2]};
    ModelRgb(corrected, rgb);
  }
}

int ToByte(double v) {
  long n = std::lround(v);
  return n < 0 ? 0 : n > 255 ? 255 : int(n);
}

int NodeOffset(int i, int j, int k) { return 3 * (i + kSide * j + kSide * kSide * k); }

void BuildForward(uint8_t* cube) {
  for (int i = 0; i < kSide; ++i) {
    double grey[3] = {i / 15.0, i / 15.0, i / 15.0}, lab[3];
    ModelLab(grey, lab);
    gGreyModelL[i] = lab[0];
  }
  for (const Fixed& corner : kCorners) {
    double rgb[3], lab[3];
    int mask = 0;
    for (int c = 0; c < 3; ++c) {
      rgb[c] = corner.node[c] / 15.0;
      if (corner.node[c]) mask |= 1 << c;
    }
    ForwardUncorrected(rgb, lab);
    for (int c = 0; c < 3; ++c) gCornerDelta[mask][c] = corner.value[c] - lab[c];
  }
  for (int k = 0; k < kSide; ++k)
    for (int j = 0; j < kSide; ++j)
      for (int i = 0; i < kSide; ++i) {
        double rgb[3] = {i / 15.0, j / 15.0, k / 15.0}, lab[3];
        Forward(rgb, lab);
        for (int c = 0; c < 3; ++c) cube[NodeOffset(i, j, k) + c] = uint8_t(ToByte(lab[c]));
      }
}

int NodeIndex(int i, int j, int k) { return i + kSide * j + kSide * kSide * k; }

// The four nodes and weights of the tetrahedral lookup at p (in node units), as the glue
// modes' cube lookup walks them: base node, then one step along each axis in order of
// decreasing fraction.
void TetrahedralWeights(const double p[3], int nodes[4], double weights[4]) {
  int d[3];
  double f[3];
  for (int c = 0; c < 3; ++c) {
    double v = p[c] < 0 ? 0 : p[c] > kSide - 1 ? kSide - 1 : p[c];
    d[c] = int(v);
    if (d[c] > kSide - 2) d[c] = kSide - 2;
    f[c] = v - d[c];
  }
  int order[3] = {0, 1, 2};  // descending by fraction
  for (int i = 0; i < 3; ++i)
    for (int j = i + 1; j < 3; ++j)
      if (f[order[j]] > f[order[i]]) {
        int t = order[i];
        order[i] = order[j];
        order[j] = t;
      }
  nodes[0] = NodeIndex(d[0], d[1], d[2]);
  weights[0] = 1.0 - f[order[0]];
  for (int step = 0; step < 3; ++step) {
    ++d[order[step]];
    nodes[step + 1] = NodeIndex(d[0], d[1], d[2]);
    weights[step + 1] = f[order[step]] - (step < 2 ? f[order[step + 1]] : 0.0);
  }
}

// The forward cube's interpolated value at an RGB colour (0..255), in inverse-cube node
// units (byte / 17), which is where the inverse lookup of the glue modes samples.
void ForwardLookup(const uint8_t* forward, const double rgb[3], double lab[3]) {
  double p[3] = {rgb[0] / 17.0, rgb[1] / 17.0, rgb[2] / 17.0};
  int nodes[4];
  double weights[4];
  TetrahedralWeights(p, nodes, weights);
  for (int c = 0; c < 3; ++c) {
    double v = 0;
    for (int n = 0; n < 4; ++n) v += weights[n] * forward[3 * nodes[n] + c];
    lab[c] = v / 17.0;
  }
}

// The inverse cube starts as the exact (clipped) inverse of the continuous forward map at
// every node. Because the lookup interpolates between nodes, point samples of a curved
// map are not the best table: the nodes are then refined so that colours sent through
// the forward cube and back come closest to themselves (least squares over a grid of
// colours, by projected coordinate descent), with a weak pull toward the exact inverse
// that also settles nodes no colour reaches. The fixed nodes stay fixed and their
// neighbours adapt to them.
void BuildInverse(const uint8_t* forward, uint8_t* cube, double* meanError) {
  constexpr int kNodes = kSide * kSide * kSide;
  static double exact[kNodes][3], value[kNodes][3];
  static bool frozen[kNodes];
  for (int k = 0; k < kSide; ++k)
    for (int j = 0; j < kSide; ++j)
      for (int i = 0; i < kSide; ++i) {
        double lab[3] = {17.0 * i, 17.0 * j, 17.0 * k}, rgb[3] = {0.5, 0.5, 0.5};
        Inverse(lab, rgb);
        double* out = exact[NodeIndex(i, j, k)];
        for (int c = 0; c < 3; ++c) out[c] = 255.0 * (rgb[c] < 0 ? 0 : rgb[c] > 1 ? 1 : rgb[c]);
      }
  for (int n = 0; n < kNodes; ++n)
    for (int c = 0; c < 3; ++c) value[n][c] = exact[n][c];
  for (const Fixed& f : kInverseFixed) {
    int n = NodeIndex(f.node[0], f.node[1], f.node[2]);
    frozen[n] = true;
    for (int c = 0; c < 3; ++c) value[n][c] = f.value[c];
  }

  struct Sample {
    int nodes[4];
    double weights[4];
    double target[3];
    double residual[3];
  };
  const int levels = 65;  // 0, 4, ..., 252, 255
  static Sample samples[levels * levels * levels];
  int count = 0;
  for (int b = 0; b < levels; ++b)
    for (int g = 0; g < levels; ++g)
      for (int r = 0; r < levels; ++r) {
        Sample& s = samples[count++];
        s.target[0] = r == levels - 1 ? 255 : 4 * r;
        s.target[1] = g == levels - 1 ? 255 : 4 * g;
        s.target[2] = b == levels - 1 ? 255 : 4 * b;
        double lab[3];
        ForwardLookup(forward, s.target, lab);
        TetrahedralWeights(lab, s.nodes, s.weights);
      }
  // Per node, the samples that touch it.
  static int firstUse[kNodes + 1];
  static int uses[levels * levels * levels * 4][2];  // sample, slot
  for (int s = 0; s < count; ++s)
    for (int slot = 0; slot < 4; ++slot) ++firstUse[samples[s].nodes[slot] + 1];
  for (int n = 0; n < kNodes; ++n) firstUse[n + 1] += firstUse[n];
  static int fill[kNodes];
  for (int s = 0; s < count; ++s)
    for (int slot = 0; slot < 4; ++slot) {
      int n = samples[s].nodes[slot];
      int at = firstUse[n] + fill[n]++;
      uses[at][0] = s;
      uses[at][1] = slot;
    }
  for (int s = 0; s < count; ++s)
    for (int c = 0; c < 3; ++c) {
      double v = 0;
      for (int slot = 0; slot < 4; ++slot) v += samples[s].weights[slot] * value[samples[s].nodes[slot]][c];
      samples[s].residual[c] = samples[s].target[c] - v;
    }
  const double pull = 1.0;  // worth about one colour sample per node
  for (int sweep = 0; sweep < 400; ++sweep)
    for (int n = 0; n < kNodes; ++n) {
      if (frozen[n]) continue;
      for (int c = 0; c < 3; ++c) {
        double numerator = pull * (exact[n][c] - value[n][c]), denominator = pull;
        for (int u = firstUse[n]; u < firstUse[n + 1]; ++u) {
          const Sample& s = samples[uses[u][0]];
          double w = s.weights[uses[u][1]];
          numerator += w * s.residual[c];
          denominator += w * w;
        }
        double next = value[n][c] + numerator / denominator;
        next = next < 0 ? 0 : next > 255 ? 255 : next;
        double delta = next - value[n][c];
        value[n][c] = next;
        for (int u = firstUse[n]; u < firstUse[n + 1]; ++u) {
          Sample& s = samples[uses[u][0]];
          s.residual[c] -= s.weights[uses[u][1]] * delta;
        }
      }
    }
  double sum = 0;
  for (int s = 0; s < count; ++s)
    for (int c = 0; c < 3; ++c) sum += std::fabs(samples[s].residual[c]);
  *meanError = sum / (3.0 * count);
  for (int n = 0; n < kNodes; ++n)
    for (int c = 0; c < 3; ++c) cube[3 * n + c] = uint8_t(ToByte(value[n][c]));
}

bool CheckFixed(const uint8_t* cube, const Fixed& f, const char* what) {
  int at = NodeOffset(f.node[0], f.node[1], f.node[2]);
  bool ok = true;
  for (int c = 0; c < 3; ++c) ok = ok && cube[at + c] == f.value[c];
  if (!ok)
    std::printf("MISSED %s node (%d,%d,%d): %d %d %d\n", what, f.node[0], f.node[1], f.node[2],
                cube[at], cube[at + 1], cube[at + 2]);
  return ok;
}

void WriteTable(FILE* out, const char* name, const uint8_t* cube) {
  std::fprintf(out, "const uint8_t %s[kCubeBytes] = {\n", name);
  for (int i = 0; i < 3 * kSide * kSide * kSide; i += 24) {
    std::fprintf(out, "   ");
    for (int j = i; j < i + 24; ++j) std::fprintf(out, " %d,", cube[j]);
    std::fprintf(out, "\n");
  }
  std::fprintf(out, "};\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_colour_cubes <output.cpp>\n");
    return 2;
  }
  static uint8_t forward[3 * kSide * kSide * kSide];
  static uint8_t inverse[3 * kSide * kSide * kSide];
  BuildMatrix();
  BuildForward(forward);
  double meanError = 0;
  BuildInverse(forward, inverse, &meanError);

  bool ok = true;
  for (int i = 0; i < kSide; ++i) {
    Fixed grey = {{i, i, i}, {kGreyLevels[i], 128, 128}};
    ok = CheckFixed(forward, grey, "grey") && ok;
  }
  for (const Fixed& f : kCorners) ok = CheckFixed(forward, f, "corner") && ok;
  for (const Fixed& f : kInverseFixed) ok = CheckFixed(inverse, f, "inverse") && ok;
  double maxCorner = 0;
  for (const double* d : gCornerDelta)
    for (int c = 0; c < 3; ++c) maxCorner = std::fmax(maxCorner, std::fabs(d[c]));
  std::printf("largest corner correction %.3f, mean round-trip error %.3f levels\n", maxCorner,
              meanError);
  if (!ok) return 1;

  FILE* out = std::fopen(argv[1], "w");
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::fprintf(out,
               "// The colour cubes of the opponent-space glue modes (forward RGB -> L a* b*,\n"
               "// inverse L a* b* -> RGB). Generated by tools/make_colour_cubes.cpp: build it\n"
               "// natively (target make_colour_cubes) and run `make_colour_cubes\n"
               "// glue/colour_cubes.cpp`. Do not edit by hand.\n"
               "#include \"glue/colour_cubes.h\"\n\n");
  WriteTable(out, "kForwardCube", forward);
  std::fprintf(out, "\n");
  WriteTable(out, "kInverseCube", inverse);
  bool written = std::fclose(out) == 0;
  return written ? 0 : 1;
}
