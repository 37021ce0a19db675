// Tests of the normal drag kernel: fixed geometric cases whose answers are
// known in closed form, the degenerate references, which must come out
// exactly, a randomized comparison with an independent long double
// rotation, and millions of random cases against the step-by-step form in
// hostsim/expected_drag.h.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <ostream>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "hostsim/expected_drag.h"
#include "kernel/drag.h"
#include "kernel/vector.h"

namespace kerrowbend {
namespace {

constexpr double kPi = std::numbers::pi;

std::string str(Vector v) {
  std::ostringstream out;
  out.precision(17);
  out << "(" << v.x << ", " << v.y << ", " << v.z << ")";
  return out.str();
}

std::string describeDrag(Vector n, Vector r, double w) {
  std::ostringstream out;
  out.precision(17);
  out << "dragNormal(N = " << str(n) << ", R = " << str(r) << ", weight = " << w << ")";
  return out.str();
}

std::string scientific(double x) {
  std::ostringstream out;
  out.precision(3);
  out << std::scientific << x;
  return out.str();
}

Vector scaled(Vector v, double s) { return {v.x * s, v.y * s, v.z * s}; }

// The step-by-step form works in the vectors of everything outside the
// module.
hostsim::Vec3 outside(Vector v) { return {v.x, v.y, v.z}; }
Vector inside(const hostsim::Vec3 &v) { return {v[0], v[1], v[2]}; }

double distance(Vector a, Vector b) { return length({a.x - b.x, a.y - b.y, a.z - b.z}); }

// Passes when the two vectors lie within tol of each other; a NaN anywhere
// fails, so the message always shows both vectors in full precision.
::testing::AssertionResult vectorsNear(const char *actualExpr, const char *expectedExpr,
                                       const char *tolExpr, Vector actual, Vector expected,
                                       double tol) {
  const double gap = distance(actual, expected);
  if (gap <= tol) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << actualExpr << " = " << str(actual) << "\n"
         << expectedExpr << " = " << str(expected) << "\n"
         << "are " << gap << " apart, more than " << tolExpr << " = " << tol;
}

#define EXPECT_VECTOR_NEAR(actual, expected, tol) \
  EXPECT_PRED_FORMAT3(vectorsNear, actual, expected, tol)

#define ASSERT_VECTOR_NEAR(actual, expected, tol) \
  ASSERT_PRED_FORMAT3(vectorsNear, actual, expected, tol)

#define EXPECT_VECTOR_EQ(actual, expected) EXPECT_PRED_FORMAT3(vectorsNear, actual, expected, 0.0)
#define ASSERT_VECTOR_EQ(actual, expected) ASSERT_PRED_FORMAT3(vectorsNear, actual, expected, 0.0)

Vector randomUnit(std::mt19937_64 &rng) {
  std::normal_distribution<double> gauss;
  for (;;) {
    const Vector v{gauss(rng), gauss(rng), gauss(rng)};
    if (length(v) > 1e-3) return normalized(v);
  }
}

// 10 to a uniformly drawn power in [lo, hi].
double logUniform(std::mt19937_64 &rng, double lo, double hi) {
  return std::pow(10.0, std::uniform_real_distribution<double>(lo, hi)(rng));
}

double uniform(std::mt19937_64 &rng, double lo, double hi) {
  return std::uniform_real_distribution<double>(lo, hi)(rng);
}

// ---------------------------------------------------------------------------
// rotateAboutAxis

struct AxisRotationCase {
  Vector v;
  Vector axis;
  double angle;
  Vector expected;
};

void PrintTo(const AxisRotationCase &c, std::ostream *out) {
  *out << "v = " << str(c.v) << ", axis = " << str(c.axis) << ", angle = " << c.angle;
}

class RotateAboutAxisTest : public ::testing::TestWithParam<AxisRotationCase> {};

TEST_P(RotateAboutAxisTest, TurnsByNegatedAngleAboutNormalisedAxis) {
  const AxisRotationCase &c = GetParam();
  EXPECT_VECTOR_NEAR(rotateAboutAxis(c.v, c.axis, c.angle), c.expected, 1e-15)
      << ::testing::PrintToString(c);
}

// A quarter turn by -angle right-hand: x goes to -y about z, y to -z about x,
// z to -x about y. The axis length must not matter, and the component along
// the axis stays put.
INSTANTIATE_TEST_SUITE_P(
    QuarterTurns, RotateAboutAxisTest,
    ::testing::Values(AxisRotationCase{{1, 0, 0}, {0, 0, 1}, kPi / 2, {0, -1, 0}},
                      AxisRotationCase{{0, 1, 0}, {1, 0, 0}, kPi / 2, {0, 0, -1}},
                      AxisRotationCase{{0, 0, 1}, {0, 1, 0}, kPi / 2, {-1, 0, 0}},
                      AxisRotationCase{{1, 0, 0}, {0, 0, 1}, -kPi / 2, {0, 1, 0}},
                      AxisRotationCase{{1, 0, 0}, {0, 0, 5e-3}, kPi / 2, {0, -1, 0}},
                      AxisRotationCase{{1, 0, 0}, {0, 0, -7}, kPi / 2, {0, 1, 0}},
                      // Axes whose squared length underflows or overflows.
                      AxisRotationCase{{1, 0, 0}, {0, 0, 1e-320}, kPi / 2, {0, -1, 0}},
                      AxisRotationCase{{1, 0, 0}, {0, 0, 1e-200}, kPi / 2, {0, -1, 0}},
                      AxisRotationCase{{1, 0, 0}, {0, 0, -1e300}, kPi / 2, {0, 1, 0}},
                      AxisRotationCase{{0, 1, 0}, {3e-200, 0, 4e-200}, kPi, {0, -1, 0}},
                      AxisRotationCase{{2, 0, 3}, {0, 0, 1}, kPi / 2, {0, -2, 3}},
                      AxisRotationCase{{1, 0, 0}, {0, 0, 1}, kPi, {-1, 0, 0}}));

TEST(RotateAboutAxis, ScalesExactlyByCosineSquaredOfHalfAngleWhenAxisIsZero) {
  const Vector v{0.3, -1.2, 2.5};
  for (const double angle : {0.0, 0.4, kPi / 2, kPi, 2.5, -1.0, 2 * kPi}) {
    const double c = std::cos(angle / 2);
    EXPECT_VECTOR_EQ(rotateAboutAxis(v, {0, 0, 0}, angle), scaled(v, c * c)) << "angle = " << angle;
  }
}

// ---------------------------------------------------------------------------
// dragNormal on fixed cases

struct DragCase {
  Vector n;
  Vector r;
  double w;
  Vector expected;
};

void PrintTo(const DragCase &c, std::ostream *out) { *out << describeDrag(c.n, c.r, c.w); }

class DragNormalTest : public ::testing::TestWithParam<DragCase> {};

TEST_P(DragNormalTest, MatchesClosedForm) {
  const DragCase &c = GetParam();
  EXPECT_VECTOR_NEAR(dragNormal(c.n, c.r, c.w), c.expected, 1e-15) << ::testing::PrintToString(c);
}

// Where the axis is zero the normal is not turned at all, only scaled by
// cos^2(angle / 2) (by 1 when the angle is 0), and that comes out exactly.
class DegenerateDragTest : public ::testing::TestWithParam<DragCase> {};

TEST_P(DegenerateDragTest, MatchesClosedFormExactly) {
  const DragCase &c = GetParam();
  EXPECT_VECTOR_EQ(dragNormal(c.n, c.r, c.w), c.expected) << ::testing::PrintToString(c);
}

// N = +z toward R = +x turns in the xz plane by weight * 90 degrees, so the
// result is (sin(w pi/2), 0, cos(w pi/2)): weights past 1 overshoot the
// reference and negative weights turn away from it.
DragCase quarterArc(double w, Vector r = {1, 0, 0}) {
  return {{0, 0, 1}, r, w, {std::sin(w * kPi / 2), 0, std::cos(w * kPi / 2)}};
}

INSTANTIATE_TEST_SUITE_P(
    TurnsAlongGreatCircle, DragNormalTest,
    ::testing::Values(
        DragCase{{0, 0, 1}, {1, 0, 0}, 1.0, {1, 0, 0}},
        DragCase{{0, 0, 1}, {1, 0, 0}, 0.5, {std::sqrt(0.5), 0, std::sqrt(0.5)}},
        DragCase{{0, 0, 1}, {1, 0, 0}, 0.0, {0, 0, 1}}, quarterArc(0.25), quarterArc(1.5),
        quarterArc(2.0), quarterArc(3.0), quarterArc(-0.5), quarterArc(-1.0),
        quarterArc(0.5, {1e-4, 0, 0}), quarterArc(1.0, {250, 0, 0}),
        // N = +y toward +z, and a longer N keeps its length.
        DragCase{{0, 1, 0}, {0, 0, 1}, 1.0, {0, 0, 1}},
        DragCase{{0, 3, 0}, {0, 0, -2}, 0.5, {0, 3 * std::sqrt(0.5), -3 * std::sqrt(0.5)}}));

// The degenerate references: equal, opposite and zero.
INSTANTIATE_TEST_SUITE_P(ReferenceEqualToNormal, DegenerateDragTest,
                         ::testing::Values(DragCase{{0, 0, 1}, {0, 0, 1}, 1.0, {0, 0, 1}},
                                           DragCase{{0, 0, 1}, {0, 0, 1}, 0.5, {0, 0, 1}},
                                           DragCase{{0, 0, 1}, {0, 0, 1}, -3.0, {0, 0, 1}},
                                           DragCase{{0, 0, 1}, {0, 0, 4}, 7.0, {0, 0, 1}}));

// With R = -N the axis is zero and the angle is pi * w, so N shrinks by
// cos^2(pi w / 2) instead of turning; at weight 1 it is all but zero.
DragCase oppositeReference(double w) {
  const double c = std::cos(kPi * w / 2);
  return {{0, 0, 1}, {0, 0, -1}, w, {0, 0, c * c}};
}

INSTANTIATE_TEST_SUITE_P(ReferenceOppositeNormal, DegenerateDragTest,
                         ::testing::Values(oppositeReference(0.0), oppositeReference(0.25),
                                           oppositeReference(0.5), oppositeReference(1.0),
                                           oppositeReference(1.5), oppositeReference(-0.5)));

// A zero R is left unnormalised, so the dot product is 0, the angle
// (pi / 2) * w, and N shrinks by cos^2(pi w / 4): half its length at weight 1.
DragCase zeroReference(Vector n, double w) {
  const double c = std::cos(kPi * w / 4);
  return {n, {0, 0, 0}, w, scaled(n, c * c)};
}

INSTANTIATE_TEST_SUITE_P(ZeroReference, DegenerateDragTest,
                         ::testing::Values(zeroReference({0, 0, 1}, 1.0),
                                           zeroReference({0, 0, 1}, 0.5),
                                           zeroReference({0.6, -0.8, 0}, 1.0),
                                           zeroReference({0.6, -0.8, 0}, 2.0),
                                           zeroReference({1, 2, 3}, -1.0)));

TEST(DragNormal, OppositeReferenceAtWeightOneLeavesAlmostNothingButNotExactZero) {
  const Vector result = dragNormal({0, 0, 1}, {0, 0, -1}, 1.0);
  EXPECT_EQ(result.x, 0.0);
  EXPECT_EQ(result.y, 0.0);
  EXPECT_GT(result.z, 0.0);
  EXPECT_LT(result.z, 1e-32);
}

TEST(DragNormal, WeightZeroReturnsNormalExactly) {
  std::mt19937_64 rng(20240611);
  std::uniform_real_distribution<double> len(0.1, 10.0);
  for (int i = 0; i < 1000; ++i) {
    const Vector n = scaled(randomUnit(rng), len(rng));
    const Vector r = scaled(randomUnit(rng), len(rng));
    ASSERT_VECTOR_EQ(dragNormal(n, r, 0.0), n) << describeDrag(n, r, 0.0);
  }
}

// Down to a subnormal length and up to near the largest double: the squared
// length underflows or overflows from 1e-160 and 1e160 on.
TEST(DragNormal, ReferenceLengthDoesNotMatter) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 200; ++i) {
    const Vector n = randomUnit(rng);
    const Vector unitR = randomUnit(rng);
    const Vector atUnit = dragNormal(n, unitR, 0.7);
    for (const double scale : {1e-310, 1e-200, 1e-160, 1e-6, 0.3, 2.0, 1e6, 1e160, 1e200, 1e300}) {
      const Vector r = scaled(unitR, scale);
      EXPECT_VECTOR_NEAR(dragNormal(n, r, 0.7), atUnit, 1e-12) << describeDrag(n, r, 0.7);
    }
    if (HasFailure()) return;
  }
}

// At the very ends of the double range: a component at the largest finite
// double, whose square overflows at once, or at the smallest subnormal,
// whose square is 0, still gives the reference's own direction.
TEST(DragNormal, ReferenceAtTheEndsOfTheDoubleRangeActsAsItsUnitVector) {
  constexpr double kMax = std::numeric_limits<double>::max();
  constexpr double kTiny = std::numeric_limits<double>::denorm_min();
  const struct {
    Vector reference;
    Vector direction;
  } cases[] = {
      {{kMax, 0, 0}, {1, 0, 0}},         {{0, -kMax, 0}, {0, -1, 0}},
      {{kMax, kMax, -kMax}, {1, 1, -1}}, {{kTiny, 0, 0}, {1, 0, 0}},
      {{0, kTiny, -kTiny}, {0, 1, -1}},
  };
  const Vector n = normalized({0.3, -0.2, 0.9});
  for (const auto &c : cases) {
    EXPECT_VECTOR_NEAR(dragNormal(n, c.reference, 0.6), dragNormal(n, c.direction, 0.6), 1e-12)
        << describeDrag(n, c.reference, 0.6);
  }
}

// The normal is used as given, so its length enters the dot product: a tiny
// normal's is 0 and a huge one's clamps to +-1, as for any normal of length
// 1e-20 or 1e20. The axis is still a unit vector however long the normal,
// so the normal turns (keeping its length) rather than merely shrinking.
TEST(DragNormal, NormalOfExtremeLengthTurnsLikeOneOfModerateLength) {
  std::mt19937_64 rng(11);
  for (int i = 0; i < 200; ++i) {
    const Vector unitN = randomUnit(rng);
    const Vector r = randomUnit(rng);
    const double w = uniform(rng, -1.5, 2.5);
    for (const double extreme : {1e-310, 1e-200, 1e-160, 1e160, 1e200, 1e300}) {
      const double moderate = extreme < 1.0 ? 1e-20 : 1e20;
      const Vector n = scaled(unitN, extreme);
      EXPECT_VECTOR_NEAR(dragNormal(n, r, w) / extreme,
                         dragNormal(scaled(unitN, moderate), r, w) / moderate, 1e-12)
          << describeDrag(n, r, w);
    }
    if (HasFailure()) return;
  }
}

// A unit N dotted with its own normalised copy can round to just above 1;
// the clamp keeps that at angle 0 instead of NaN, and N comes back exactly.
// Just below 1, acos still gives an angle of about 1.5e-8, so the result
// sits that close to N.
TEST(DragNormal, UnitNormalDraggedTowardItselfStaysPut) {
  std::mt19937_64 rng(12345);
  int roundedAboveOne = 0;
  for (int i = 0; i < 20000; ++i) {
    const Vector n = randomUnit(rng);
    const bool aboveOne = dot(n, normalized(n)) > 1.0;
    if (aboveOne) ++roundedAboveOne;
    for (const double w : {1.0, 0.5, 2.0, -1.0}) {
      const Vector result = dragNormal(n, n, w);
      if (aboveOne) {
        ASSERT_VECTOR_EQ(result, n) << describeDrag(n, n, w);
      } else {
        ASSERT_VECTOR_NEAR(result, n, 4e-8 * std::abs(w)) << describeDrag(n, n, w);
      }
    }
  }
  // The case the clamp exists for must actually have been exercised.
  EXPECT_GT(roundedAboveOne, 0);
}

TEST(DragNormal, LongNormalAlongReferenceComesBackUnchanged) {
  for (const double w : {0.0, 0.5, 1.0, -1.0, 3.0}) {
    EXPECT_VECTOR_EQ(dragNormal({0, 0, 2}, {0, 0, 1}, w), (Vector{0, 0, 2}))
        << describeDrag({0, 0, 2}, {0, 0, 1}, w);
  }
}

TEST(DragNormal, NotANumberInAnyInputGivesNotANumberRatherThanCrashing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Inputs {
    Vector n, r;
    double w;
  };
  for (const Inputs &in : {Inputs{{nan, 0, 1}, {1, 0, 0}, 1.0}, Inputs{{0, 0, 1}, {0, nan, 0}, 1.0},
                           Inputs{{0, 0, 1}, {1, 0, 0}, nan}}) {
    const Vector result = dragNormal(in.n, in.r, in.w);
    EXPECT_TRUE(std::isnan(result.x) && std::isnan(result.y) && std::isnan(result.z))
        << describeDrag(in.n, in.r, in.w) << " = " << str(result);
  }
}

// ---------------------------------------------------------------------------
// Random cases against the step-by-step form (hostsim/expected_drag.h)

// Unoptimised sanitizer builds run many times slower and draw fewer cases.
#ifdef KERROWBEND_FEWER_RANDOM_CASES
constexpr int kCasesPerFamily = 100000;
#else
constexpr int kCasesPerFamily = 500000;
#endif

struct DragInputs {
  Vector n;
  Vector r;
  double w;
};

// A family of random inputs. Each stresses a different way a rearranged
// kernel can drift from the step-by-step form.
struct OracleFamily {
  const char *name;
  DragInputs (*draw)(std::mt19937_64 &rng);
};

void PrintTo(const OracleFamily &family, std::ostream *out) { *out << family.name; }

const OracleFamily kOracleFamilies[] = {
    {"AnyDirections",
     [](std::mt19937_64 &rng) {
       return DragInputs{randomUnit(rng), scaled(randomUnit(rng), logUniform(rng, -6, 6)),
                         uniform(rng, -2, 3)};
     }},
    // acos is steep near 1 and the axis is mostly rounding, so the dot
    // product and the cross product must round as they did step by step.
    {"ReferenceNearlyAlongNormal",
     [](std::mt19937_64 &rng) {
       const Vector n = randomUnit(rng);
       const Vector r = n + scaled(randomUnit(rng), logUniform(rng, -18, -1));
       return DragInputs{n, scaled(r, logUniform(rng, -3, 3)), uniform(rng, -2, 3)};
     }},
    {"ReferenceNearlyOppositeNormal",
     [](std::mt19937_64 &rng) {
       const Vector n = randomUnit(rng);
       const Vector r = -n + scaled(randomUnit(rng), logUniform(rng, -18, -1));
       return DragInputs{n, scaled(r, logUniform(rng, -3, 3)), uniform(rng, -2, 3)};
     }},
    // The axis is rounding alone, or zero.
    {"ReferenceExactlyAlongOrOpposite",
     [](std::mt19937_64 &rng) {
       const Vector n = randomUnit(rng);
       const double side = rng() % 2 == 0 ? 1.0 : -1.0;
       return DragInputs{n, scaled(n, side * logUniform(rng, -3, 3)), uniform(rng, -2, 3)};
     }},
    // Zero, and lengths whose square underflows (down to subnormal lengths)
    // or overflows.
    {"ZeroTinyOrHugeReference",
     [](std::mt19937_64 &rng) {
       const Vector n = randomUnit(rng);
       const double lengths[] = {0.0, logUniform(rng, -315, -150), logUniform(rng, 150, 307)};
       return DragInputs{n, scaled(randomUnit(rng), lengths[rng() % 3]), uniform(rng, -2, 3)};
     }},
    // Half angles far outside one turn.
    {"LargeWeights",
     [](std::mt19937_64 &rng) {
       return DragInputs{randomUnit(rng), scaled(randomUnit(rng), logUniform(rng, -3, 3)),
                         uniform(rng, -1e4, 1e4)};
     }},
    // The normal is used as given; a long one lying close to the reference
    // has a dot product past 1, which the clamp turns into angle 0.
    {"NormalNotOfUnitLength",
     [](std::mt19937_64 &rng) {
       const Vector n = scaled(randomUnit(rng), uniform(rng, 0.25, 4.0));
       const Vector r =
           rng() % 2 == 0 ? randomUnit(rng) : n + scaled(randomUnit(rng), logUniform(rng, -12, 0));
       return DragInputs{n, scaled(r, logUniform(rng, -3, 3)), uniform(rng, -2, 3)};
     }},
};

class DragMatchesStepByStepTest : public ::testing::TestWithParam<OracleFamily> {};

TEST_P(DragMatchesStepByStepTest, AgreesToFourteenDecimalPlaces) {
  std::mt19937_64 rng(0x6f7261636c65ULL);
  double worstError = 0.0;
  std::string worst;
  for (int i = 0; i < kCasesPerFamily; ++i) {
    const DragInputs in = GetParam().draw(rng);
    const Vector got = dragNormal(in.n, in.r, in.w);
    const Vector expected = inside(hostsim::expected::drag(outside(in.n), outside(in.r), in.w));
    const double error = distance(got, expected) / std::max(1.0, length(in.n));
    if (!(error <= worstError)) {
      worstError = error;
      worst = describeDrag(in.n, in.r, in.w) + " = " + str(got) + ", step by step " + str(expected);
    }
  }
  RecordProperty("worst_error", scientific(worstError));
  EXPECT_LE(worstError, 1e-14) << "worst case: " << worst;
}

INSTANTIATE_TEST_SUITE_P(Families, DragMatchesStepByStepTest, ::testing::ValuesIn(kOracleFamilies),
                         [](const auto &info) { return std::string(info.param.name); });

// Any axis, of any length including zero and lengths whose square
// underflows or overflows, and angles over several turns.
TEST(RotateAboutAxis, MatchesStepByStep) {
  std::mt19937_64 rng(0x61786973ULL);
  double worstError = 0.0;
  std::string worst;
  for (int i = 0; i < kCasesPerFamily; ++i) {
    const Vector v = randomUnit(rng);
    const Vector axis =
        rng() % 8 == 0 ? Vector{0, 0, 0} : scaled(randomUnit(rng), logUniform(rng, -315, 307));
    const double angle = uniform(rng, -20, 20);
    const double error =
        distance(rotateAboutAxis(v, axis, angle),
                 inside(hostsim::expected::rotateAboutAxis(outside(v), outside(axis), angle)));
    if (!(error <= worstError)) {
      worstError = error;
      worst = "v = " + str(v) + ", axis = " + str(axis) + ", angle = " + std::to_string(angle);
    }
  }
  RecordProperty("worst_error", scientific(worstError));
  EXPECT_LE(worstError, 1e-14) << "worst case: " << worst;
}

// ---------------------------------------------------------------------------
// Randomized comparison with an independent rotation

struct LongVector {
  long double x, y, z;
};

long double dotL(LongVector a, LongVector b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

LongVector crossL(LongVector a, LongVector b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

struct ReferenceDrag {
  Vector result;
  long double dot;       // N . R/|R|, before clamping
  long double axisSine;  // |R/|R| x N| / |N|: small when N and R are nearly parallel
};

// The drag by Rodrigues' formula in long double: N turned toward R about the
// unit axis u = (R x N)/|R x N| by -angle (right-hand), i.e.
// N cos a - (u x N) sin a + u (u . N)(1 - cos a).
ReferenceDrag referenceDrag(Vector n, Vector r, double w) {
  const LongVector N{n.x, n.y, n.z};
  LongVector R{r.x, r.y, r.z};
  const long double rLen = std::sqrt(dotL(R, R));
  R = {R.x / rLen, R.y / rLen, R.z / rLen};
  const long double d = dotL(N, R);
  const long double a = std::acos(std::clamp(d, -1.0L, 1.0L)) * w;
  const LongVector axis = crossL(R, N);
  const long double axisLen = std::sqrt(dotL(axis, axis));
  const LongVector u{axis.x / axisLen, axis.y / axisLen, axis.z / axisLen};
  const LongVector uxN = crossL(u, N);
  const long double c = std::cos(a), s = std::sin(a), along = dotL(u, N) * (1 - c);
  const Vector result{static_cast<double>(N.x * c - uxN.x * s + u.x * along),
                      static_cast<double>(N.y * c - uxN.y * s + u.y * along),
                      static_cast<double>(N.z * c - uxN.z * s + u.z * along)};
  return {result, d, axisLen / std::sqrt(dotL(N, N))};
}

TEST(DragNormal, AgreesWithLongDoubleRodriguesRotation) {
  std::mt19937_64 rng(0x6b65726e656cULL);
  std::uniform_real_distribution<double> nLength(0.5, 2.0);
  std::uniform_real_distribution<double> rLogLength(-3.0, 3.0);
  std::uniform_real_distribution<double> weight(-1.5, 2.5);
  constexpr int kCases = 20000;
  int compared = 0;
  double worstError = -1.0;
  std::string worst;
  for (int i = 0; i < kCases; ++i) {
    const Vector n = scaled(randomUnit(rng), nLength(rng));
    const Vector r = scaled(randomUnit(rng), std::pow(10.0, rLogLength(rng)));
    const double w = weight(rng);
    const ReferenceDrag ref = referenceDrag(n, r, w);
    // Near-parallel N and R leave the axis direction to rounding, and a dot
    // product near +-1 makes acos (or the clamp) amplify the last bit; both
    // are ill-conditioned problems, not faults of the kernel.
    if (ref.axisSine < 1e-2 || std::abs(1 - std::abs(ref.dot)) < 1e-4) continue;
    ++compared;
    const Vector got = dragNormal(n, r, w);
    const double error = distance(got, ref.result) / length(n);
    if (!(error <= worstError)) {
      worstError = error;
      worst = describeDrag(n, r, w) + " = " + str(got) + ", long double rotation gives " +
              str(ref.result);
    }
  }
  EXPECT_GT(compared, kCases * 9 / 10);
  EXPECT_LE(worstError, 1e-12) << "worst case: " << worst;
}

}  // namespace
}  // namespace kerrowbend
