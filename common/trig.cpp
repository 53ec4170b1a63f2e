// The sine table of the extended-precision sine and cosine: sin(m pi / 128), m = 0 .. 64, as
// head + tail (cos(m pi / 128) is entry 64 - m).
#include "common/trig.h"

#include <cmath>

namespace qv {

namespace trig_detail {

const TwoPart kSinTable[65] = {
    {0x0p+0L, 0x0p+0L},
    {0xc90aafbd1b33efcap-69L, -0xeb1848d0097cc34fp-135L},
    {0xc8fb2f886ec09f37p-68L, 0xd42f2a9656f8a2e2p-133L},
    {0x96a9049670cfae66p-67L, -0x88a8bf6b2c3ca3bfp-135L},
    {0xc8bd35e14da15f0fp-67L, -0xe31a4ddad10231dcp-133L},
    {0xfab272b54b9871a2p-67L, 0xe08e535cadaf146ep-132L},
    {0x964083747309d113p-66L, 0xa89a11e07c1fe7f8p-142L},
    {0xaf10a22459fe32a6p-66L, 0xffbbceed62c7c432p-132L},
    {0xc7c5c1e34d3055b2p-66L, 0xb991801c9f99b0a0p-131L},
    {0xe05c1353f27b17e5p-66L, 0xebc61ade6ca83ccbp-134L},
    {0xf8cfcbd90af8d57ap-66L, 0x8443b8974ee4b31bp-131L},
    {0x888e93158fb3bb05p-65L, -0xcf7d5215599779f4p-130L},
    {0x94a03176acf82d46p-65L, -0xa368b1184b281159p-130L},
    {0xa09ae4a0bb300a19p-65L, 0xbe257d128c0f302cp-131L},
    {0xac7cd3ad58fee7f1p-65L, -0xfdc0d58cf6200f84p-130L},
    {0xb8442987d22cf577p-65L, -0xc678219317243890p-130L},
    {0xc3ef1535754b168dp-65L, 0xc48b0a967bf770dep-131L},
    {0xcf7bca1d476c516ep-65L, -0xafdade848aa53a38p-130L},
    {0xdae8804f0ae6015bp-65L, 0xd8b2e5d060b8c0c0p-131L},
    {0xe63374c98e22f0b4p-65L, 0xa1cb386ff1eb4733p-131L},
    {0xf15ae9c037b1d8f0p-65L, 0xd891d3c684161e3bp-130L},
    {0xfc5d26dfc4d5cfdap-65L, 0x9f01f2444a42e346p-131L},
    {0x839c3cc917ff6cb5p-64L, -0x8050d1d01aefea82p-129L},
    {0x88f59aa0da591422p-64L, -0x8eda6af93c4e6f68p-129L},
    {0x8e39d9cd73464365p-64L, -0x88b6602680156f31p-129L},
    {0x93682a66e896f545p-64L, -0x9d0fbcddc31c7d23p-129L},
    {0x987fbfe70b81a708p-64L, 0xce76422d643d2e33p-131L},
    {0x9d7fd1490285c9e4p-64L, -0xed0e355b4e3a8cc4p-131L},
    {0xa267992848eeb0c0p-64L, 0xed459fb8d6688d37p-130L},
    {0xa73655df1f2f489ep-64L, 0xa4fb73acc9a34515p-131L},
    {0xabeb49a46764fd15p-64L, 0xdf66d4044e0d4a61p-131L},
    {0xb085baa8e966f6dbp-64L, -0xd9a97f951b5a1973p-131L},
    {0xb504f333f9de6484p-64L, 0xb2fb1366ea957d3ep-129L},
    {0xb96841bf7ffcb21bp-64L, -0xc43c389ba8e81649p-129L},
    {0xbdaef913557d76f1p-64L, -0xa6f59be15ae52547p-129L},
    {0xc1d8705ffcbb6e91p-64L, -0x841f1d468e9be852p-129L},
    {0xc5e40358a8ba05a7p-64L, 0x87b44bb324ce64d6p-129L},
    {0xc9d1124c931fda7bp-64L, -0xf995b7c83d2d9bb5p-129L},
    {0xcd9f023f9c3a059ep-64L, 0x8ebcc76dc5e692a6p-130L},
    {0xd14d3d02313c0eedp-64L, 0xe89fd441d157df24p-129L},
    {0xd4db3148750d181ap-64L, -0x9cf17492537c1975p-132L},
    {0xd84852c0a80ffcdbp-64L, 0x92e7f80198d5d28fp-130L},
    {0xdb941a28cb71ec87p-64L, 0xb066d8c94f690fefp-130L},
    {0xdebe05637ca94cfbp-64L, 0x963354e3fd875cdap-129L},
    {0xe1c5978c05ed8692p-64L, -0xb1757c8d073a7f00p-132L},
    {0xe4aa5909a08fa7b4p-64L, 0x913c2d733faa8ae4p-131L},
    {0xe76bd7a1e63b9786p-64L, 0x92894a94ea454979p-131L},
    {0xea09a68a6e49cd62p-64L, 0xad6a2da50daf411ap-131L},
    {0xec835e79946a3145p-64L, 0xfcc20463583ac302p-129L},
    {0xeed89db66611e308p-64L, -0xf20e7be093369fcap-129L},
    {0xf1090827b43725fdp-64L, 0xce24fb66b650e62bp-129L},
    {0xf314476247088f75p-64L, -0xb56f2847754552bbp-129L},
    {0xf4fa0ab6316ed2ecp-64L, 0xb1e2e3f81db8c62bp-131L},
    {0xf6ba073b424b19e8p-64L, 0xb1e47d67307ff08bp-130L},
    {0xf853f7dc9186b953p-64L, -0xe148e52d9dddb916p-130L},
    {0xf9c79d63272c4628p-64L, 0x8a095c11a3365301p-129L},
    {0xfb14be7fbae58156p-64L, 0x85ca8d87f4a9c8bbp-130L},
    {0xfc3b27d38a5d49abp-64L, 0x959de3ff2d705da5p-130L},
    {0xfd3aabf84528b50cp-64L, -0xa8ca13571f12a213p-131L},
    {0xfe1323870cfe9a3ep-64L, -0xde65c4d4c4931622p-129L},
    {0xfec46d1e89292cf0p-64L, 0x82721dfb8e4dd3dfp-129L},
    {0xff4e6d680c41d0a9p-64L, 0xf668633f1ab85899p-132L},
    {0xffb10f1bcb6bef1dp-64L, 0x843d1db55eb28a7cp-129L},
    {0xffec4304266865d9p-64L, 0xacaeaa46cd2c2e65p-129L},
    {0x8000000000000000p-63L, 0x0p+0L},
};

}  // namespace trig_detail

// u = m 2^e with m in [sqrt(1/2), sqrt(2)), ln m = 2 atanh z = 2 (z + z^3/3 + z^5/5 + ...),
// z = (m - 1) / (m + 1), |z| <= 0.172, so 12 terms end below 1e-20.
double PortableLog(double u) {
    int exponent = 0;
    long double m = std::frexp(static_cast<long double>(u), &exponent);  // exact, [0.5, 1)
    if (m < 0.70710678118654752440L) m *= 2, exponent -= 1;
    const long double z = (m - 1) / (m + 1), z2 = z * z;
    long double series = 0;
    for (int k = 23; k >= 1; k -= 2) series = series * z2 + 1.0L / k;
    constexpr long double kLn2 = 0.693147180559945309417232121458176568L;
    return static_cast<double>(exponent * kLn2 + 2 * z * series);
}

// x = k ln2 + r, |r| <= ln2 / 2, with ln2 split so that k * kLn2High is exact; e^r by its Taylor
// series to r^14 / 14!, whose remainder is below 1e-18 there; 2^k applied exactly by ldexp.
double PortableExp(double x) {
    if (x < -745.2) return 0;
    if (x > 709.79) return HUGE_VAL;
    if (!(x == x)) return x;  // NaN
    constexpr double kInvLn2 = 1.44269504088896338700e+00;
    constexpr double kLn2High = 6.93147180369123816490e-01;
    constexpr double kLn2Low = 1.90821492927058770002e-10;
    const double k = std::floor(x * kInvLn2 + 0.5);
    const double r = (x - k * kLn2High) - k * kLn2Low;
    constexpr double kInverseFactorials[] = {1.0 / 6227020800.0,
                                             1.0 / 479001600.0,
                                             1.0 / 39916800.0,
                                             1.0 / 3628800.0,
                                             1.0 / 362880.0,
                                             1.0 / 40320.0,
                                             1.0 / 5040.0,
                                             1.0 / 720.0,
                                             1.0 / 120.0,
                                             1.0 / 24.0,
                                             1.0 / 6.0,
                                             1.0 / 2.0,
                                             1.0,
                                             1.0};
    double sum = 1.0 / 87178291200.0;  // 1/14!
    for (double c : kInverseFactorials) sum = sum * r + c;
    return std::ldexp(sum, static_cast<int>(k));
}

}  // namespace qv
