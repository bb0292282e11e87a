#include "masking/messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "tests/support/documents.h"

namespace {

// Each code the host may answer with has its own text; every other code,
// refusals included, gets the general one.
TEST(HostErrorText, PicksTheTextByExactCode) {
  const std::pair<std::uint32_t, const char*> table[] = {
      {0x80040001u, "DocuWorksがインストールされていません。"},
      {0x80040003u, "指定された操作をする権利がありません。"},
      {0x80070002u, "指定されたファイルが見つかりません。"},
      {0x80070005u, "指定されたファイルを開くことができません。"},
      {0x8007007Bu, "指定されたファイルを開くことができません。"},
      {0x800E0005u, "指定されたファイルを開くことができません。"},
      {0x8007000Bu, "指定されたファイルは正しいフォーマットではありません。"},
      {0x80070050u, "指定されたファイルはすでに存在します。"},
      {0x80070003u, "エラーが発生しました。"},
      {0x80040002u, "エラーが発生しました。"},
      {0x80004005u, "エラーが発生しました。"},
      {0x8007000Eu, "エラーが発生しました。"},
      {0x80070057u, "エラーが発生しました。"},
      {0x00000000u, "エラーが発生しました。"},
  };
  for (const auto& [code, text] : table) {
    EXPECT_EQ(masking::HostErrorText(static_cast<HostResult>(code)), testdoc::Cp932(text))
        << std::hex << code;
  }
}

}  // namespace
