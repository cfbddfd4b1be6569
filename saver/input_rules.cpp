#include "saver/input_rules.h"

namespace {

constexpr int32_t kMovesBeforeEnd = 3;

bool IsMouseButton(uint32_t Msg) {
  return Msg >= input_messages::kFirstMouseButton && Msg <= input_messages::kLastMouseButton;
}

}  // namespace

TInputVerdict JudgeInput(const TInputRules& Rules, const TMouseMoveState& Before, uint32_t Msg, uint32_t LParam) {
  using namespace input_messages;
  TInputVerdict verdict;
  const bool saving = Rules.Mode == ssmSaver;
  if (Msg == kMouseMove)
    verdict.VerifyAndTerminate = saving && Rules.TerminateOnMouseMove && Before.MouseMoveCount >= kMovesBeforeEnd;
  else if (IsMouseButton(Msg))
    verdict.VerifyAndTerminate = saving && Rules.TerminateOnMouseMove;
  else if (Msg == kKeyDown || Msg == kKeyUp)
    verdict.VerifyAndTerminate = saving && Rules.TerminateOnKeyDown;

  TMouseMoveState state = Before;
  if (verdict.VerifyAndTerminate) state.MouseMoveCount = 0;
  if (Msg == kMouseMove) {
    // Positions are unsigned 16-bit, as the message packs them.
    const int32_t x = static_cast<int32_t>(LParam & 0xFFFF);
    const int32_t y = static_cast<int32_t>(LParam >> 16);
    if ((x != state.LastMouseX || y != state.LastMouseY) && state.MouseMoveCount < kMovesBeforeEnd)
      ++state.MouseMoveCount;
    state.LastMouseX = x;
    state.LastMouseY = y;
  }
  verdict.After = state;
  return verdict;
}
