#include <gtest/gtest.h>

#include "core/text_format.h"

TEST(TextFormat, GrowsPastAnyFixedBuffer) {
  std::string name(5000, 'x');
  EXPECT_EQ(kurv::formatText("%s!", name.c_str()).size(), 5001u);
}
