#include <gtest/gtest.h>
#include "resources/embedded.h"
TEST(EmbeddedTrack, SizeMatchesTheCompileTimeConstant) {
  EXPECT_EQ(embeddedTrackEnd - embeddedTrack, embeddedTrackSize);
}
