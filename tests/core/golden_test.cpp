// Whole runs held to the byte: the SHA-256 of both result files and of the
// summary's figures for a few scenarios over a frozen copy of the inputs
// (tests/golden/data, which later changes of the bundled default leave as it
// is). A change that is not meant to change the model's output must leave
// every digest as it is. After an intended change of the output, run the
// test with DRIVANTO_GOLDEN_PRINT=1 to see the new digests.

#include <cstdlib>
#include <iostream>

#include "base/Sha256.h"
#include "batch_harness.h"

namespace drivanto::testing {
namespace {

struct Golden {
  const char* name;
  Args args;
  const char* result1;
  const char* result2;
  const char* summary;
};

// The summary keys whose values are part of the model's output (the timing
// keys and keys added later stay out of the digest).
const char* const kSummaryKeys[] = {"endReason", "steps",     "ttot",        "ltot",
                                    "height",    "fuelUsed",  "medelforbr",  "CO",
                                    "NOx",       "HC",        "COPerMil",    "NOxPerMil",
                                    "HCPerMil",  "netEnergy", "driveEnergy", "usedCapacity"};

std::string SummaryDigest(const std::map<std::string, std::string>& json) {
  std::string text;
  for (const char* key : kSummaryKeys) {
    auto it = json.find(key);
    text += std::string(key) + "=" + (it == json.end() ? "<none>" : it->second) + "\n";
  }
  return Sha256Hex(text);
}

class GoldenRun : public ::testing::TestWithParam<Golden> {};

TEST_P(GoldenRun, ResultFilesAndSummaryKeepTheirDigests) {
  const Golden& g = GetParam();
  BatchFolder f(DRIVANTO_GOLDEN_DATA_DIR);
  auto json = f.RunJson(g.args);
  const std::string r1 = Sha256Hex(f.Read("RESULT1.TXT"));
  const std::string r2 = Sha256Hex(f.Read("RESULT2.TXT"));
  const std::string sum = SummaryDigest(json);
  if (std::getenv("DRIVANTO_GOLDEN_PRINT")) {
    std::cout << "{\"" << g.name << "\", ..., \"" << r1 << "\",\n \"" << r2 << "\",\n \"" << sum
              << "\"},\n";
  }
  EXPECT_EQ(r1, g.result1) << "result file 1 of " << g.name;
  EXPECT_EQ(r2, g.result2) << "result file 2 of " << g.name;
  EXPECT_EQ(sum, g.summary) << "summary of " << g.name << " (steps " << json["steps"] << ", ttot "
                            << json["ttot"] << ")";
}

const Golden kGolden[] = {
    {"UddsFixedStep", TimeCycle("UDDS.CYK", "0.04") + Set({"Spara=1100"}),
     "773b2ee86b686953125555a982a63f2ae9400399f5f2e6945e305189811622c7",
     "61753d6a0ec253602ee6c2decf135824f84fe871cae67609653ab7317b2ffe27",
     "b1b7dccaa34e6cb6afb1ae9a3c9c6bdd65fca939215d1a28766f97bf88180006"},
    {"HwfetFixedStep", TimeCycle("HWFET.CYK", "0.04") + Set({"Spara=1100"}),
     "41316df23be5a32d9cad89f0390e3235e33e4847c574f6e8ce0a2c9c8393eb65",
     "bcb32e3dddf454005b544cab4330cd7d7b7b6635d4a106f86d132871bed7d63f",
     "50fa66162d6dfa5fbd3a6a444bdcb7001023a75f3ac6cbe11e48ca429f996011"},
    {"KartaBundled", Set({"Spara=1100"}),
     "b67866830e6af08bfdbaef3cd9a51d381b713869854ab69e954b066a5e33efb3",
     "faf444dd69d687b7f807934e4df6b4b87087deb78ad4aed1775d13db6cb8c69f",
     "01af7235f1bf2a43250050fabf5d6992b19f4d169eee50d41c5e6759f8c971c6"},
    {"TidBundled", Set({"cycleType=T", "Ttidd=TID.CYK", "Spara=1100"}),
     "11aa0f32166a48c762ea1b5ff849ef696d64f859ee359efce01689cbb9a307ad",
     "ee3c34bc0bbbc30bd0e642142e109872662be818498b42842ce867b5d42b7460",
     "e1c13f80a679e4aef0b00ed43ed338af24b1fc389cf5e7b53bea9b4cc5850e2a"},
    {"UddsChargingForced",
     TimeCycle("UDDS.CYK", "0.04") + Set({"chargeOnLimit=5", "chargeOffLimit=1", "Spara=110M"}),
     "0c4344c014adedf3cc8e5ef6b7c2d884e632a41337b28b60747d61d3cbddb35e",
     "5f014a48e7faceea04ccf2fa8b67b855314c99bc2751ff651d428769adfdfdc1",
     "e846c8826708bab9948907e93d1fa429071faec5bc0e0d457b5a08f1d9830b0c"},
    // The map cycle taken over by hand: current and power control, cruise
    // control, brake, steering into the road's curves, slope, charging by
    // hand, the mouse, and the cycle taking over again.
    {"KartaDrivenByHand",
     Set({"Spara=1100", "fullTime=400"}) +
         Keys({{300, "8"},
               {301, "8"},
               {302, "8"},
               {400, "P"},
               {401, "P"},
               {500, ">"},
               {501, ">"},
               {700, "0"},
               {720, "5"},
               {800, "4"},
               {830, "9"},
               {900, "L"},
               {901, "L"},
               {1000, "+"},
               {1500, "M"},
               {2000, "-"},
               {2200, "space"},
               {2400, "F"},
               {3000, "p"}}) +
         Args{"--mouse", "1500:320,100", "--mouse", "1700:200,300", "--mouse", "1900:500,250"},
     "7a84ee4a897a137636f48d2e6a9ddef782cac58a84d1146ec6c3190740669e64",
     "3646975607d5004495d44f9d7bd8bdf942c018c69d153dcd24a3d21b05d25cec",
     "4ad0057601c8d871188aeb7b0ddeb84b22c41cb0d749ea99d3fb0e83028a7b87"},
};

INSTANTIATE_TEST_SUITE_P(Scenarios, GoldenRun, ::testing::ValuesIn(kGolden),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Sha256, KnownDigests) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  // Fed in uneven pieces across block boundaries: the same digest as at once.
  std::string million(1000000, 'a');
  Sha256 sha;
  for (std::size_t i = 0; i < million.size();) {
    std::size_t n = std::min<std::size_t>(1 + i % 97, million.size() - i);
    sha.Update(std::string_view(million).substr(i, n));
    i += n;
  }
  EXPECT_EQ(sha.HexDigest(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
}  // namespace drivanto::testing
