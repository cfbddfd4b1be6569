// The host component's own Japanese texts, as UTF-16 so they render
// whatever the user's code page is.
#pragma once

namespace SaverTexts {

// Caption of both password-change error boxes.
inline constexpr char16_t kErrorCaption[] = u"エラー";
// The password-change library or its function is missing.
inline constexpr char16_t kPasswordDialogUnavailable[] = u"パスワードダイアログが表示できませんでした";
// The password-change function reported a failure.
inline constexpr char16_t kPasswordChangeFailed[] = u"パスワードの変更に失敗しました";

}  // namespace SaverTexts
