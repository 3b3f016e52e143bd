#include "container/RSACompare.h"

#include <gtest/gtest.h>

#include "platform/foundation/Bytes.h"

using container::RSACompare::isEqualToRSAData;

TEST(RSACompare, SameNumberWhateverTheLeadingZeros) {
  pf::Bytes digest{0xab, 0x00, 0xcd};
  EXPECT_TRUE(isEqualToRSAData(pf::Bytes{0, 0, 0xab, 0x00, 0xcd}, digest));
  EXPECT_TRUE(isEqualToRSAData(digest, digest));
  // A digest that itself starts with a zero byte still matches its decrypted block.
  EXPECT_TRUE(isEqualToRSAData(pf::Bytes{0, 0, 0x01, 0x02}, pf::Bytes{0x00, 0x01, 0x02}));
  EXPECT_FALSE(isEqualToRSAData(pf::Bytes{0, 0xab, 0x00}, digest));
  EXPECT_FALSE(isEqualToRSAData(pf::Bytes{0xab, 0x00, 0xcd, 0x00}, digest));  // trailing zeros count
  EXPECT_FALSE(isEqualToRSAData(pf::Bytes{}, digest));
}
