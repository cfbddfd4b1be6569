// Which input ends the saver: the mouse-move count, buttons and keys.
#include <gtest/gtest.h>

#include <vector>

#include "saver/input_rules.h"

namespace {

using namespace input_messages;

uint32_t Pos(uint32_t X, uint32_t Y) { return X | (Y << 16); }

// Feeds moves to Rules from a fresh state, as the host does (the state goes
// on only while nothing asked for the check); returns the index of the move
// that asked for it, or -1.
int FirstEndingMove(const TInputRules& Rules, const std::vector<uint32_t>& Positions) {
  TMouseMoveState state;
  for (size_t i = 0; i < Positions.size(); ++i) {
    const TInputVerdict v = JudgeInput(Rules, state, kMouseMove, Positions[i]);
    if (v.VerifyAndTerminate) return static_cast<int>(i);
    state = v.After;
  }
  return -1;
}

const TInputRules kSaver{ssmSaver, true, true};

}  // namespace

TEST(InputRules, FourthMoveAfterThreeNewPositionsEnds) {
  EXPECT_EQ(FirstEndingMove(kSaver, {Pos(1, 1), Pos(2, 2), Pos(3, 3), Pos(4, 4)}), 3);
  // The fourth may repeat the last position.
  EXPECT_EQ(FirstEndingMove(kSaver, {Pos(1, 1), Pos(2, 2), Pos(3, 3), Pos(3, 3)}), 3);
  // Repeats before that do not count; neither does a first move to (0, 0).
  EXPECT_EQ(FirstEndingMove(kSaver, {Pos(0, 0), Pos(5, 5), Pos(5, 5), Pos(6, 5), Pos(6, 5), Pos(6, 6), Pos(7, 7)}),
            6);
  // Going back to an earlier position is a change too.
  EXPECT_EQ(FirstEndingMove(kSaver, {Pos(9, 9), Pos(0, 0), Pos(9, 9), Pos(0, 0)}), 3);
  // Only x or only y changing counts.
  EXPECT_EQ(FirstEndingMove(kSaver, {Pos(1, 0), Pos(1, 1), Pos(2, 1), Pos(2, 1)}), 3);
}

TEST(InputRules, CountStopsAtThreeAndPositionsAreUnsigned) {
  TMouseMoveState state{3, 10, 10};
  // In a mode where moves never end the saver, the count still goes up,
  // but never past 3.
  const TInputRules none{ssmNone, true, true};
  TInputVerdict v = JudgeInput(none, state, kMouseMove, Pos(11, 10));
  EXPECT_FALSE(v.VerifyAndTerminate);
  EXPECT_EQ(v.After, (TMouseMoveState{3, 11, 10}));
  // A point left of or above the screen, packed as signed 16-bit values,
  // reads back as unsigned.
  v = JudgeInput(none, TMouseMoveState{}, kMouseMove, 0xFFFEFFFFu);
  EXPECT_EQ(v.After, (TMouseMoveState{1, 0xFFFF, 0xFFFE}));
  // Only the low 32 bits of lParam reach the rules; other messages leave
  // the state alone.
  v = JudgeInput(kSaver, TMouseMoveState{2, 4, 4}, 0x000F /* WM_PAINT */, Pos(9, 9));
  EXPECT_FALSE(v.VerifyAndTerminate);
  EXPECT_EQ(v.After, (TMouseMoveState{2, 4, 4}));
}

TEST(InputRules, ButtonsAndWheelEndAtOnceWhenMovesDo) {
  for (uint32_t msg = kFirstMouseButton; msg <= kLastMouseButton; ++msg) {
    EXPECT_TRUE(JudgeInput(kSaver, {}, msg, 0).VerifyAndTerminate) << std::hex << msg;
    EXPECT_FALSE(JudgeInput({ssmSaver, false, true}, {}, msg, 0).VerifyAndTerminate) << std::hex << msg;
  }
  // By their numbers: the left button's press and the wheel are the range's ends.
  for (uint32_t msg : {0x0201u, 0x0203u, 0x0207u, 0x020Au})
    EXPECT_TRUE(JudgeInput(kSaver, {}, msg, 0).VerifyAndTerminate) << std::hex << msg;
  // The extra buttons (WM_XBUTTONDOWN) and the horizontal wheel lie outside.
  EXPECT_FALSE(JudgeInput(kSaver, {}, 0x020B, 0).VerifyAndTerminate);
  EXPECT_FALSE(JudgeInput(kSaver, {}, 0x020E, 0).VerifyAndTerminate);
  // A button does not touch the position.
  EXPECT_EQ(JudgeInput({ssmSaver, false, true}, {2, 7, 8}, 0x0201, Pos(1, 1)).After, (TMouseMoveState{2, 7, 8}));
}

TEST(InputRules, KeyPressesAndReleasesEndWhenKeysDo) {
  for (uint32_t msg : {kKeyDown, kKeyUp}) {
    EXPECT_TRUE(JudgeInput(kSaver, {}, msg, 0).VerifyAndTerminate);
    EXPECT_FALSE(JudgeInput({ssmSaver, true, false}, {}, msg, 0).VerifyAndTerminate);
  }
  // Characters and system keys are not judged.
  for (uint32_t msg : {0x0102u, 0x0104u, 0x0105u}) EXPECT_FALSE(JudgeInput(kSaver, {}, msg, 0).VerifyAndTerminate);
}

TEST(InputRules, WithoutMoveRuleMovesNeverEndButStillCount) {
  const TInputRules rules{ssmSaver, false, true};
  EXPECT_EQ(FirstEndingMove(rules, {Pos(1, 1), Pos(2, 2), Pos(3, 3), Pos(4, 4), Pos(5, 5)}), -1);
  TMouseMoveState state;
  for (uint32_t i = 1; i <= 4; ++i) state = JudgeInput(rules, state, kMouseMove, Pos(i, i)).After;
  EXPECT_EQ(state, (TMouseMoveState{3, 4, 4}));
}

TEST(InputRules, OtherModesNeverEnd) {
  for (TScreenSaverMode mode : {ssmNone, ssmPassword, ssmConfig, ssmPreview}) {
    const TInputRules rules{mode, true, true};
    EXPECT_EQ(FirstEndingMove(rules, {Pos(1, 1), Pos(2, 2), Pos(3, 3), Pos(4, 4)}), -1) << int(mode);
    for (uint32_t msg : {kKeyDown, kKeyUp, kFirstMouseButton, kLastMouseButton})
      EXPECT_FALSE(JudgeInput(rules, {3, 1, 1}, msg, 0).VerifyAndTerminate) << int(mode);
  }
}

TEST(InputRules, AfterAFailedCheckTheCountStartsAgain) {
  // The move that asked for the check is counted from 0 when the saver
  // goes on: one more change of position.
  TInputVerdict v = JudgeInput(kSaver, TMouseMoveState{3, 5, 5}, kMouseMove, Pos(6, 5));
  EXPECT_TRUE(v.VerifyAndTerminate);
  EXPECT_EQ(v.After, (TMouseMoveState{1, 6, 5}));
  // At the same position it does not count.
  v = JudgeInput(kSaver, TMouseMoveState{3, 5, 5}, kMouseMove, Pos(5, 5));
  EXPECT_TRUE(v.VerifyAndTerminate);
  EXPECT_EQ(v.After, (TMouseMoveState{0, 5, 5}));
  // A key or a button that failed the check resets the count as well.
  v = JudgeInput(kSaver, TMouseMoveState{2, 5, 5}, kKeyDown, 0);
  EXPECT_TRUE(v.VerifyAndTerminate);
  EXPECT_EQ(v.After, (TMouseMoveState{0, 5, 5}));
  // So after a failed check three more changes are needed again.
  TMouseMoveState state = JudgeInput(kSaver, TMouseMoveState{3, 5, 5}, kMouseMove, Pos(6, 6)).After;
  for (uint32_t i = 7; i <= 8; ++i) {
    v = JudgeInput(kSaver, state, kMouseMove, Pos(i, i));
    EXPECT_FALSE(v.VerifyAndTerminate) << i;
    state = v.After;
  }
  EXPECT_TRUE(JudgeInput(kSaver, state, kMouseMove, Pos(8, 8)).VerifyAndTerminate);
}
