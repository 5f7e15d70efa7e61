// The scene schedule and the captions' arithmetic.
#include <gtest/gtest.h>

#include "show/captions.h"
#include "show/schedule.h"

TEST(SceneSchedule, EveryBoundOfTheTableSwitchesScene) {
  struct Bound {
    int lastBeat, before, after;
  };
  for (const Bound b : {Bound{63, 1, 2}, Bound{127, 2, 3}, Bound{191, 3, 4}, Bound{287, 4, 5}, Bound{351, 5, 6},
                        Bound{415, 6, 7}, Bound{419, 7, 8}, Bound{485, 8, 9}}) {
    EXPECT_EQ(sceneForBeat(b.lastBeat), b.before) << "beat " << b.lastBeat;
    EXPECT_EQ(sceneForBeat(b.lastBeat + 1), b.after) << "beat " << b.lastBeat + 1;
  }
  EXPECT_EQ(sceneForBeat(0), 1);
  EXPECT_EQ(sceneForBeat(492), 9);
}

TEST(SceneSchedule, StarRingLevelIsContinuousAcrossItsScenesAndFadesToZero) {
  EXPECT_FLOAT_EQ(starRingLevel(7, 416.0f), 0.0f);
  EXPECT_FLOAT_EQ(starRingLevel(7, 420.0f), 0.3f);
  EXPECT_FLOAT_EQ(starRingLevel(8, 420.0f), 0.3f);
  EXPECT_FLOAT_EQ(starRingLevel(8, 485.9f), 0.3f);
  EXPECT_FLOAT_EQ(starRingLevel(9, 486.0f), 0.3f);
  EXPECT_FLOAT_EQ(starRingLevel(9, 492.0f), 0.0f);
  EXPECT_LT(starRingLevel(9, 492.25f), 0.0f);
}

TEST(Captions, OpeningLineSwitchesToTheSignOffAtBeat32) {
  EXPECT_STREQ(openingLine(0), "celebrate the scene");
  EXPECT_STREQ(openingLine(31), "celebrate the scene");
  EXPECT_STREQ(openingLine(32), "[f]elbrin tevola 2008");
  EXPECT_STREQ(openingLine(63), "[f]elbrin tevola 2008");
}

TEST(Captions, GreetingsFadeInRowByRowWithinTheirGroupWindows) {
  auto shown = [](float s) {
    std::string which;
    for (int i = 0; i < greetingCount; ++i)
      if (greetingBrightness(i, s) > 0) which += static_cast<char>('0' + i);
    return which;
  };
  EXPECT_EQ(shown(0), "");      // entry 0 starts at brightness 0
  EXPECT_EQ(shown(2), "0");
  EXPECT_EQ(shown(30), "234");
  EXPECT_EQ(shown(63), "7");
  EXPECT_EQ(shown(50), "4567");  // entry 0 would be back without its group window
  EXPECT_EQ(shown(10), "012");   // and entry 7, without its own
  EXPECT_NEAR(greetingBrightness(0, 12.0f), 0.5f, 1e-4f);
  EXPECT_EQ(greetingBrightness(1, 4.0f), 0.0f);  // exactly 0 is not drawn
}

TEST(Captions, GreetingTextsAreShortLowerCaseNamesOfTheGivenLengths) {
  const int lengths[greetingCount] = {14, 5, 11, 4, 9, 3, 14, 10};
  for (int i = 0; i < greetingCount; ++i) {
    const std::string text = greetingTexts[i];
    EXPECT_EQ(static_cast<int>(text.size()), lengths[i]) << text;
    for (char c : text) EXPECT_TRUE(c >= 32 && c < 127 && !(c >= 'A' && c <= 'Z')) << text;
  }
}
