#include "masking/messages.h"

#include <cstdio>
#include <cstring>

#include "masking/memory.h"
#include "masking/message_sink.h"

namespace masking {

// Every text is spelled out byte for byte in code page 932, whatever the
// compiler's execution character set; the comment above each shows it.
// 対象のXDW文書を選択してから実行してください。
const char kSelectDocumentsText[] =
    "\x91\xCE\x8F\xDB\x82\xCC\x58\x44\x57\x95\xB6\x8F\x91\x82\xF0\x91"
    "\x49\x91\xF0\x82\xB5\x82\xC4\x82\xA9\x82\xE7\x8E\xC0\x8D\x73\x82"
    "\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81\x42";
// エラーのため中止します。
const char kStoppedText[] =
    "\x83\x47\x83\x89\x81\x5B\x82\xCC\x82\xBD\x82\xDF\x92\x86\x8E\x7E"
    "\x82\xB5\x82\xDC\x82\xB7\x81\x42";
// マスキング処理を終了しました。
const char kFinishedText[] =
    "\x83\x7D\x83\x58\x83\x4C\x83\x93\x83\x4F\x8F\x88\x97\x9D\x82\xF0"
    "\x8F\x49\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42";
// DocuWorksがインストールされていません。
const char kNotInstalledText[] =
    "\x44\x6F\x63\x75\x57\x6F\x72\x6B\x73\x82\xAA\x83\x43\x83\x93\x83"
    "\x58\x83\x67\x81\x5B\x83\x8B\x82\xB3\x82\xEA\x82\xC4\x82\xA2\x82"
    "\xDC\x82\xB9\x82\xF1\x81\x42";
// 指定された操作をする権利がありません。
const char kNoRightText[] =
    "\x8E\x77\x92\xE8\x82\xB3\x82\xEA\x82\xBD\x91\x80\x8D\xEC\x82\xF0"
    "\x82\xB7\x82\xE9\x8C\xA0\x97\x98\x82\xAA\x82\xA0\x82\xE8\x82\xDC"
    "\x82\xB9\x82\xF1\x81\x42";
// 指定されたファイルが見つかりません。
const char kFileNotFoundText[] =
    "\x8E\x77\x92\xE8\x82\xB3\x82\xEA\x82\xBD\x83\x74\x83\x40\x83\x43"
    "\x83\x8B\x82\xAA\x8C\xA9\x82\xC2\x82\xA9\x82\xE8\x82\xDC\x82\xB9"
    "\x82\xF1\x81\x42";
// 指定されたファイルを開くことができません。
const char kCannotOpenText[] =
    "\x8E\x77\x92\xE8\x82\xB3\x82\xEA\x82\xBD\x83\x74\x83\x40\x83\x43"
    "\x83\x8B\x82\xF0\x8A\x4A\x82\xAD\x82\xB1\x82\xC6\x82\xAA\x82\xC5"
    "\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x81\x42";
// 指定されたファイルは正しいフォーマットではありません。
const char kBadFormatText[] =
    "\x8E\x77\x92\xE8\x82\xB3\x82\xEA\x82\xBD\x83\x74\x83\x40\x83\x43"
    "\x83\x8B\x82\xCD\x90\xB3\x82\xB5\x82\xA2\x83\x74\x83\x48\x81\x5B"
    "\x83\x7D\x83\x62\x83\x67\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82\xDC"
    "\x82\xB9\x82\xF1\x81\x42";
// 指定されたファイルはすでに存在します。
const char kFileExistsText[] =
    "\x8E\x77\x92\xE8\x82\xB3\x82\xEA\x82\xBD\x83\x74\x83\x40\x83\x43"
    "\x83\x8B\x82\xCD\x82\xB7\x82\xC5\x82\xC9\x91\xB6\x8D\xDD\x82\xB5"
    "\x82\xDC\x82\xB7\x81\x42";
// エラーが発生しました。
const char kErrorText[] =
    "\x83\x47\x83\x89\x81\x5B\x82\xAA\x94\xAD\x90\xB6\x82\xB5\x82\xDC"
    "\x82\xB5\x82\xBD\x81\x42";
// ページにマスクできない部分がありました。
const char kUnmaskablePageText[] =
    "\x83\x79\x81\x5B\x83\x57\x82\xC9\x83\x7D\x83\x58\x83\x4E\x82\xC5"
    "\x82\xAB\x82\xC8\x82\xA2\x95\x94\x95\xAA\x82\xAA\x82\xA0\x82\xE8"
    "\x82\xDC\x82\xB5\x82\xBD\x81\x42";

const char* HostErrorText(HostResult code) {
  switch (code) {
    case kHostNotInstalled:
      return kNotInstalledText;
    case kHostNoRight:
      return kNoRightText;
    case kHostFileNotFound:
      return kFileNotFoundText;
    case kHostAccessDenied:
    case kHostBadName:
    case kHostCannotOpen:
      return kCannotOpenText;
    case kHostBadFormat:
      return kBadFormatText;
    case kHostFileExists:
      return kFileExistsText;
    default:
      return kErrorText;
  }
}

void ShowHostError(HostResult code) { ShowMessage(HostErrorText(code)); }

void ShowUnmaskablePage(std::int32_t page, const char* path) {
  char number[16];
  std::snprintf(number, sizeof(number), "%d", static_cast<int>(page));
  const std::size_t numberLength = std::strlen(number);
  const std::size_t textLength = std::strlen(kUnmaskablePageText);
  const std::size_t pathLength = std::strlen(path);
  const std::size_t total = numberLength + textLength + 1 + pathLength + 1;
  char* message = static_cast<char*>(AllocateBlock(total + 1));
  if (message == nullptr) {
    // Too little memory for the path: the page is still worth naming.
    char shortMessage[sizeof(number) + sizeof(kUnmaskablePageText)];
    std::snprintf(shortMessage, sizeof(shortMessage), "%s%s", number, kUnmaskablePageText);
    ShowMessage(shortMessage);
    return;
  }
  // The path is copied byte for byte, never read as a format.
  char* end = message;
  std::memcpy(end, number, numberLength);
  end += numberLength;
  std::memcpy(end, kUnmaskablePageText, textLength);
  end += textLength;
  *end++ = '(';
  std::memcpy(end, path, pathLength);
  end += pathLength;
  *end++ = ')';
  *end = '\0';
  ShowMessage(message);
  ReleaseBlock(message);
}

}  // namespace masking
