// The system's own texts, in the Japanese its users read. UTF-16, so they
// render whatever the user's code page is; texts from the package stay
// 8-bit and are converted where they reach a window.
#pragma once

// The screen-saver host's password-change errors.
namespace SaverTexts {

// Caption of both password-change error boxes.
inline constexpr char16_t kErrorCaption[] = u"エラー";
// The password-change library or its function is missing.
inline constexpr char16_t kPasswordDialogUnavailable[] = u"パスワードダイアログが表示できませんでした";
// The password-change function reported a failure.
inline constexpr char16_t kPasswordChangeFailed[] = u"パスワードの変更に失敗しました";

}  // namespace SaverTexts

// The caption and font of the player's forms: the main form's and the
// settings dialog's.
namespace FormTexts {

inline constexpr char16_t kCaption[] = u"plu:mex ScreenSaver";
inline constexpr char16_t kFontName[] = u"ＭＳ Ｐゴシック";

}  // namespace FormTexts

// The settings dialog: its own button, and the two address errors (filled
// in by FormatText, dialog/text_format.h).
namespace DialogTexts {

inline constexpr char16_t kCloseButton[] = u"閉じる(&C)";

// A "%" without two characters after it. Argument: the position.
inline constexpr char16_t kErrorDecodingURLText[] = u"URL 表記用エンコード（%%XX）文字列のエラー：位置 - %d";
// A "%" followed by two characters that are not hexadecimal digits.
// Arguments: the three characters, the position.
inline constexpr char16_t kInvalidURLEncodedChar[] = u"URL 表記エンコードでは許されない文字 (%0:s)：位置 - %1:d";

}  // namespace DialogTexts
